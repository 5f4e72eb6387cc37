#include "registration/documents/key_name_text.h"

namespace qz {
namespace {

// Windows-1252 bytes 0x80 to 0x9F; 0 marks the five bytes the code page leaves unassigned.
const char16_t kWindows1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

char Windows1252Byte(char16_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
    for (int i = 0; i < 32; ++i) {
        if (kWindows1252High[i] != 0 && kWindows1252High[i] == c) return static_cast<char>(0x80 + i);
    }
    return '?';
}

}  // namespace

std::string NarrowKeyName(const std::u16string& name) {
    std::string narrow;
    narrow.reserve(name.size());
    for (std::u16string::size_type i = 0; i < name.size(); ++i) {
        const char16_t c = name[i];
        // A surrogate pair is one character outside the code page: one '?', not two.
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < name.size() && name[i + 1] >= 0xDC00 && name[i + 1] <= 0xDFFF)
            ++i;
        narrow += Windows1252Byte(c);
    }
    return narrow;
}

}  // namespace qz
