// qzreg harvest: the registration as data, against a given machine state; no
// registry is read or written.
#include <cstdio>

#include "tools/qzreg/command.h"
#include "tools/qzreg/harvest.h"
#include "tools/qzreg/usage.h"

namespace qz {
namespace {

CLI::App* Add(CLI::App& qzreg, Options& options) {
    CLI::App* verb =
        qzreg.add_subcommand("harvest", "print the registration as data (.reg or JSON) without changing any registry");
    static const std::vector<std::string> formats = {"reg", "json"};
    verb->add_option("-f,--format", options.format, "reg (the default: .reg text) or json")
        ->check(CLI::IsMember(formats));
    verb->footer(HarvestHelp() + "\n" + ExitStatusText("harvest"));
    return verb;
}

int Run(const Options& options) {
    ModuleLibrary module;
    if (const int status = LoadModule(options, module); status != kSuccess) return status;
    std::string output;
    std::string error;
    std::vector<std::string> messages;
    HarvestOptions harvest;
    harvest.imports = options.live.imports;
    const bool ok = HarvestRegistration(harvest, module.RunPass(), options.format, output, messages, error);
    for (const std::string& message : messages) PrintModuleMessage(message);
    if (!ok) {
        std::fprintf(stderr, "qzreg: %s\n", error.c_str());
        return kPassFailed;
    }
    std::fputs(output.c_str(), stdout);
    return kSuccess;
}

}  // namespace

Verb HarvestVerb() { return {Add, Run, false}; }

}  // namespace qz
