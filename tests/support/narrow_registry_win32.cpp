#include "tests/support/narrow_registry.h"

namespace qz {

LONG Advapi32NarrowRegistry::CreateKeyEx(HKEY root, const char* path, DWORD options, REGSAM access, HKEY* out) {
    char emptyClass[] = "";
    return ::RegCreateKeyExA(root, path, 0, emptyClass, options, access, nullptr, out, nullptr);
}

LONG Advapi32NarrowRegistry::OpenKeyEx(HKEY root, const char* path, REGSAM access, HKEY* out) {
    return ::RegOpenKeyExA(root, path, 0, access, out);
}

LONG Advapi32NarrowRegistry::OpenKey(HKEY root, const char* path, HKEY* out) { return ::RegOpenKeyA(root, path, out); }

LONG Advapi32NarrowRegistry::SetValueEx(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size) {
    return ::RegSetValueExA(key, name, 0, type, data, size);
}

LONG Advapi32NarrowRegistry::QueryValueEx(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size) {
    return ::RegQueryValueExA(key, name, nullptr, type, data, size);
}

LONG Advapi32NarrowRegistry::QueryInfoKey(HKEY key, char* className, DWORD* classLen, DWORD* subKeys, DWORD* values) {
    return ::RegQueryInfoKeyA(key, className, classLen, nullptr, subKeys, nullptr, nullptr, values, nullptr,
                              nullptr, nullptr, nullptr);
}

LONG Advapi32NarrowRegistry::EnumKeyEx(HKEY key, DWORD index, char* name, DWORD* nameLen) {
    return ::RegEnumKeyExA(key, index, name, nameLen, nullptr, nullptr, nullptr, nullptr);
}

LONG Advapi32NarrowRegistry::EnumValue(HKEY key, DWORD index, char* name, DWORD* nameLen, DWORD* type, BYTE* data,
                              DWORD* dataLen) {
    return ::RegEnumValueA(key, index, name, nameLen, nullptr, type, data, dataLen);
}

LONG Advapi32NarrowRegistry::DeleteKey(HKEY root, const char* path) { return ::RegDeleteKeyA(root, path); }

LONG Advapi32NarrowRegistry::DeleteValue(HKEY key, const char* name) { return ::RegDeleteValueA(key, name); }

}  // namespace qz
