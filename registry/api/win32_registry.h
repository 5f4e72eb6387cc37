// The platform registry of the Windows build: every operation forwards to
// advapi32's "W" call.
#pragma once

#include <string>

#include "registry/api/registry_api.h"

namespace qz {

class Win32Registry final : public RegistryApi {
public:
    // What HKEY_CLASSES_ROOT names. Windows merges the calling user's
    // HKCU\Software\Classes into it, which is what the module's own
    // DllRegisterServer reads, as every self-registering module does. A host
    // that computes, or checks, what is written for every user of the machine
    // reads the machine's store instead: HKEY_LOCAL_MACHINE\Software\Classes in
    // the 64-bit view, as is every other key then.
    enum class Classes { Merged, Machine };
    explicit Win32Registry(Classes classes = Classes::Merged) : classes_(classes) {}

    LONG CreateKeyExW(HKEY root, const char16_t* path, DWORD options, REGSAM access, HKEY* out) override;
    LONG OpenKeyExW(HKEY root, const char16_t* path, REGSAM access, HKEY* out) override;
    LONG SetValueExW(HKEY key, const char16_t* name, DWORD type, const BYTE* data, DWORD size) override;
    LONG QueryValueExW(HKEY key, const char16_t* name, DWORD* type, BYTE* data, DWORD* size) override;
    LONG QueryInfoKeyW(HKEY key, DWORD* subKeys, DWORD* values) override;
    LONG EnumKeyExW(HKEY key, DWORD index, char16_t* name, DWORD* nameLen) override;
    LONG EnumValueW(HKEY key, DWORD index, char16_t* name, DWORD* nameLen, DWORD* type, BYTE* data,
                    DWORD* dataLen) override;
    LONG DeleteKeyW(HKEY root, const char16_t* path) override;
    LONG DeleteValueW(HKEY key, const char16_t* name) override;
    LONG CloseKey(HKEY key) override;

private:
    // Where a call's root and path lead in this registry's view: the root to
    // pass, the path (kept in storage when it is rewritten) and the view's flag.
    struct Location {
        HKEY root;
        const wchar_t* path;
        REGSAM view;
    };
    Location Locate(HKEY root, const char16_t* path, std::wstring& storage) const;

    Classes classes_;
};

}  // namespace qz
