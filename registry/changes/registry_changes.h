// What a registration pass changed: one list, from the "before" and "after"
// pictures of a registry, of every key added or removed and every value set or
// removed. qzreg shows it as .reg text (here), as JSON and as drift; the
// package's custom action hands it to Windows Installer as rows.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "registry/memory/memory_registry.h"

namespace qz {

struct RegistryChange {
    enum class Kind { AddKey, RemoveKey, SetValue, RemoveValue };
    Kind kind = Kind::AddKey;
    RegRoot hive = RegRoot::ClassesRoot;  // ClassesRoot: the machine's Software\Classes
    std::string key;   // below the hive, UTF-8
    bool keyIsNew = false;              // SetValue: the value's key is added by the same changes
    std::optional<RegValue> oldValue;   // SetValue, RemoveValue
    std::optional<RegValue> newValue;   // SetValue
    // RemoveKey: every key of the removed subtree the "before" side holds, below
    // the hive, children before their parents and key itself last; applying the
    // change removes those and nothing another program added meanwhile.
    std::vector<std::string> removedKeys;
};

// In the order of the .reg listing: HKEY_CLASSES_ROOT, HKEY_CURRENT_USER,
// HKEY_LOCAL_MACHINE (its Software\Classes listed as HKEY_CLASSES_ROOT), keys
// depth first in enumeration order, each key's values by name (the default
// value first). An added key comes with a SetValue for each of its values; a
// removed subtree is one RemoveKey, for its top. A value is set when the
// "before" side lacks it or holds it with another type, data or name case.
// Walks the trees with a stack of its own, never recursing per level.
std::vector<RegistryChange> ListRegistryChanges(const MemoryRegistry& before, const MemoryRegistry& after);

// The changed key's name: FullKeyName(change.hive, change.key),
// "HKEY_CLASSES_ROOT\CLSID\{...}".
inline std::string FullKeyName(const RegistryChange& change) { return FullKeyName(change.hive, change.key); }

// The changes as .reg text (the 5.00 form, UTF-8, LF line ends): a header,
// then in the list's order [KEY] for each added key with all its values, [KEY]
// for each kept key whose values changed, with the values set and "name"=- for
// each one removed, and [-KEY] for each removed key. Empty when the list is.
// Imported into the "before" registry, the text gives the "after" one.
std::string RegistryChangesAsRegText(const std::vector<RegistryChange>& changes);

// RegistryChangesAsRegText(ListRegistryChanges(before, after)).
std::string DescribeRegistryChanges(const MemoryRegistry& before, const MemoryRegistry& after);

}  // namespace qz
