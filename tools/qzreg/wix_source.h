// The registration as WiX source for Debian's wixl: one 64-bit component per
// key, the module installed under Program Files (64-bit) with qzreg beside it
// (its "check" is the detection rule of deployment tools), and the modelling
// system's directories found by registry searches.
//
// What an uninstallation may remove is decided per key: the keys this version
// owns go with the product; the classes other versions of the application
// share go only while OVX Application\CurVer names this version (a component
// condition); the library suffix and type, which the other products of the
// modelling system share, and the user's own settings are never removed
// (permanent components). wixl 0.101 drops Component/@Permanent and cannot read
// Component/Condition: cmake/wixl-package.sh builds the package and writes
// both into its Component table.
#pragma once

#include <string>
#include <vector>

#include "registry/registry_changes.h"

namespace qz {

// The package's fixed identity: the same for every build of every version, so
// that a newer package replaces an older one (a major upgrade).
extern const char kWixUpgradeCode[];

// The folder the module is installed into, below the 64-bit Program Files folder.
extern const char kWixInstallFolder[];

// changes: what a harvest's registration writes (texts already carrying the
// [#qzproduct.dll] and [ZUREDORE...] references). The same changes give the
// same text, byte for byte: every GUID in it is derived from a name.
std::string HarvestAsWixSource(const std::vector<RegistryChange>& changes);

// A name-based UUID (RFC 4122 version 5, SHA-1) in the registry's form:
// "{2ED6657D-E927-568B-95E1-2665A8AEA6A2}". namespaceGuid with or without braces.
std::string NameBasedGuid(const std::string& namespaceGuid, const std::string& name);

}  // namespace qz
