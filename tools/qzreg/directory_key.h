// Where the modelling system keeps its directories, as the module itself says:
// the key at which its registration pass reads the value "bin". Found by
// running the pass on an overlay (twice when the machine state lacks the key:
// the keys the first pass could not open are then there, empty), so that no
// tool spells the module's key paths.
#pragma once

#include <string>

#include "registry/memory/memory_registry.h"
#include "tools/host/pass_on_overlay.h"

namespace qz {

// entry runs the module's registration passes (recording modulePath). The key
// below HKEY_LOCAL_MACHINE (UTF-16, e.g. Software\...\Dir), or "" when the
// pass reads no "bin" value.
std::u16string SystemDirectoryKey(const MemoryRegistry& machineState, PassEntry entry, const std::string& modulePath);

}  // namespace qz
