// The platform registry seam: the registry operations the registration logic
// needs, shaped like their advapi32 counterparts (same status codes, same
// predefined roots, same buffer conventions). One implementation forwards to
// advapi32, one is the portable in-memory registry, one injects faults for tests.
#pragma once

#include <string>
#include <utility>

#include "registry/win32_types.h"

namespace qz {

class RegistryApi {
public:
    virtual ~RegistryApi() = default;

    // RegCreateKeyExA(root, path, 0, "", options, access, nullptr, out, nullptr).
    // Opens the key or creates it with every missing parent.
    [[nodiscard]] virtual LONG CreateKeyEx(HKEY root, const char* path, DWORD options, REGSAM access,
                                           HKEY* out) = 0;
    // RegOpenKeyExA(root, path, 0, access, out). Creates nothing.
    [[nodiscard]] virtual LONG OpenKeyEx(HKEY root, const char* path, REGSAM access, HKEY* out) = 0;
    // RegOpenKeyA(root, path, out): the default access.
    [[nodiscard]] virtual LONG OpenKey(HKEY root, const char* path, HKEY* out) = 0;
    // RegSetValueExA(key, name, 0, type, data, size). A null or empty name is the default value.
    [[nodiscard]] virtual LONG SetValueEx(HKEY key, const char* name, DWORD type, const BYTE* data,
                                          DWORD size) = 0;
    // RegQueryValueExA(key, name, nullptr, type, data, size). type and data may be null.
    // On return *size holds the bytes copied, or the bytes needed with ERROR_MORE_DATA.
    [[nodiscard]] virtual LONG QueryValueEx(HKEY key, const char* name, DWORD* type, BYTE* data,
                                            DWORD* size) = 0;
    // RegQueryInfoKeyA(key, className, classLen, nullptr, subKeys, ..., values, ...).
    // Any output may be null.
    [[nodiscard]] virtual LONG QueryInfoKey(HKEY key, char* className, DWORD* classLen, DWORD* subKeys,
                                            DWORD* values) = 0;
    // RegEnumKeyExA(key, index, name, nameLen, nullptr, nullptr, nullptr, nullptr).
    // *nameLen is in characters: the buffer size on entry, the name length (no NUL) on success.
    [[nodiscard]] virtual LONG EnumKeyEx(HKEY key, DWORD index, char* name, DWORD* nameLen) = 0;
    // RegEnumKeyExW: the same with a UTF-16 buffer.
    [[nodiscard]] virtual LONG EnumKeyExW(HKEY key, DWORD index, char16_t* name, DWORD* nameLen) = 0;
    // RegEnumValueA(key, index, name, nameLen, nullptr, type, data, dataLen).
    [[nodiscard]] virtual LONG EnumValue(HKEY key, DWORD index, char* name, DWORD* nameLen, DWORD* type,
                                         BYTE* data, DWORD* dataLen) = 0;
    // RegDeleteKeyA(root, path): refuses a key that has subkeys.
    [[nodiscard]] virtual LONG DeleteKey(HKEY root, const char* path) = 0;
    // RegDeleteValueA(key, name).
    [[nodiscard]] virtual LONG DeleteValue(HKEY key, const char* name) = 0;
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
