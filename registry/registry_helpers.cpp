#include "registry/registry_helpers.h"

#include <vector>

namespace qz {
namespace {

constexpr DWORD kSubkeyNameCapacity = 2048;

}  // namespace

int SetRegistryString(RegistryApi& registry, HKEY key, const std::string& valueName, const std::string& text) {
    // The text is passed whole: no fixed copy, so no length can be cut or overrun.
    const LONG status = registry.SetValueEx(key, valueName.c_str(), REG_SZ,
                                            reinterpret_cast<const BYTE*>(text.c_str()),
                                            static_cast<DWORD>(text.size() + 1));
    return status == ERROR_SUCCESS ? 1 : 0;
}

int DeleteRegistryTree(RegistryApi& registry, HKEY root, std::string path) {
    std::vector<std::string> children;
    {
        UniqueKey key(registry);
        if (registry.OpenKeyEx(root, path.c_str(), KEY_ALL_ACCESS, key.put()) == ERROR_SUCCESS) {
            // Collect first, delete afterwards: deleting while enumerating would shift the indexes.
            char name[kSubkeyNameCapacity];
            for (DWORD index = 0;; ++index) {
                DWORD length = kSubkeyNameCapacity;
                if (registry.EnumKeyEx(key.get(), index, name, &length) != ERROR_SUCCESS) break;
                children.push_back(path + "\\" + std::string(name, length));
            }
        }
    }
    for (const std::string& child : children) DeleteRegistryTree(registry, root, child);
    return registry.DeleteKey(root, path.c_str()) == ERROR_SUCCESS ? 1 : 0;
}

}  // namespace qz
