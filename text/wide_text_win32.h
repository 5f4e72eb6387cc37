// UTF-8 text as the wide strings of the Windows API, and back. On Windows a
// wchar_t is a UTF-16 code unit, so the conversion is the UTF-16 one.
#pragma once

#include <string>

#include "text/code_page.h"

namespace qz {

inline std::wstring Utf8ToWide(const std::string& utf8) {
    const std::u16string wide = Utf8ToUtf16(utf8);
    return std::wstring(wide.begin(), wide.end());
}

inline std::string WideToUtf8(const std::wstring& wide) {
    return Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

}  // namespace qz
