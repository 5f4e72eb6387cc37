// What qzreg's verbs share: the exit codes, the options the command line
// gave, the module loaded, the pass's messages and changes printed. Each verb
// lives in a file of its own (verb_*.cpp): its subcommand, its options and
// what it does; main() only parses and dispatches.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

#include "registry/changes/registry_changes.h"
#include "tools/host/live_registry.h"
#include "tools/host/module_library.h"
#include "tools/qzreg/registry_folder_rule.h"

namespace qz {

// Exit codes: regsvr32's, and one of our own for a check that finds drift.
enum ExitCode {
    kSuccess = 0,
    kUsage = 1,
    kModuleNotLoaded = 3,
    kExportMissing = 4,
    kPassFailed = 5,
    kDrift = 6,
};

// QzRunRegistrationPass's result for a pass that reported no failure.
constexpr int32_t kSelfRegSuccess = 0;

struct Options {
    std::string module;
    bool quiet = false;
    std::string format = "reg";  // check reads anything but "json" as its text form
    bool dryRun = false;
    RegistryFolderRequest folder;  // native
    LiveRegistryOptions live;
};

// One verb: its subcommand, added to qzreg's with its own options (which
// write into options), and what runs it once the command line is parsed.
struct Verb {
    CLI::App* (*add)(CLI::App& qzreg, Options& options);
    int (*run)(const Options& options);
    // Only a real registration or unregistration writes into the registry folder.
    bool writes(const Options& options) const { return writesUnlessDryRun && !options.dryRun; }
    bool writesUnlessDryRun;
};

Verb RegisterVerb();
Verb UnregisterVerb();
Verb CheckVerb();
Verb HarvestVerb();

// "Registration Error: <message>" on stderr, as the module's box would say it.
void PrintModuleMessage(const std::string& message);

// Loads the module options name; on failure, the exit code to leave with,
// and the reason printed (or given in *why).
int LoadModule(const Options& options, ModuleLibrary& module, std::string* why = nullptr);

// The changes as .reg text, or JSON for --format json.
void PrintChanges(const std::string& format, const std::vector<RegistryChange>& changes);

// register's and unregister's own options: --dry-run and --format.
void AddPassOptions(CLI::App& verb, Options& options);

// A registration or unregistration pass on an overlay of the live registry:
// its changes printed, then (unless a dry run) those same changes made.
int RunPassCommand(const Options& options, bool registering);

}  // namespace qz
