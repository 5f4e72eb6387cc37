// What a pass changes, as a list a program can read: every key added or
// removed and every value set or removed, from the "before" and "after"
// snapshots of an overlay.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "registry/memory_registry.h"

namespace qz {

struct RegistryChange {
    enum class Kind { AddKey, RemoveKey, SetValue, RemoveValue };
    Kind kind = Kind::AddKey;
    std::string hive;  // HKEY_CLASSES_ROOT (the machine's Software\Classes), HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE
    std::string key;   // below the hive, UTF-8
    bool keyIsNew = false;              // SetValue: the value's key is added by the same changes
    std::optional<RegValue> oldValue;   // SetValue, RemoveValue
    std::optional<RegValue> newValue;   // SetValue
};

// In the order of the .reg listing: HKEY_CLASSES_ROOT, HKEY_CURRENT_USER,
// HKEY_LOCAL_MACHINE, keys depth first, values by name. An added key comes with
// a SetValue for each of its values; a removed subtree is one RemoveKey.
std::vector<RegistryChange> ListRegistryChanges(const MemoryRegistry& before, const MemoryRegistry& after);

// "HKEY_CLASSES_ROOT\CLSID\{...}"
std::string FullKeyName(const RegistryChange& change);

// "REG_SZ", "REG_DWORD", ... ("0x1f" for a type without a name).
std::string RegistryTypeName(DWORD type);

}  // namespace qz
