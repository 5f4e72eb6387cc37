// Which registry folder a native qzreg command works on, and whether it may
// make it. Only the default folder is made on demand: a folder named with
// --registry or QZ_REGISTRY_DIR must exist (register --create makes it), so
// that a mistyped path or an unset variable in a script never becomes a new,
// empty registry, nor quietly the user's own.
#pragma once

#include <string>

namespace qz {

struct RegistryFolderRequest {
    bool optionGiven = false;  // --registry was on the command line
    std::string option;        // its value
    bool create = false;       // register --create: a missing named folder is made
};

struct RegistryFolderChoice {
    std::string directory;
    // Decided here once for the command: false, a writing command makes the
    // folder and a reading one reads an empty registry (LiveRegistryOptions).
    bool exists = false;
};

// False with error set (a usage error: exit 1) when the option or
// QZ_REGISTRY_DIR is empty, or a named folder is missing and may not be made.
// subcommand names the command in the hint a missing folder gets.
bool ChooseRegistryFolder(const RegistryFolderRequest& request, const std::string& subcommand,
                          RegistryFolderChoice& choice, std::string& error);

// For --help: the rule in words.
extern const char kRegistryFolderRuleText[];

}  // namespace qz
