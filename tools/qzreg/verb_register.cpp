// qzreg register: the module's registration pass, its changes printed and made.
#include "tools/qzreg/command.h"
#include "tools/qzreg/usage.h"

namespace qz {
namespace {

CLI::App* Add(CLI::App& qzreg, Options& options) {
    CLI::App* verb = qzreg.add_subcommand("register", "register the module and print what the registration changed");
    AddPassOptions(*verb, options);
#ifndef _WIN32
    verb->add_flag("--create", options.folder.create,
                   "make the registry folder named with --registry or QZ_REGISTRY_DIR when it does not exist (with "
                   "--dry-run nothing is made)");
#endif
    verb->footer(ExitStatusText("register"));
    return verb;
}

int Run(const Options& options) { return RunPassCommand(options, true); }

}  // namespace

Verb RegisterVerb() { return {Add, Run, true}; }

}  // namespace qz
