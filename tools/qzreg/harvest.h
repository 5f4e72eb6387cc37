// The registration as data, for installers: the module's own registration pass
// run on an overlay of a registry that holds only a given machine state, so
// that no registry changes. Texts that depend on the target machine become
// references: the module's path the installed file ([#qzproduct.dll]), the
// modelling system's bin, help and lib directories installer properties
// ([ZUREDOREBIN], [ZUREDOREHELP], [ZUREDORELIB]) that the package finds with a
// registry search on the system's Dir key.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "registry/registry_api.h"
#include "registry/registry_changes.h"

namespace qz {

struct HarvestOptions {
    // .reg files with the machine state to harvest against: the installed
    // system versions decide the versioned Open verbs.
    std::vector<std::string> imports;
};

// The installed file's reference and the directory properties, as they appear in the harvest.
extern const char kHarvestModulePath[];
struct DirectoryProperty {
    const char* valueName;  // under the system's directory key (directory_key.h)
    const char* property;   // ZUREDOREBIN
};
const std::vector<DirectoryProperty>& HarvestDirectoryProperties();

// Runs one registration pass (runPass gets the overlay, the module path to
// record, and whether the module's messages count: not for the passes that
// find the directory key) and gives what it writes in the format asked for: "reg" or "json". False with error set when the machine state cannot be read or the pass
// reported a failure.
bool HarvestRegistration(const HarvestOptions& options,
                         const std::function<int32_t(RegistryApi& overlay, const char* modulePath, bool report)>& runPass,
                         const std::string& format, std::string& output, std::string& error);

// For qzreg harvest --help.
std::string HarvestHelp();

}  // namespace qz
