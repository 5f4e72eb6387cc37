#include "registry/api/win32_registry.h"

#include "text/wide_text_win32.h"

namespace qz {

Win32Registry::Location Win32Registry::Locate(HKEY root, const char16_t* path, std::wstring& storage) const {
    if (classes_ == Classes::Merged) return {root, AsWide(path), 0};
    if (root != HKEY_CLASSES_ROOT) return {root, AsWide(path), KEY_WOW64_64KEY};
    storage = L"Software\\Classes";
    if (path != nullptr && *path != u'\0') storage += L"\\" + std::wstring(AsWide(path));
    return {HKEY_LOCAL_MACHINE, storage.c_str(), KEY_WOW64_64KEY};
}

LONG Win32Registry::CreateKeyExW(HKEY root, const char16_t* path, DWORD options, REGSAM access, HKEY* out) {
    wchar_t emptyClass[] = L"";
    std::wstring storage;
    const Location at = Locate(root, path, storage);
    return ::RegCreateKeyExW(at.root, at.path, 0, emptyClass, options, access | at.view, nullptr, out, nullptr);
}

LONG Win32Registry::OpenKeyExW(HKEY root, const char16_t* path, REGSAM access, HKEY* out) {
    std::wstring storage;
    const Location at = Locate(root, path, storage);
    return ::RegOpenKeyExW(at.root, at.path, 0, access | at.view, out);
}

LONG Win32Registry::SetValueExW(HKEY key, const char16_t* name, DWORD type, const BYTE* data, DWORD size) {
    return ::RegSetValueExW(key, AsWide(name), 0, type, data, size);
}

LONG Win32Registry::QueryValueExW(HKEY key, const char16_t* name, DWORD* type, BYTE* data, DWORD* size) {
    return ::RegQueryValueExW(key, AsWide(name), nullptr, type, data, size);
}

LONG Win32Registry::QueryInfoKeyW(HKEY key, DWORD* subKeys, DWORD* values) {
    return ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, subKeys, nullptr, nullptr, values, nullptr, nullptr,
                              nullptr, nullptr);
}

LONG Win32Registry::EnumKeyExW(HKEY key, DWORD index, char16_t* name, DWORD* nameLen) {
    return ::RegEnumKeyExW(key, index, AsWide(name), nameLen, nullptr, nullptr, nullptr, nullptr);
}

LONG Win32Registry::EnumValueW(HKEY key, DWORD index, char16_t* name, DWORD* nameLen, DWORD* type, BYTE* data,
                               DWORD* dataLen) {
    return ::RegEnumValueW(key, index, AsWide(name), nameLen, nullptr, type, data, dataLen);
}

LONG Win32Registry::DeleteKeyW(HKEY root, const char16_t* path) {
    if (classes_ == Classes::Merged) return ::RegDeleteKeyW(root, AsWide(path));
    std::wstring storage;
    const Location at = Locate(root, path, storage);
    return ::RegDeleteKeyExW(at.root, at.path, at.view, 0);
}

LONG Win32Registry::DeleteValueW(HKEY key, const char16_t* name) { return ::RegDeleteValueW(key, AsWide(name)); }

LONG Win32Registry::CloseKey(HKEY key) { return ::RegCloseKey(key); }

}  // namespace qz
