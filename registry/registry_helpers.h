// Generic helpers on any registry. They report nothing to the user: they answer
// through their results and the caller decides.
#pragma once

#include <string>

#include "registry/registry_api.h"

namespace qz {

// Stores text as REG_SZ with its terminating NUL (size = length + 1), whole,
// whatever its length. 1 when stored, 0 when the registry refused.
int SetRegistryString(RegistryApi& registry, HKEY key, const std::string& valueName, const std::string& text);

// Deletes root\path after all its subkeys, depth first. 1 when the key itself went.
int DeleteRegistryTree(RegistryApi& registry, HKEY root, std::string path);

}  // namespace qz
