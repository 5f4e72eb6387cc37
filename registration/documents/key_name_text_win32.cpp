#include "registration/documents/key_name_text.h"

#include <windows.h>

namespace qz {

std::string NarrowKeyName(const std::u16string& name) {
    if (name.empty()) return std::string();
    const wchar_t* wide = reinterpret_cast<const wchar_t*>(name.data());
    const int wideLength = static_cast<int>(name.size());
    const int length = ::WideCharToMultiByte(CP_ACP, 0, wide, wideLength, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return std::string();
    std::string narrow(static_cast<std::string::size_type>(length), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, wide, wideLength, &narrow[0], length, nullptr, nullptr);
    return narrow;
}

}  // namespace qz
