// qzreg unregister: the module's unregistration pass, its changes printed and made.
#include "tools/qzreg/command.h"
#include "tools/qzreg/usage.h"

namespace qz {
namespace {

CLI::App* Add(CLI::App& qzreg, Options& options) {
    CLI::App* verb =
        qzreg.add_subcommand("unregister", "unregister the module and print what the unregistration changed");
    AddPassOptions(*verb, options);
    verb->footer(ExitStatusText("unregister"));
    return verb;
}

int Run(const Options& options) { return RunPassCommand(options, false); }

}  // namespace

Verb UnregisterVerb() { return {Add, Run, true}; }

}  // namespace qz
