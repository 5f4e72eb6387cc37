#include "tools/qzreg/registry_folder_rule.h"

#include <cstdlib>

#include "registry/folder/registry_folder.h"

namespace qz {

const char kRegistryFolderRuleText[] =
    "The registry folder: --registry DIR, else $QZ_REGISTRY_DIR, else $XDG_STATE_HOME/orvantis/registry, else\n"
    "~/.local/state/orvantis/registry. Only those last two, the default folder, are made by a command that\n"
    "writes and finds them missing; a folder named with --registry or QZ_REGISTRY_DIR must exist unless\n"
    "register is given --create. check, a dry run and harvest never write into a folder, nor make one.\n";

bool ChooseRegistryFolder(const RegistryFolderRequest& request, const std::string& subcommand,
                          RegistryFolderChoice& choice, std::string& error) {
    std::string namedBy;
    if (request.optionGiven) {
        if (request.option.empty()) {
            error = "--registry is empty: name an existing registry folder, or leave the option out for the "
                    "default one";
            return false;
        }
        choice.directory = request.option;
        namedBy = "--registry";
    } else if (const char* variable = std::getenv("QZ_REGISTRY_DIR"); variable != nullptr) {
        if (*variable == '\0') {
            error = "QZ_REGISTRY_DIR is set but empty: name an existing registry folder in it, or unset it for the "
                    "default folder";
            return false;
        }
        choice.directory = variable;
        namedBy = "QZ_REGISTRY_DIR";
    } else {
        choice.directory = DefaultRegistryFolder();
    }
    choice.exists = !RegistryFolderIsMissing(choice.directory);
    if (choice.exists || namedBy.empty() || request.create) return true;
    error = "the registry folder " + choice.directory + " does not exist (named by " + namedBy + ")";
    if (subcommand == "register") error += "; register --create makes a new registry there";
    return false;
}

}  // namespace qz
