// The registry as plain data: a key with its values and subkeys, names in UTF-16
// as the registry stores them. The in-memory registry keeps its hives in this
// form, and .reg reading, writing and change listings work on it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "registry/win32_types.h"

namespace qz {

// Registry names compare without regard to case: code unit by code unit after
// folding to lower case, which is also the order in which subkeys and values
// enumerate (the order Wine's registry keeps; see MemoryRegistry).
char16_t RegistryFoldCase(char16_t c);
int CompareRegistryNames(std::u16string_view a, std::u16string_view b);
inline bool RegistryNamesEqual(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && CompareRegistryNames(a, b) == 0;
}

struct RegValue {
    std::u16string name;  // as created; empty for the default value
    DWORD type = REG_NONE;
    std::vector<BYTE> data;

    bool operator==(const RegValue& other) const {
        return name == other.name && type == other.type && data == other.data;
    }
};

struct RegKey {
    std::u16string name;  // as created
    bool isVolatile = false;
    // Identity within one MemoryRegistry: a key deleted and created again is a
    // different key, and handles to the old one must see it as deleted.
    std::uint64_t id = 0;
    std::vector<RegValue> values;  // in enumeration order (CompareRegistryNames)
    std::vector<RegKey> subkeys;   // in enumeration order (CompareRegistryNames)

    const RegKey* FindSubkey(std::u16string_view subkeyName) const;
    RegKey* FindSubkey(std::u16string_view subkeyName);
    // Inserts at its place in the order; the key must not exist yet.
    RegKey& AddSubkey(RegKey key);
    bool RemoveSubkey(std::u16string_view subkeyName);

    const RegValue* FindValue(std::u16string_view valueName) const;
    RegValue* FindValue(std::u16string_view valueName);
    // Replaces the data of the value of that name (keeping the case of its
    // first creation) or inserts it at its place.
    void SetValue(RegValue value);
    bool RemoveValue(std::u16string_view valueName);
};

// Same names (case included), values (in any order) and subkeys, recursively;
// ids and volatility are not compared.
bool SameContent(const RegKey& a, const RegKey& b);

// The three roots the registry serves.
enum class RegRoot { ClassesRoot, CurrentUser, LocalMachine };

std::optional<RegRoot> RootOfHandle(HKEY key);
HKEY RootHandle(RegRoot root);
const char16_t* RootName(RegRoot root);  // HKEY_CLASSES_ROOT, ...

// A full key path "HKEY_LOCAL_MACHINE\Software\X" split into its root (long or
// short name, any case: HKLM, HKCU, HKCR) and components. Trailing backslashes are
// dropped; an empty component or an unknown root gives nullopt.
struct FullKeyPath {
    RegRoot root;
    std::vector<std::u16string> components;
};
std::optional<FullKeyPath> ParseFullKeyPath(std::u16string_view path);

}  // namespace qz
