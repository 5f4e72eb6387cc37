// The narrow operations of any registry, built on its wide ones the way
// advapi32 builds its "A" calls on the "W" calls: names and paths convert from
// the code page to UTF-16, string data converts both ways (one narrow byte per
// UTF-16 code unit, so sizes halve and double), and a character the code page
// cannot show comes back as its best-fit byte or as '?'. Key paths longer than
// MAX_PATH fail, as they do through advapi32.
#include <cstring>
#include <vector>

#include "tests/support/narrow_registry.h"
#include "text/code_page.h"

namespace qz {
namespace {

constexpr LONG kErrorNoAccess = 998;          // ERROR_NOACCESS: a size without a buffer
constexpr REGSAM kMaximumAllowed = 0x02000000u;
// advapi32 converts a narrow key path into the thread's static UTF-16 buffer of
// MAX_PATH characters and a NUL: a longer path fails with ERROR_MORE_DATA before
// the registry sees it, however short each of its names. The wide calls take
// paths of any length, and a walk that opens each key from its parent's handle
// never meets the limit.
constexpr std::size_t kMaxNarrowKeyPathLength = 260;

bool NarrowKeyPathTooLong(const char* path) {
    return path != nullptr && std::strlen(path) > kMaxNarrowKeyPathLength;
}

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

std::u16string Wide(const char* text) { return NarrowToWide(text != nullptr ? text : ""); }

std::vector<BYTE> WideBytes(std::u16string_view text) {
    std::vector<BYTE> bytes(text.size() * 2);
    for (std::size_t i = 0; i < text.size(); ++i) {
        bytes[2 * i] = static_cast<BYTE>(text[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<BYTE>(text[i] >> 8);
    }
    return bytes;
}

// Stored UTF-16 string data as the code page sees it: one byte per code unit
// (an odd last byte, which no code unit holds, is dropped).
std::string NarrowOfWideData(const std::vector<BYTE>& data) {
    std::string narrow(data.size() / 2, '\0');
    for (std::size_t i = 0; i < narrow.size(); ++i)
        narrow[i] = Utf16ToWindows1252BestFit(static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8)));
    return narrow;
}

// A value's type and whole data through the wide query, however large it is.
// The first read uses a buffer of the size the caller's narrow buffer implies,
// so that a value that fits takes one call, as it does through advapi32.
LONG ReadWideValue(RegistryApi& registry, HKEY key, const char16_t* name, DWORD narrowCapacity, DWORD& type,
                   std::vector<BYTE>& data) {
    DWORD size = narrowCapacity * 2 + 2;
    for (;;) {
        data.assign(size, 0);
        DWORD got = size;
        const LONG status = registry.QueryValueExW(key, name, &type, data.data(), &got);
        if (status == ERROR_SUCCESS) {
            data.resize(got);
            return ERROR_SUCCESS;
        }
        if (status != ERROR_MORE_DATA || got <= size) return status;
        size = got;
    }
}

// Copies value data into a caller's buffer the way the narrow query and
// enumeration calls do. *reported receives the size the caller is told.
LONG CopyNarrowData(DWORD type, const std::vector<BYTE>& wideData, BYTE* data, DWORD* size, DWORD* reported) {
    if (IsStringType(type)) {
        const std::string narrow = NarrowOfWideData(wideData);
        const DWORD length = static_cast<DWORD>(narrow.size());
        *reported = length;
        if (data == nullptr || length == 0) return ERROR_SUCCESS;
        if (length > *size) return ERROR_MORE_DATA;
        std::memcpy(data, narrow.data(), length);
        // Stored without a terminator: the narrow calls add one when the buffer has room.
        if (length < *size && data[length - 1] != 0) data[length] = 0;
        return ERROR_SUCCESS;
    }
    const DWORD length = static_cast<DWORD>(wideData.size());
    *reported = length;
    if (data == nullptr) return ERROR_SUCCESS;
    if (length > *size) return ERROR_MORE_DATA;
    if (length != 0) std::memcpy(data, wideData.data(), length);
    return ERROR_SUCCESS;
}

}  // namespace

LONG NarrowRegistry::CreateKeyEx(HKEY root, const char* path, DWORD options, REGSAM access, HKEY* out) {
    if (NarrowKeyPathTooLong(path)) return ERROR_MORE_DATA;
    if (path == nullptr) return CreateKeyExW(root, nullptr, options, access, out);
    return CreateKeyExW(root, Wide(path).c_str(), options, access, out);
}

LONG NarrowRegistry::OpenKeyEx(HKEY root, const char* path, REGSAM access, HKEY* out) {
    if (NarrowKeyPathTooLong(path)) return ERROR_MORE_DATA;
    if (path == nullptr) return OpenKeyExW(root, nullptr, access, out);
    return OpenKeyExW(root, Wide(path).c_str(), access, out);
}

LONG NarrowRegistry::OpenKey(HKEY root, const char* path, HKEY* out) {
    if (out == nullptr) return ERROR_INVALID_PARAMETER;
    // No path gives back the very handle passed in.
    if (path == nullptr || *path == '\0') {
        *out = root;
        return ERROR_SUCCESS;
    }
    if (NarrowKeyPathTooLong(path)) return ERROR_MORE_DATA;
    return OpenKeyExW(root, Wide(path).c_str(), kMaximumAllowed, out);
}

LONG NarrowRegistry::SetValueEx(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size) {
    if (data == nullptr && size != 0) return kErrorNoAccess;
    const std::u16string wideName = Wide(name);
    if (!IsStringType(type)) return SetValueExW(key, wideName.c_str(), type, data, size);
    const std::vector<BYTE> wideData =
        WideBytes(NarrowToWide(std::string_view(reinterpret_cast<const char*>(data), size)));
    return SetValueExW(key, wideName.c_str(), type, wideData.data(), static_cast<DWORD>(wideData.size()));
}

LONG NarrowRegistry::QueryValueEx(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size) {
    if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
    DWORD storedType = REG_NONE;
    std::vector<BYTE> wideData;
    const LONG status =
        ReadWideValue(wide(), key, Wide(name).c_str(), data != nullptr ? *size : 0, storedType, wideData);
    if (status != ERROR_SUCCESS) return status;
    DWORD reported = 0;
    const LONG copied = CopyNarrowData(storedType, wideData, data, size, &reported);
    if (type != nullptr) *type = storedType;
    if (size != nullptr) *size = reported;
    return copied;
}

LONG NarrowRegistry::QueryInfoKey(HKEY key, char* className, DWORD* classLen, DWORD* subKeys, DWORD* values) {
    const LONG status = QueryInfoKeyW(key, subKeys, values);
    if (status != ERROR_SUCCESS) return status;
    // The module's keys never carry a class: it is always the empty text.
    if (className != nullptr && classLen != nullptr && *classLen > 0) className[0] = '\0';
    if (classLen != nullptr) *classLen = 0;
    return ERROR_SUCCESS;
}

LONG NarrowRegistry::EnumKeyEx(HKEY key, DWORD index, char* name, DWORD* nameLen) {
    if (name == nullptr || nameLen == nullptr) return ERROR_INVALID_PARAMETER;
    char16_t wide[kMaxKeyNameLength + 1];
    DWORD wideLength = kMaxKeyNameLength + 1;
    const LONG status = EnumKeyExW(key, index, wide, &wideLength);
    if (status != ERROR_SUCCESS) return status;
    const std::string narrow = WideToNarrowBestFit(std::u16string_view(wide, wideLength));
    if (narrow.size() >= *nameLen) return ERROR_MORE_DATA;
    std::memcpy(name, narrow.data(), narrow.size());
    name[narrow.size()] = '\0';
    *nameLen = static_cast<DWORD>(narrow.size());
    return ERROR_SUCCESS;
}

LONG NarrowRegistry::EnumValue(HKEY key, DWORD index, char* name, DWORD* nameLen, DWORD* type, BYTE* data,
                            DWORD* dataLen) {
    if (name == nullptr || nameLen == nullptr || (data != nullptr && dataLen == nullptr))
        return ERROR_INVALID_PARAMETER;
    std::vector<char16_t> wideName(kMaxValueNameLength + 1);
    DWORD wideLength = 0;
    DWORD storedType = REG_NONE;
    std::vector<BYTE> wideData;
    LONG status = ERROR_SUCCESS;
    // The wide data in a buffer twice the narrow one (string data halves on the
    // way back), grown when the value needs more; without a buffer, the size alone.
    DWORD capacity = data != nullptr ? *dataLen * 2 + 2 : 0;
    for (;;) {
        wideLength = static_cast<DWORD>(wideName.size());
        wideData.assign(capacity, 0);
        DWORD got = capacity;
        status = EnumValueW(key, index, wideName.data(), &wideLength, &storedType,
                            data != nullptr ? wideData.data() : nullptr, &got);
        if (status == ERROR_MORE_DATA && data != nullptr && got > capacity) {
            capacity = got;
            continue;
        }
        if (status != ERROR_SUCCESS) return status;
        wideData.resize(data != nullptr ? got : 0);
        if (data == nullptr) wideData.assign(got, 0);
        break;
    }
    const std::u16string valueName(wideName.data(), wideLength);

    DWORD reported = 0;
    status = CopyNarrowData(storedType, wideData, data, dataLen, &reported);
    if (status == ERROR_SUCCESS) {
        const std::string narrow = WideToNarrowBestFit(valueName);
        if (narrow.size() >= *nameLen) {
            // As much of the name as fits, terminated; the length stays as it was.
            status = ERROR_MORE_DATA;
            if (*nameLen > 0) {
                std::memcpy(name, narrow.data(), *nameLen - 1);
                name[*nameLen - 1] = '\0';
            }
        } else {
            std::memcpy(name, narrow.data(), narrow.size());
            name[narrow.size()] = '\0';
            *nameLen = static_cast<DWORD>(narrow.size());
        }
    }
    if (type != nullptr) *type = storedType;
    if (dataLen != nullptr) *dataLen = reported;
    return status;
}

LONG NarrowRegistry::DeleteKey(HKEY root, const char* path) {
    if (path == nullptr) return ERROR_INVALID_PARAMETER;
    if (NarrowKeyPathTooLong(path)) return ERROR_MORE_DATA;
    return DeleteKeyW(root, Wide(path).c_str());
}

LONG NarrowRegistry::DeleteValue(HKEY key, const char* name) { return DeleteValueW(key, Wide(name).c_str()); }

}  // namespace qz
