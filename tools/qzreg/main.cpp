// qzreg: the registration host of the product module, natively (into the
// registry folder) and on Windows (into the system registry). It loads the
// module the user names and runs the module's own pass through the module's
// entry point, against an overlay of the registry: the overlay's record is what
// the pass changes, printed as .reg text or JSON, and made for real unless the
// command is a dry run or a check.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "registry/memory_registry.h"
#include "registry/registry_changes.h"
#include "tools/host/live_registry.h"
#include "tools/host/module_library.h"
#include "tools/host/pass_on_overlay.h"
#include "tools/qzreg/change_report.h"
#include "tools/qzreg/harvest.h"

namespace qz {
namespace {

// Exit codes: regsvr32's, and one of our own for a check that finds drift.
enum ExitCode {
    kSuccess = 0,
    kUsage = 1,
    kModuleNotLoaded = 3,
    kExportMissing = 4,
    kPassFailed = 5,
    kDrift = 6,
};

constexpr int32_t kSelfRegSuccess = 0;

const char kExitCodesText[] =
    "Exit status (0 to 5 as regsvr32's):\n"
    "  0  success; for check: the registration is intact\n"
    "  1  bad arguments\n"
    "  3  the module could not be loaded\n"
    "  4  the module lacks its registration entry point\n"
    "  5  the pass failed: it reported an error, or the registry could not be\n"
    "     read or written\n"
    "  6  check: the registration has drifted (the differences are listed)\n";

struct Options {
    std::string module;
    bool quiet = false;
    std::string format = "reg";
    bool dryRun = false;
    LiveRegistryOptions live;
    HarvestOptions harvest;
};

void PrintMessage(const std::string& message) { std::fprintf(stderr, "Registration Error: %s\n", message.c_str()); }

// Loads the module; on failure, the exit code to leave with.
int LoadModule(const Options& options, ModuleLibrary& module) {
    std::string error;
    switch (module.Load(options.module, error)) {
        case ModuleLibrary::Failure::None: return kSuccess;
        case ModuleLibrary::Failure::NotLoaded: std::fprintf(stderr, "qzreg: %s\n", error.c_str()); return kModuleNotLoaded;
        case ModuleLibrary::Failure::ExportMissing:
            std::fprintf(stderr, "qzreg: %s\n", error.c_str());
            return kExportMissing;
    }
    return kModuleNotLoaded;
}

void PrintChanges(const std::string& format, const std::vector<RegistryChange>& changes) {
    if (format == "json") {
        std::fputs(ChangesAsJson(changes).c_str(), stdout);
    } else {
        std::fputs(RegistryChangesAsRegText(changes).c_str(), stdout);
    }
}

int RegisterOrUnregister(const Options& options, bool registering) {
    std::string error;
    std::unique_ptr<LiveRegistry> live = LiveRegistry::Open(options.live, error);
    if (!live) {
        std::fprintf(stderr, "qzreg: %s\n", error.c_str());
        return kPassFailed;
    }
    ModuleLibrary module;
    if (const int status = LoadModule(options, module); status != kSuccess) return status;

    const PassOutcome pass = RunPassOnOverlay(module.RunPass(), live->registry(),
                                              registering ? QZ_PASS_REGISTER : QZ_PASS_UNREGISTER, nullptr);
    for (const std::string& message : pass.messages) PrintMessage(message);
    const int32_t result = pass.result;
    if (!options.quiet) PrintChanges(options.format, pass.changes);

    const char* what = registering ? "registration" : "unregistration";
    if (!options.dryRun) {
        // What the pass did stays, even when it reported failures: nothing is rolled back.
        if (!pass.overlay->Commit(error) || !live->Save(error)) {
            std::fprintf(stderr, "qzreg: the %s could not be written to %s:\n%s\n", what, live->Describe().c_str(),
                         error.c_str());
            return kPassFailed;
        }
    }
    if (result != kSelfRegSuccess) {
        std::fprintf(stderr, "qzreg: the %s by %s failed (0x%08x)\n", what, options.module.c_str(),
                     static_cast<unsigned>(result));
        return kPassFailed;
    }
    if (!options.quiet)
        std::fprintf(stderr, "qzreg: %s by %s %s (%s)\n", what, options.module.c_str(),
                     options.dryRun ? "previewed, nothing changed" : "done", live->Describe().c_str());
    return kSuccess;
}

int Check(const Options& options) {
    std::string error;
    std::unique_ptr<LiveRegistry> live = LiveRegistry::Open(options.live, error);
    if (!live) {
        std::fprintf(stderr, "qzreg: %s\n", error.c_str());
        return kPassFailed;
    }
    ModuleLibrary module;
    if (const int status = LoadModule(options, module); status != kSuccess) return status;

    // A registration as a dry run: what it would change is what differs.
    const PassOutcome pass = RunPassOnOverlay(module.RunPass(), live->registry(), QZ_PASS_REGISTER, nullptr);
    const int32_t result = pass.result;
    CheckResult check = ClassifyDrift(pass.changes);
    check.messages = pass.messages;

    if (options.format == "json") {
        std::fputs(CheckAsJson(check).c_str(), stdout);
    } else {
        std::fputs(CheckAsText(check).c_str(), stdout);
        for (const std::string& message : pass.messages) PrintMessage(message);
    }
    if (result != kSelfRegSuccess) {
        if (options.format != "json")
            std::fprintf(stderr, "qzreg: a registration would fail here, so the check cannot tell (%s)\n",
                         live->Describe().c_str());
        return kPassFailed;
    }
    if (!check.drift.empty()) {
        if (options.format != "json")
            std::fprintf(stderr, "qzreg: the registration has drifted: %zu difference%s (%s)\n", check.drift.size(),
                         check.drift.size() == 1 ? "" : "s", live->Describe().c_str());
        return kDrift;
    }
    if (options.format != "json") std::fprintf(stdout, "The registration is intact (%s).\n", live->Describe().c_str());
    return kSuccess;
}

int Harvest(const Options& options) {
    ModuleLibrary module;
    if (const int status = LoadModule(options, module); status != kSuccess) return status;
    std::string output;
    std::string error;
    std::vector<std::string> messages;
    const bool ok = HarvestRegistration(options.harvest, module.RunPass(), options.format, output, messages, error);
    for (const std::string& message : messages) PrintMessage(message);
    if (!ok) {
        std::fprintf(stderr, "qzreg: %s\n", error.c_str());
        return kPassFailed;
    }
    std::fputs(output.c_str(), stdout);
    return kSuccess;
}

std::string MachineStateHelp() {
    std::string text = "Values that are the machine's own state once registered (never drift):\n";
    for (const std::string& rule : MachineStateRuleTexts()) text += "  - " + rule + "\n";
    return text;
}

}  // namespace
}  // namespace qz

int main(int argc, char** argv) {
    using namespace qz;
    Options options;
    CLI::App app{"Register, preview, check or harvest the Orvantis product module's registration."};
    app.footer(kExitCodesText);
    app.require_subcommand(1);
    app.fallthrough();

    app.add_option("-m,--module", options.module, "the module to load (default: the one installed with qzreg)");
    app.add_flag("-q,--quiet", options.quiet, "print nothing but errors");
#ifndef _WIN32
    app.add_option("-r,--registry", options.live.folder,
                   "the registry folder (default: $QZ_REGISTRY_DIR, else $XDG_STATE_HOME/orvantis/registry, "
                   "else ~/.local/state/orvantis/registry)");
    app.add_option("--lock-timeout", options.live.lockTimeoutSeconds,
                   "seconds to wait for another process using the registry folder (default 60)")
        ->check(CLI::NonNegativeNumber);
#endif
    app.add_option("-i,--import", options.live.imports,
#ifndef _WIN32
                   "a .reg file (5.00 or REGEDIT4) to import into the registry folder before the pass (for harvest: "
                   "the machine state to harvest against); may be given more than once"
#else
                   "for harvest: a .reg file (5.00 or REGEDIT4) with the machine state to harvest against; may be "
                   "given more than once"
#endif
                   )
        ->check(CLI::ExistingFile);

    const std::vector<std::string> changeFormats = {"reg", "json"};
    CLI::App* reg = app.add_subcommand("register", "register the module and print what the registration changed");
    CLI::App* unreg =
        app.add_subcommand("unregister", "unregister the module and print what the unregistration changed");
    for (CLI::App* sub : {reg, unreg}) {
        sub->add_flag("-n,--dry-run", options.dryRun, "print what the pass would change; change nothing");
        sub->add_option("-f,--format", options.format, "reg (default) or json")
            ->check(CLI::IsMember(changeFormats));
    }
    CLI::App* check = app.add_subcommand(
        "check", "tell whether the machine still holds the module's registration (a registration as a dry run)");
    check->add_option("-f,--format", options.format, "reg (default: text) or json")->check(CLI::IsMember(changeFormats));
    check->footer(MachineStateHelp());

    const std::vector<std::string> harvestFormats = {"reg", "json"};
    CLI::App* harvest = app.add_subcommand(
        "harvest", "print the registration as data (.reg or JSON) without changing any registry");
    harvest->add_option("-f,--format", options.format, "reg (default) or json")
        ->check(CLI::IsMember(harvestFormats));
    harvest->footer(HarvestHelp());

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Help, or CLI11's own message with the usage: exit 1 as regsvr32 does for bad arguments.
        return app.exit(e) == 0 ? kSuccess : kUsage;
    }
    options.harvest.imports = options.live.imports;
    if (options.module.empty()) options.module = DefaultModulePath();

    if (*reg) return RegisterOrUnregister(options, true);
    if (*unreg) return RegisterOrUnregister(options, false);
    if (*check) return Check(options);
    if (*harvest) return Harvest(options);
    return kUsage;
}
