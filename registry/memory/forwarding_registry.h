// A registry that passes every call on to another one. A decorator that only
// watches or adds to a few calls derives from it and overrides just those.
#pragma once

#include "registry/api/registry_api.h"

namespace qz {

class ForwardingRegistry : public RegistryApi {
public:
    explicit ForwardingRegistry(RegistryApi& inner) : inner_(inner) {}

    RegistryApi& inner() { return inner_; }

    LONG CreateKeyExW(HKEY root, const char16_t* path, DWORD options, REGSAM access, HKEY* out) override {
        return inner_.CreateKeyExW(root, path, options, access, out);
    }
    LONG OpenKeyExW(HKEY root, const char16_t* path, REGSAM access, HKEY* out) override {
        return inner_.OpenKeyExW(root, path, access, out);
    }
    LONG SetValueExW(HKEY key, const char16_t* name, DWORD type, const BYTE* data, DWORD size) override {
        return inner_.SetValueExW(key, name, type, data, size);
    }
    LONG QueryValueExW(HKEY key, const char16_t* name, DWORD* type, BYTE* data, DWORD* size) override {
        return inner_.QueryValueExW(key, name, type, data, size);
    }
    LONG QueryInfoKeyW(HKEY key, DWORD* subKeys, DWORD* values) override {
        return inner_.QueryInfoKeyW(key, subKeys, values);
    }
    LONG EnumKeyExW(HKEY key, DWORD index, char16_t* name, DWORD* nameLen) override {
        return inner_.EnumKeyExW(key, index, name, nameLen);
    }
    LONG EnumValueW(HKEY key, DWORD index, char16_t* name, DWORD* nameLen, DWORD* type, BYTE* data,
                    DWORD* dataLen) override {
        return inner_.EnumValueW(key, index, name, nameLen, type, data, dataLen);
    }
    LONG DeleteKeyW(HKEY root, const char16_t* path) override { return inner_.DeleteKeyW(root, path); }
    LONG DeleteValueW(HKEY key, const char16_t* name) override { return inner_.DeleteValueW(key, name); }
    LONG CloseKey(HKEY key) override { return inner_.CloseKey(key); }

private:
    RegistryApi& inner_;
};

}  // namespace qz
