// Where the modelling system keeps its directories, as the module itself says:
// the key at which its registration pass reads the value "bin". Found by
// running the pass on an overlay (twice when the machine state lacks the key:
// the keys the first pass could not open are then there, empty), so that no
// tool spells the module's key paths.
#pragma once

#include <functional>
#include <string>

#include "registry/memory_registry.h"
#include "registry/registry_api.h"

namespace qz {

// runPass runs one registration pass against the registry it is given. The key
// below HKEY_LOCAL_MACHINE (UTF-16, e.g. Software\...\Dir), or "" when the
// pass reads no "bin" value.
std::u16string SystemDirectoryKey(const MemoryRegistry& machineState,
                                  const std::function<int32_t(RegistryApi& registry)>& runPass);

}  // namespace qz
