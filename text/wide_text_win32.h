// UTF-8 text as the wide strings of the Windows API, and back. On Windows a
// wchar_t is a UTF-16 code unit, so the conversion is the UTF-16 one.
//
// The registry layer keeps UTF-16 as char16_t, which the Windows API spells
// wchar_t: AsWide and AsUtf16 view the same code units as the other type, without
// a copy. This is the one place that reinterprets the one as the other.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "text/code_page.h"

namespace qz {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "a wchar_t is a UTF-16 code unit");

inline const wchar_t* AsWide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
inline wchar_t* AsWide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }

inline std::u16string_view AsUtf16(const wchar_t* text, std::size_t length) {
    return std::u16string_view(reinterpret_cast<const char16_t*>(text), length);
}

inline std::wstring Utf8ToWide(const std::string& utf8) {
    const std::u16string wide = Utf8ToUtf16(utf8);
    return std::wstring(wide.begin(), wide.end());
}

inline std::string WideToUtf8(const std::wstring& wide) {
    return Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

}  // namespace qz
