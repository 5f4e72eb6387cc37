#include "registry/changes/registry_data.h"

#include <algorithm>
#include <cstdio>

#include "text/utf16_data.h"

namespace qz {

std::u16string StringOfData(const std::vector<BYTE>& data) { return Utf16TextOfData(data.data(), data.size()); }

std::u16string WholeStringOfData(const std::vector<BYTE>& data) {
    std::u16string text = Utf16OfData(data.data(), data.size());
    while (!text.empty() && text.back() == u'\0') text.pop_back();
    return text;
}

std::vector<std::u16string> MultiStringOfData(const std::vector<BYTE>& data) {
    std::vector<std::u16string> strings;
    const std::u16string text = Utf16OfData(data.data(), data.size());
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find(u'\0', start);
        const std::size_t stop = end == std::u16string::npos ? text.size() : end;
        if (stop == start) break;  // the empty string that ends the list
        strings.push_back(text.substr(start, stop - start));
        start = stop + 1;
    }
    return strings;
}

std::uint64_t LittleEndianNumber(const std::vector<BYTE>& data, std::size_t width) {
    std::uint64_t number = 0;
    for (std::size_t i = std::min(width, data.size()); i > 0; --i) number = (number << 8) | data[i - 1];
    return number;
}

std::optional<std::uint32_t> DwordOfData(const std::vector<BYTE>& data) {
    if (data.size() != 4) return std::nullopt;
    return static_cast<std::uint32_t>(LittleEndianNumber(data, 4));
}

std::optional<std::uint64_t> QwordOfData(const std::vector<BYTE>& data) {
    if (data.size() != 8) return std::nullopt;
    return LittleEndianNumber(data, 8);
}

std::string HexOfData(const std::vector<BYTE>& data, HexCase letters) {
    const char* const digits = letters == HexCase::Upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string hex;
    hex.reserve(data.size() * 2);
    for (BYTE b : data) {
        hex.push_back(digits[b >> 4]);
        hex.push_back(digits[b & 0xF]);
    }
    return hex;
}

std::string RegistryTypeName(DWORD type) {
    switch (type) {
        case REG_NONE: return "REG_NONE";
        case REG_SZ: return "REG_SZ";
        case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
        case REG_BINARY: return "REG_BINARY";
        case REG_DWORD: return "REG_DWORD";
        case REG_DWORD_BIG_ENDIAN: return "REG_DWORD_BIG_ENDIAN";
        case REG_LINK: return "REG_LINK";
        case REG_MULTI_SZ: return "REG_MULTI_SZ";
        case REG_QWORD: return "REG_QWORD";
        default: break;
    }
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(type));
    return text;
}

}  // namespace qz
