// The platform registry seam: the registry operations the registration logic
// needs, shaped like their advapi32 counterparts (same status codes, same
// predefined roots, same buffer conventions).
//
// The wide ("W") operations are the seam itself: names and string data in
// UTF-16, as the registry stores them, so that a name or a path in any script
// passes unchanged. Every implementation provides them: advapi32, the in-memory
// registry, the fault injector, the overlay that records a pass instead of
// making it, and the table of functions a host hands the module.
//
// The narrow ("A") operations are the system code page's view of the same
// registry. Their default implementations here convert as advapi32's narrow
// calls do and call the wide ones (a character the code page lacks becomes its
// best-fit byte or '?', and a key path longer than MAX_PATH fails); the
// advapi32 implementation overrides them with the real narrow calls, and the
// conformance suite holds both to the same behaviour.
#pragma once

#include <string>
#include <utility>

#include "registry/win32_types.h"

namespace qz {

// The longest names a registry call takes, in UTF-16 code units without the
// NUL: a key name (one part of a path) of 256, one more than the 255 Windows
// documents, as advapi32 takes it; a value name of 16383.
inline constexpr DWORD kMaxKeyNameLength = 256;
inline constexpr DWORD kMaxValueNameLength = 16383;

class RegistryApi {
public:
    virtual ~RegistryApi() = default;

    // ---- wide operations ---------------------------------------------------------

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

    // ---- narrow operations (the system code page) ---------------------------------

    // RegCreateKeyExA(root, path, 0, "", options, access, nullptr, out, nullptr).
    [[nodiscard]] virtual LONG CreateKeyEx(HKEY root, const char* path, DWORD options, REGSAM access, HKEY* out);
    // RegOpenKeyExA(root, path, 0, access, out).
    [[nodiscard]] virtual LONG OpenKeyEx(HKEY root, const char* path, REGSAM access, HKEY* out);
    // RegOpenKeyA(root, path, out): the default access; no path gives back root itself.
    [[nodiscard]] virtual LONG OpenKey(HKEY root, const char* path, HKEY* out);
    // RegSetValueExA(key, name, 0, type, data, size): string data in the code page.
    [[nodiscard]] virtual LONG SetValueEx(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size);
    // RegQueryValueExA(key, name, nullptr, type, data, size): string data in the code page.
    [[nodiscard]] virtual LONG QueryValueEx(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size);
    // RegQueryInfoKeyA(key, className, classLen, nullptr, subKeys, ..., values, ...).
    // Any output may be null.
    [[nodiscard]] virtual LONG QueryInfoKey(HKEY key, char* className, DWORD* classLen, DWORD* subKeys,
                                            DWORD* values);
    // RegEnumKeyExA(key, index, name, nameLen, nullptr, nullptr, nullptr, nullptr).
    [[nodiscard]] virtual LONG EnumKeyEx(HKEY key, DWORD index, char* name, DWORD* nameLen);
    // RegEnumValueA(key, index, name, nameLen, nullptr, type, data, dataLen).
    [[nodiscard]] virtual LONG EnumValue(HKEY key, DWORD index, char* name, DWORD* nameLen, DWORD* type,
                                         BYTE* data, DWORD* dataLen);
    // RegDeleteKeyA(root, path).
    [[nodiscard]] virtual LONG DeleteKey(HKEY root, const char* path);
    // RegDeleteValueA(key, name).
    [[nodiscard]] virtual LONG DeleteValue(HKEY key, const char* name);
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
