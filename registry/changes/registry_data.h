// Typed registry data read as values: the texts of string data, the strings of
// a multi-string, the numbers of REG_DWORD and REG_QWORD, and any data as hex.
// Data is read only as far as its size says: a string without its
// terminating NUL, or an odd last byte, is read as far as it goes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "registry/api/win32_types.h"

namespace qz {

// REG_SZ, REG_EXPAND_SZ: the text up to the first NUL, as a program reading
// the value sees it.
std::u16string StringOfData(const std::vector<BYTE>& data);

// REG_SZ, REG_EXPAND_SZ: every code unit but the NULs that end the data, so
// that a report shows what lies after an inner NUL too.
std::u16string WholeStringOfData(const std::vector<BYTE>& data);

// REG_MULTI_SZ: the strings up to the empty one that ends the list; a last
// string without its NUL counts.
std::vector<std::u16string> MultiStringOfData(const std::vector<BYTE>& data);

// The number in the first `width` bytes, little-endian (fewer when the data is shorter).
std::uint64_t LittleEndianNumber(const std::vector<BYTE>& data, std::size_t width);

// REG_DWORD, REG_QWORD: the number, when the data has exactly its size.
std::optional<std::uint32_t> DwordOfData(const std::vector<BYTE>& data);
std::optional<std::uint64_t> QwordOfData(const std::vector<BYTE>& data);

// Two hex digits a byte, no separators.
enum class HexCase { Lower, Upper };
std::string HexOfData(const std::vector<BYTE>& data, HexCase letters);

// "REG_SZ", "REG_DWORD", ... ("0x1f" for a type without a name).
std::string RegistryTypeName(DWORD type);

}  // namespace qz
