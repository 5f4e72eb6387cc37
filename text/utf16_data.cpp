#include "text/utf16_data.h"

#include <string>

#include "text/code_page.h"

namespace qz {

std::u16string Utf16OfData(const unsigned char* data, std::size_t size) {
    std::u16string text;
    text.reserve(size / 2);
    for (std::size_t i = 0; i + 1 < size; i += 2) text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    return text;
}

std::u16string Utf16TextOfData(const unsigned char* data, std::size_t size) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (c == u'\0') break;
        text.push_back(c);
    }
    return text;
}

std::vector<unsigned char> Utf16Data(std::u16string_view text, bool terminate) {
    std::vector<unsigned char> data;
    data.reserve((text.size() + 1) * 2);
    for (char16_t c : text) {
        data.push_back(static_cast<unsigned char>(c & 0xFF));
        data.push_back(static_cast<unsigned char>(c >> 8));
    }
    if (terminate) data.insert(data.end(), {0, 0});
    return data;
}

std::u16string CodePageTextOfData(const unsigned char* data, std::size_t size) {
    std::string narrow;
    for (std::size_t i = 0; i < size && data[i] != 0; ++i) narrow.push_back(static_cast<char>(data[i]));
    return NarrowToWide(narrow);
}

}  // namespace qz
