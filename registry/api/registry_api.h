// The platform registry seam: the registry operations the registration logic
// needs, shaped like their advapi32 counterparts (same status codes, same
// predefined roots, same buffer conventions).
//
// The operations are the wide ("W") ones: names and string data in UTF-16, as
// the registry stores them, so that a name or a path in any script passes
// unchanged. The product uses no other. Every implementation provides them:
// advapi32, the in-memory registry, the fault injector, the overlay that
// records a pass instead of making it, and the table of functions a host hands
// the module. (The tests' narrow view of a registry, which the conformance
// suite compares with advapi32's narrow calls, is tests/support/narrow_registry.h.)
#pragma once

#include <string>
#include <utility>

#include "registry/api/win32_types.h"

namespace qz {

// The longest names a registry call takes, in UTF-16 code units without the
// NUL: a key name (one part of a path) of 256, one more than the 255 Windows
// documents, as advapi32 takes it; a value name of 16383.
inline constexpr DWORD kMaxKeyNameLength = 256;
inline constexpr DWORD kMaxValueNameLength = 16383;

class RegistryApi {
public:
    virtual ~RegistryApi() = default;

    // RegCreateKeyExW(root, path, 0, L"", options, access, nullptr, out, nullptr).
    // Opens the key or creates it with every missing parent.
    [[nodiscard]] virtual LONG CreateKeyExW(HKEY root, const char16_t* path, DWORD options, REGSAM access,
                                            HKEY* out) = 0;
    // RegOpenKeyExW(root, path, 0, access, out). Creates nothing.
    [[nodiscard]] virtual LONG OpenKeyExW(HKEY root, const char16_t* path, REGSAM access, HKEY* out) = 0;
    // RegSetValueExW(key, name, 0, type, data, size). A null or empty name is the
    // default value; string data is UTF-16, its size in bytes.
    [[nodiscard]] virtual LONG SetValueExW(HKEY key, const char16_t* name, DWORD type, const BYTE* data,
                                           DWORD size) = 0;
    // RegQueryValueExW(key, name, nullptr, type, data, size). type and data may be null.
    // On return *size holds the bytes copied, or the bytes needed with ERROR_MORE_DATA.
    [[nodiscard]] virtual LONG QueryValueExW(HKEY key, const char16_t* name, DWORD* type, BYTE* data,
                                             DWORD* size) = 0;
    // RegQueryInfoKeyW(key, ..., subKeys, ..., values, ...). Either output may be null.
    [[nodiscard]] virtual LONG QueryInfoKeyW(HKEY key, DWORD* subKeys, DWORD* values) = 0;
    // RegEnumKeyExW(key, index, name, nameLen, nullptr, nullptr, nullptr, nullptr).
    // *nameLen is in characters: the buffer size on entry, the name length (no NUL) on success.
    [[nodiscard]] virtual LONG EnumKeyExW(HKEY key, DWORD index, char16_t* name, DWORD* nameLen) = 0;
    // RegEnumValueW(key, index, name, nameLen, nullptr, type, data, dataLen).
    [[nodiscard]] virtual LONG EnumValueW(HKEY key, DWORD index, char16_t* name, DWORD* nameLen, DWORD* type,
                                          BYTE* data, DWORD* dataLen) = 0;
    // RegDeleteKeyW(root, path): refuses a key that has subkeys.
    [[nodiscard]] virtual LONG DeleteKeyW(HKEY root, const char16_t* path) = 0;
    // RegDeleteValueW(key, name).
    [[nodiscard]] virtual LONG DeleteValueW(HKEY key, const char16_t* name) = 0;
    // RegCloseKey(key). Closing a predefined root is a harmless success.
    virtual LONG CloseKey(HKEY key) = 0;
};

// An open key handle that closes itself: no path can leak a handle. reset()
// closes early, so that a step can close one key before it touches the next.
class UniqueKey {
public:
    explicit UniqueKey(RegistryApi& api) : api_(&api) {}
    UniqueKey(const UniqueKey&) = delete;
    UniqueKey& operator=(const UniqueKey&) = delete;
    UniqueKey(UniqueKey&& other) noexcept : api_(other.api_), key_(std::exchange(other.key_, nullptr)) {}
    ~UniqueKey() { reset(); }

    HKEY get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }
    // The out-parameter for an open or create call; closes whatever was held.
    HKEY* put() {
        reset();
        return &key_;
    }
    void reset() {
        if (key_ != nullptr) {
            api_->CloseKey(key_);
            key_ = nullptr;
        }
    }

private:
    RegistryApi* api_;
    HKEY key_ = nullptr;
};

}  // namespace qz
