// Makes a list of changes (registry_changes.h) in a registry: the list a host
// printed is the list it makes, never a second computation of it.
#pragma once

#include <string>
#include <vector>

#include "registry/api/registry_api.h"
#include "registry/changes/registry_changes.h"

namespace qz {

// In the list's order: keys added, values set and removed, and each removed
// subtree key by key (its removedKeys, children first), so that a key another
// program added below it meanwhile keeps it in place and is named. Classes-root
// keys go through HKEY_CLASSES_ROOT. Goes on after a failure; false with every
// failure named in error, one a line.
bool ApplyRegistryChanges(const std::vector<RegistryChange>& changes, RegistryApi& registry, std::string& error);

}  // namespace qz
