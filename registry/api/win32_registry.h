// The platform registry of the Windows build: every operation forwards to
// advapi32's "W" call.
#pragma once

#include "registry/api/registry_api.h"

namespace qz {

class Win32Registry final : public RegistryApi {
public:
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
};

}  // namespace qz
