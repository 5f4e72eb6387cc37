#include "registry/api/registry_helpers.h"

#include <vector>

#include "text/code_page.h"

namespace qz {
namespace {

// Windows documents key names of at most 255 characters, but a registry may hold
// longer ones (Wine takes 256): the name buffer starts with room for 255 and the
// NUL and grows when a name does not fit, up to the longest name a registry call
// can carry, so that no subkey is passed over and its parent left behind.
constexpr DWORD kSubkeyNameCapacity = 256;
constexpr DWORD kLongestSubkeyNameCapacity = 32768;

// One key being emptied: its handle and the names of its subkeys, collected
// before anything below it is deleted (deleting while enumerating would shift
// the indexes).
struct PendingKey {
    UniqueKey key;
    std::vector<std::u16string> children;
    std::size_t next = 0;
    bool nextEmptied = false;  // the walk has been below children[next] already
};

std::vector<std::u16string> SubkeyNames(RegistryApi& registry, HKEY key) {
    std::vector<std::u16string> names;
    std::vector<char16_t> name(kSubkeyNameCapacity);
    for (DWORD index = 0;;) {
        DWORD length = static_cast<DWORD>(name.size());
        const LONG status = registry.EnumKeyExW(key, index, name.data(), &length);
        if (status == ERROR_MORE_DATA && name.size() < kLongestSubkeyNameCapacity) {
            name.resize(name.size() * 2);
            continue;
        }
        if (status != ERROR_SUCCESS) break;
        names.emplace_back(name.data(), length);
        ++index;
    }
    return names;
}

// Deletes every subkey of an open key, depth first. Each child is opened from
// its parent's handle and deleted by name from its parent, so neither the depth
// of the tree nor the length of its paths matters, and names travel as UTF-16
// whatever their script. The walk keeps its own stack rather than recursing.
void DeleteSubkeys(RegistryApi& registry, UniqueKey top) {
    std::vector<PendingKey> stack;
    stack.push_back(PendingKey{std::move(top), {}, 0, false});
    stack.back().children = SubkeyNames(registry, stack.back().key.get());
    while (!stack.empty()) {
        PendingKey& current = stack.back();
        if (current.next == current.children.size()) {
            stack.pop_back();
            continue;
        }
        const std::u16string& name = current.children[current.next];
        if (!current.nextEmptied) {
            current.nextEmptied = true;
            UniqueKey child(registry);
            // Read access is all the walk needs: the deletes go by name through the parent.
            if (registry.OpenKeyExW(current.key.get(), name.c_str(), KEY_READ, child.put()) == ERROR_SUCCESS) {
                std::vector<std::u16string> grandchildren = SubkeyNames(registry, child.get());
                if (!grandchildren.empty()) {
                    // Come back to this child once its own subkeys are gone.
                    stack.push_back(PendingKey{std::move(child), std::move(grandchildren), 0, false});
                    continue;
                }
            }
        }
        // A child that cannot go stays, silently; its parent's delete then fails too.
        (void)registry.DeleteKeyW(current.key.get(), name.c_str());
        ++current.next;
        current.nextEmptied = false;
    }
}

}  // namespace

int SetRegistryString(RegistryApi& registry, HKEY key, const std::string& valueName, const std::string& text) {
    // The text is passed whole, as UTF-16 with its terminating NUL: no fixed
    // copy, so no length can be cut or overrun, and no character is lost to a
    // code page.
    const std::u16string wide = Utf8ToUtf16(text);
    const LONG status = registry.SetValueExW(key, Utf8ToUtf16(valueName).c_str(), REG_SZ,
                                             reinterpret_cast<const BYTE*>(wide.c_str()),
                                             static_cast<DWORD>((wide.size() + 1) * sizeof(char16_t)));
    return status == ERROR_SUCCESS ? 1 : 0;
}

int DeleteRegistryTreeSilently(RegistryApi& registry, HKEY root, std::string path, LONG* status) {
    const std::u16string widePath = Utf8ToUtf16(path);
    {
        UniqueKey key(registry);
        if (registry.OpenKeyExW(root, widePath.c_str(), KEY_READ, key.put()) == ERROR_SUCCESS)
            DeleteSubkeys(registry, std::move(key));
    }
    const LONG deleted = registry.DeleteKeyW(root, widePath.c_str());
    if (status != nullptr) *status = deleted;
    return deleted == ERROR_SUCCESS ? 1 : 0;
}

}  // namespace qz
