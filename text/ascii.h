// ASCII letters without regard to case, and hex digits: for the names and words
// the product compares the way Windows compares ASCII names (file names,
// registry paths, switches). Letters outside ASCII are left as they are, so
// the result never depends on the C library's locale.
#pragma once

#include <string>
#include <string_view>

namespace qz {

inline char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
inline char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// The text with its ASCII letters in upper case.
inline std::string AsciiUpper(std::string text) {
    for (char& c : text) c = AsciiUpper(c);
    return text;
}

inline bool AsciiEqualIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

inline bool AsciiEndsWithIgnoringCase(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && AsciiEqualIgnoringCase(text.substr(text.size() - tail.size()), tail);
}

// The value of a hex digit (either case), -1 for any other character. Takes
// any code unit: char, char16_t and char32_t text alike.
inline int HexDigitValue(char32_t c) {
    if (c >= U'0' && c <= U'9') return static_cast<int>(c - U'0');
    if (c >= U'a' && c <= U'f') return static_cast<int>(c - U'a' + 10);
    if (c >= U'A' && c <= U'F') return static_cast<int>(c - U'A' + 10);
    return -1;
}

}  // namespace qz
