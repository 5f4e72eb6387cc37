// The platform registry of the Windows build: every operation forwards to advapi32.
#pragma once

#include "registry/registry_api.h"

namespace qz {

class Win32Registry final : public RegistryApi {
public:
    LONG CreateKeyEx(HKEY root, const char* path, DWORD options, REGSAM access, HKEY* out) override;
    LONG OpenKeyEx(HKEY root, const char* path, REGSAM access, HKEY* out) override;
    LONG OpenKey(HKEY root, const char* path, HKEY* out) override;
    LONG SetValueEx(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size) override;
    LONG QueryValueEx(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size) override;
    LONG QueryInfoKey(HKEY key, char* className, DWORD* classLen, DWORD* subKeys, DWORD* values) override;
    LONG EnumKeyEx(HKEY key, DWORD index, char* name, DWORD* nameLen) override;
    LONG EnumKeyExW(HKEY key, DWORD index, char16_t* name, DWORD* nameLen) override;
    LONG EnumValue(HKEY key, DWORD index, char* name, DWORD* nameLen, DWORD* type, BYTE* data,
                   DWORD* dataLen) override;
    LONG DeleteKey(HKEY root, const char* path) override;
    LONG DeleteValue(HKEY key, const char* name) override;
    LONG CloseKey(HKEY key) override;
};

}  // namespace qz
