// Registry data read as text.
//
// The registry hands string data over as bytes: UTF-16 code units, little-endian,
// for the wide calls. Those bytes are not always NUL-terminated (binary data, or a
// string that fills the buffer exactly), may end in half a code unit, and may hold
// more after a NUL; these read them as far as their size says, never further.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qz {

// Every whole code unit of the bytes, NULs included.
std::u16string Utf16OfData(const unsigned char* data, std::size_t size);

// The code units up to the first NUL: the text a string value holds, or the
// first string of a multi-string.
std::u16string Utf16TextOfData(const unsigned char* data, std::size_t size);

// Text as the registry's string data: its code units little-endian, and a
// terminating NUL unless terminate is false.
std::vector<unsigned char> Utf16Data(std::u16string_view text, bool terminate = true);

// The bytes up to the first NUL as text in the system code page: how data of a
// type that is not a string reads as text.
std::u16string CodePageTextOfData(const unsigned char* data, std::size_t size);

}  // namespace qz
