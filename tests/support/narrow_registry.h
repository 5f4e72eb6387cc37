// The narrow ("A") registry calls, for the tests: the system code page's view
// of a registry. The product uses only the wide calls of RegistryApi; these
// exist so that the conformance suite can hold our conversions to advapi32's
// own, and so that a test can write a plain ASCII path as a string literal.
//
// NarrowRegistry is a RegistryApi over another one: its wide calls are the
// other's, and its narrow calls convert as advapi32's narrow calls do and call
// the wide ones (a character the code page lacks becomes its best-fit byte or
// '?', and a key path longer than MAX_PATH fails). Under Windows,
// Advapi32NarrowRegistry makes the real narrow calls instead.
#pragma once

#include "registry/memory/forwarding_registry.h"

namespace qz {

class NarrowRegistry : public ForwardingRegistry {
public:
    explicit NarrowRegistry(RegistryApi& wide) : ForwardingRegistry(wide) {}

    RegistryApi& wide() { return inner(); }

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
    [[nodiscard]] virtual LONG QueryInfoKey(HKEY key, char* className, DWORD* classLen, DWORD* subKeys, DWORD* values);
    // RegEnumKeyExA(key, index, name, nameLen, nullptr, nullptr, nullptr, nullptr).
    [[nodiscard]] virtual LONG EnumKeyEx(HKEY key, DWORD index, char* name, DWORD* nameLen);
    // RegEnumValueA(key, index, name, nameLen, nullptr, type, data, dataLen).
    [[nodiscard]] virtual LONG EnumValue(HKEY key, DWORD index, char* name, DWORD* nameLen, DWORD* type, BYTE* data,
                                         DWORD* dataLen);
    // RegDeleteKeyA(root, path).
    [[nodiscard]] virtual LONG DeleteKey(HKEY root, const char* path);
    // RegDeleteValueA(key, name).
    [[nodiscard]] virtual LONG DeleteValue(HKEY key, const char* name);

};

#ifdef _WIN32
// advapi32's own narrow calls, over advapi32's wide ones (a Win32Registry).
class Advapi32NarrowRegistry final : public NarrowRegistry {
public:
    explicit Advapi32NarrowRegistry(RegistryApi& win32) : NarrowRegistry(win32) {}

    LONG CreateKeyEx(HKEY root, const char* path, DWORD options, REGSAM access, HKEY* out) override;
    LONG OpenKeyEx(HKEY root, const char* path, REGSAM access, HKEY* out) override;
    LONG OpenKey(HKEY root, const char* path, HKEY* out) override;
    LONG SetValueEx(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size) override;
    LONG QueryValueEx(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size) override;
    LONG QueryInfoKey(HKEY key, char* className, DWORD* classLen, DWORD* subKeys, DWORD* values) override;
    LONG EnumKeyEx(HKEY key, DWORD index, char* name, DWORD* nameLen) override;
    LONG EnumValue(HKEY key, DWORD index, char* name, DWORD* nameLen, DWORD* type, BYTE* data, DWORD* dataLen) override;
    LONG DeleteKey(HKEY root, const char* path) override;
    LONG DeleteValue(HKEY key, const char* name) override;
};
#endif

}  // namespace qz
