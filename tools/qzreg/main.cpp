// qzreg: the registration host of the product module, natively (into the
// registry folder) and on Windows (into the system registry). It loads the
// module the user names and runs the module's own pass through the module's
// entry point, against an overlay of the registry: the overlay's record is what
// the pass changes, printed as .reg text or JSON, and made for real unless the
// command is a dry run or a check. Each verb is a file of its own (verb_*.cpp);
// here are the options every verb shares and the dispatch.
#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "tools/host/module_library.h"
#include "tools/qzreg/command.h"
#include "tools/qzreg/registry_folder_rule.h"
#include "tools/qzreg/usage.h"
#ifndef _WIN32
#include "registry/folder/registry_folder.h"
#endif

namespace qz {
namespace {

// The options before the verb, as the parser holds them.
struct SharedOptions {
    CLI::Option* module = nullptr;
    CLI::Option* registry = nullptr;  // native
    std::string lockTimeout;          // native
};

void AddSharedOptions(CLI::App& app, Options& options, SharedOptions& shared) {
#ifdef _WIN32
    app.footer(ExitStatusText("") + "\n" + RegistryViewText());
#else
    app.footer(ExitStatusText("") + "\n" + kRegistryFolderRuleText);
#endif
    shared.module = app.add_option(
        "-m,--module", options.module,
        "the module file to load, a path (a bare name is a file in the current folder); default: the one "
        "installed with qzreg");
    app.add_flag("-q,--quiet", options.quiet, "print nothing but errors");
#ifndef _WIN32
    shared.registry =
        app.add_option("-r,--registry", options.folder.option,
                       "the registry folder, which must exist (register --create makes it); default: "
                       "$QZ_REGISTRY_DIR (must exist too), else $XDG_STATE_HOME/orvantis/registry, else "
                       "~/.local/state/orvantis/registry (made when a command writes to it)");
    app.add_option("--lock-timeout", shared.lockTimeout,
                   "how long to wait for another process using the registry folder: a number of seconds from 0 "
                   "(fail at once) to 86400 (a day), decimals allowed; default 60")
        ->check(CLI::Validator(
            [](std::string& text) {
                std::chrono::milliseconds timeout{};
                std::string error;
                return ParseLockTimeout(text, timeout, error) ? std::string() : error;
            },
            "SECONDS"));
#endif
    app.add_option("-i,--import", options.live.imports,
#ifndef _WIN32
                   "a .reg file (5.00 or REGEDIT4) to import into the registry before the pass (in memory only for "
                   "check and a dry run; for harvest: the machine state to harvest against); may be given more "
                   "than once"
#else
                   "for harvest: a .reg file (5.00 or REGEDIT4) with the machine state to harvest against; may be "
                   "given more than once"
#endif
                   )
        ->check(CLI::ExistingFile);
}

// Parses the command line: nullopt to go on, else the exit code (help printed,
// or a usage error).
std::optional<int> Parse(CLI::App& app, int argc, char** argv) {
    try {
        app.parse(argc, argv);
    } catch (const CLI::RequiredError& e) {
        // The one thing required is a subcommand: say which word was taken for one.
        if (app.get_subcommands().empty()) {
            const std::vector<std::string> rest = app.remaining();
            const bool misspelt = !rest.empty() && !rest.front().empty() && rest.front()[0] != '-';
            std::fprintf(stderr, "qzreg: %s\n",
                         (misspelt ? UnknownSubcommandText(rest.front()) : MissingSubcommandText()).c_str());
            return kUsage;
        }
        return app.exit(e) == 0 ? kSuccess : kUsage;
    } catch (const CLI::ParseError& e) {
        // Help, or CLI11's own message with the usage: exit 1 as regsvr32 does for bad arguments.
        return app.exit(e) == 0 ? kSuccess : kUsage;
    }
    return std::nullopt;
}

// What the parsed options mean: the module file, and natively the registry
// folder and how it is opened. kSuccess, or kUsage with the reason printed.
int Resolve(Options& options, const SharedOptions& shared, const std::string& verbName, bool writes) {
    if (shared.module->count() > 0 && options.module.empty()) {
        std::fprintf(stderr, "qzreg: --module is empty: name the module file, or leave the option out for the "
                             "one installed with qzreg\n");
        return kUsage;
    }
    options.module = options.module.empty() ? DefaultModulePath() : ModulePathToLoad(options.module);
#ifndef _WIN32
    options.folder.optionGiven = shared.registry->count() > 0;
    RegistryFolderChoice folder;
    std::string error;
    if (!ChooseRegistryFolder(options.folder, verbName, folder, error)) {
        std::fprintf(stderr, "qzreg: %s\n", error.c_str());
        return kUsage;
    }
    options.live.folder = folder.directory;
    options.live.folderExists = folder.exists;
    options.live.readOnly = !writes;
    if (!shared.lockTimeout.empty()) {
        std::chrono::milliseconds timeout{};
        ParseLockTimeout(shared.lockTimeout, timeout, error);
        options.live.lockTimeoutSeconds = static_cast<double>(timeout.count()) / 1000.0;
    }
#else
    (void)verbName;
    (void)writes;
#endif
    return kSuccess;
}

}  // namespace
}  // namespace qz

int main(int argc, char** argv) {
    using namespace qz;
    Options options;
    CLI::App app{"Register, preview, check or harvest the Orvantis product module's registration."};
    app.require_subcommand(1);
    app.fallthrough();
    SharedOptions shared;
    AddSharedOptions(app, options, shared);

    const Verb verbs[] = {RegisterVerb(), UnregisterVerb(), CheckVerb(), HarvestVerb()};
    std::vector<CLI::App*> subcommands;
    for (const Verb& verb : verbs) subcommands.push_back(verb.add(app, options));

    if (const std::optional<int> status = Parse(app, argc, argv)) return *status;
    for (std::size_t i = 0; i < subcommands.size(); ++i) {
        if (!*subcommands[i]) continue;
        const int status = Resolve(options, shared, subcommands[i]->get_name(), verbs[i].writes(options));
        return status != kSuccess ? status : verbs[i].run(options);
    }
    return kUsage;
}
