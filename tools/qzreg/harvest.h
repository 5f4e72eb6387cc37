// The registration as data: the module's own registration pass run on an
// overlay of a registry that holds only a given machine state, so that no
// registry changes. Texts that depend on the target machine become references
// in Windows Installer's Formatted syntax: the module's path the installed file
// ([#qzproduct.dll]), the modelling system's bin, help and lib directories the
// properties [ZUREDOREBIN], [ZUREDOREHELP] and [ZUREDORELIB], for a package of
// one's own that sets them. The product's package does not use it: its custom
// action runs the pass on each machine (docs/deployment.md).
#pragma once

#include <string>
#include <vector>

#include "registry/changes/registry_changes.h"
#include "tools/host/pass_on_overlay.h"

namespace qz {

struct HarvestOptions {
    // .reg files with the machine state to harvest against: the installed
    // system versions decide the versioned Open verbs.
    std::vector<std::string> imports;
};

// The installed file's reference and the directory properties, as they appear in the harvest.
extern const char kHarvestModulePath[];
struct DirectoryProperty {
    const char* valueName;  // as the module's pass notes it reads it
    const char* property;   // ZUREDOREBIN
};
const std::vector<DirectoryProperty>& HarvestDirectoryProperties();

// Runs the module's registration (entry) and gives what it writes in the
// format asked for: "reg" or "json"; messages gets the module's messages of
// that pass (not of the passes that find the directory key). False with error
// set when the machine state cannot be read or the pass reported a failure.
bool HarvestRegistration(const HarvestOptions& options, PassEntry entry, const std::string& format,
                         std::string& output, std::vector<std::string>& messages, std::string& error);

// For qzreg harvest --help.
std::string HarvestHelp();

}  // namespace qz
