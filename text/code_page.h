// Text conversions of the portable registry.
//
// The registry stores names and string data as UTF-16, as Windows does; the
// narrow ("A") calls see them in the system code page, which in the native build
// is Windows-1252. Like the Windows single-byte conversions, one narrow byte is
// one UTF-16 code unit both ways, so sizes convert by a factor of exactly two; a
// code unit that Windows-1252 cannot show becomes '?'.
//
// UTF-8 is what files and terminals speak: .reg text handed to tests, the change
// listing of the native host. Malformed UTF-8 or a lone surrogate becomes U+FFFD.
#pragma once

#include <string>
#include <string_view>

namespace qz {

char16_t Windows1252ToUtf16(unsigned char c);
// '?' when the code unit has no Windows-1252 byte.
char Utf16ToWindows1252(char16_t c);
// As the system's own conversion does it (WideCharToMultiByte without
// WC_NO_BEST_FIT_CHARS, and advapi32's narrow calls): a code unit without a
// Windows-1252 byte becomes its best-fit byte where the code page has one (L for
// Ł, A for a fullwidth A, / for the fraction slash), else '?' (Cyrillic, CJK,
// each half of a surrogate pair).
char Utf16ToWindows1252BestFit(char16_t c);

std::u16string NarrowToWide(std::string_view text);
std::string WideToNarrow(std::u16string_view text);
std::string WideToNarrowBestFit(std::u16string_view text);

std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// The exact conversions, for text that must arrive unchanged (paths, names and
// values the module writes): false, with out untouched, when the input is not
// well-formed (malformed or overlong UTF-8, a lone surrogate), instead of
// carrying a replacement character into the registry.
bool Utf8ToUtf16Exact(std::string_view text, std::u16string& out);
bool Utf16ToUtf8Exact(std::u16string_view text, std::string& out);

}  // namespace qz
