// The registration as WiX source for Debian's wixl: one 64-bit component per
// key, the module installed under Program Files (64-bit), and the modelling
// system's directories found by registry searches.
#pragma once

#include <string>
#include <vector>

#include "tools/qzreg/registry_diff.h"

namespace qz {

// changes: what a harvest's registration writes (texts already carrying the
// [#qzproduct.dll] and [ZUREDORE...] references).
std::string HarvestAsWixSource(const std::vector<RegistryChange>& changes);

}  // namespace qz
