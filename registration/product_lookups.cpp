#include "registration/product_lookups.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "resources/resource_ids.h"

namespace qz {
namespace {

constexpr int kSystemVersionMajor = 38;
constexpr int kSystemVersionMinor = 0;

constexpr DWORD kDirectoryValueCapacity = 4096;
constexpr DWORD kCurVerValueCapacity = 4096;
constexpr DWORD kClassNameCapacity = 2048;

// Registry data is not always NUL-terminated (binary data, or a string that
// fills the buffer exactly): read it as text only as far as its size.
std::string TextOfData(const char* data, DWORD size) {
    const void* nul = std::memchr(data, '\0', size);
    return std::string(data, nul != nullptr ? static_cast<const char*>(nul) - data : size);
}

const char* InstallDirectoryValueName(InstallDirectoryKind kind) {
    switch (kind) {
        case InstallDirectoryKind::Bin: return "bin";
        case InstallDirectoryKind::Help: return "help";
        case InstallDirectoryKind::Lib: return "lib";
        case InstallDirectoryKind::Lic: return "lic";
        case InstallDirectoryKind::Root: return "root";
    }
    return nullptr;
}

}  // namespace

std::string GetInstallDirectory(InstallDirectoryKind kind) {
    const char* valueName = InstallDirectoryValueName(kind);
    if (valueName == nullptr) return std::string();

    RegistryApi& registry = Registry();
    UniqueKey key(registry);
    if (registry.OpenKeyEx(HKEY_LOCAL_MACHINE, SystemDirKeyPath().c_str(), KEY_READ, key.put()) != ERROR_SUCCESS)
        return std::string();

    std::vector<char> data(kDirectoryValueCapacity);
    DWORD size = kDirectoryValueCapacity;
    DWORD type = REG_NONE;
    // Whatever the stored type, the data is taken as text.
    if (registry.QueryValueEx(key.get(), valueName, &type, reinterpret_cast<BYTE*>(data.data()), &size) !=
        ERROR_SUCCESS)
        return std::string();
    return TextOfData(data.data(), size);
}

std::string SystemVersionString() {
    char text[32];
    std::snprintf(text, sizeof text, "%d.%d", kSystemVersionMajor, kSystemVersionMinor);
    return text;
}

std::string SystemDirKeyPath() { return "Software\\Corvalen\\ZURedore\\" + SystemVersionString() + "\\Dir"; }

std::string SystemOptionsKeyPath() {
    return "Software\\Corvalen\\ZURedore\\" + SystemVersionString() + "\\Options";
}

std::string SystemOptionsSubkeyPath() { return "ZURedore\\" + SystemVersionString() + "\\Options"; }

int CountSystemOptionsValues() {
    RegistryApi& registry = Registry();
    UniqueKey key(registry);
    if (registry.OpenKeyEx(HKEY_LOCAL_MACHINE, SystemOptionsKeyPath().c_str(), KEY_ALL_ACCESS, key.put()) !=
        ERROR_SUCCESS)
        return 0;
    char className[kClassNameCapacity] = {};
    DWORD classLength = kClassNameCapacity;
    DWORD subKeys = 0;
    DWORD values = 0;
    if (registry.QueryInfoKey(key.get(), className, &classLength, &subKeys, &values) != ERROR_SUCCESS) return 0;
    return static_cast<int>(values);
}

int IsCurrentApplicationVersion() {
    const std::string progId = LoadProductString(IDS_APPLICATION_PROGID);
    const std::string expected =
        progId + " " + LoadProductString(IDS_VERSION_MAJOR) + LoadProductString(IDS_VERSION_MINOR);

    RegistryApi& registry = Registry();
    UniqueKey key(registry);
    const std::string curVerPath = progId + "\\CurVer";
    // No CurVer key: no other version has claimed the classes root.
    if (registry.OpenKeyEx(HKEY_CLASSES_ROOT, curVerPath.c_str(), KEY_READ, key.put()) != ERROR_SUCCESS) return 1;

    std::vector<char> data(kCurVerValueCapacity);
    DWORD size = kCurVerValueCapacity;
    if (registry.QueryValueEx(key.get(), nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()), &size) !=
        ERROR_SUCCESS)
        return 0;
    // A prefix test: this version writes "<ProgID> <major><minor>0" and compares
    // only "<ProgID> <major><minor>".
    const std::string current = TextOfData(data.data(), size).substr(0, expected.size());
    return current == expected ? 1 : 0;
}

}  // namespace qz
