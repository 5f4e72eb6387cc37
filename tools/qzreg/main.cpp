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
#include <optional>
#include <string>
#include <vector>

#include "registry/memory/memory_registry.h"
#include "registry/changes/registry_changes.h"
#include "registry/changes/registry_data.h"
#include "tools/host/live_registry.h"
#include "tools/host/module_library.h"
#include "tools/host/pass_on_overlay.h"
#include "tools/qzreg/change_report.h"
#include "tools/qzreg/harvest.h"
#include "tools/qzreg/module_path.h"
#include "tools/qzreg/registry_folder_rule.h"
#include "tools/qzreg/usage.h"
#include "text/code_page.h"
#ifndef _WIN32
#include "registry/folder/registry_folder.h"
#endif

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

struct Options {
    std::string module;
    bool quiet = false;
    std::string format = "reg";
    bool dryRun = false;
    RegistryFolderRequest folder;  // native
    LiveRegistryOptions live;
    HarvestOptions harvest;
};

void PrintMessage(const std::string& message) { std::fprintf(stderr, "Registration Error: %s\n", message.c_str()); }

// Loads the module; on failure, the exit code to leave with, and the reason
// printed (or given in *why).
int LoadModule(const Options& options, ModuleLibrary& module, std::string* why = nullptr) {
    std::string error;
    const ModuleLibrary::Failure failure = module.Load(options.module, error);
    if (failure == ModuleLibrary::Failure::None) return kSuccess;
    if (why != nullptr) {
        *why = error;
    } else {
        std::fprintf(stderr, "qzreg: %s\n", error.c_str());
    }
    return failure == ModuleLibrary::Failure::ExportMissing ? kExportMissing : kModuleNotLoaded;
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

// A check that cannot judge: no drift is listed, the JSON says "intact": null
// with the reason, and the module's messages go with it.
int CheckCannotTell(const Options& options, int exitCode, const std::string& why,
                    const std::vector<std::string>& messages) {
    CheckResult result;
    result.judged = false;
    result.error = why;
    result.messages = messages;
    if (options.format == "json") {
        std::fputs(CheckAsJson(result).c_str(), stdout);
    } else {
        for (const std::string& message : messages) PrintMessage(message);
    }
    std::fprintf(stderr, "qzreg: %s\n", why.c_str());
    return exitCode;
}

// The default text of a classes-root key as the dry run leaves it: read from
// the pass's overlay, which holds what the registration would write.
RegisteredDefaultReader DefaultsAfterThePass(RegistryApi& overlay) {
    return [&overlay](const std::string& key) -> std::optional<std::string> {
        UniqueKey opened(overlay);
        if (overlay.OpenKeyExW(HKEY_CLASSES_ROOT, Utf8ToUtf16(key).c_str(), KEY_QUERY_VALUE, opened.put()) !=
            ERROR_SUCCESS)
            return std::nullopt;
        std::vector<BYTE> data(1024);
        DWORD size = static_cast<DWORD>(data.size());
        DWORD type = REG_NONE;
        if (overlay.QueryValueExW(opened.get(), u"", &type, data.data(), &size) != ERROR_SUCCESS || type != REG_SZ)
            return std::nullopt;
        data.resize(size);
        return Utf16ToUtf8(StringOfData(data));
    };
}

int Check(const Options& options) {
    std::string error;
    std::unique_ptr<LiveRegistry> live = LiveRegistry::Open(options.live, error);
    if (!live) return CheckCannotTell(options, kPassFailed, error, {});
    ModuleLibrary module;
    if (const int status = LoadModule(options, module, &error); status != kSuccess)
        return CheckCannotTell(options, status, error, {});

    // A registration as a dry run: what it would change is what differs.
    const PassOutcome pass = RunPassOnOverlay(module.RunPass(), live->registry(), QZ_PASS_REGISTER, nullptr);
    const std::vector<std::string>& messages = pass.messages;
    const int32_t result = pass.result;
    // What a failing pass would change is no measure of the registration (its
    // texts lack what the pass could not find): no drift is made of it.
    if (result != kSelfRegSuccess)
        return CheckCannotTell(options, kPassFailed,
                               "a registration would fail here, so the check cannot tell whether the registration "
                               "is intact (" + live->Describe() + ")",
                               messages);
    CheckResult check = ClassifyDrift(pass.changes, DefaultsAfterThePass(*pass.overlay));
    check.messages = messages;

    if (options.format == "json") {
        std::fputs(CheckAsJson(check).c_str(), stdout);
    } else {
        std::fputs(CheckAsText(check).c_str(), stdout);
        for (const std::string& message : messages) PrintMessage(message);
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
#ifdef _WIN32
    app.footer(ExitStatusText("") + "\n" + RegistryViewText());
#else
    app.footer(ExitStatusText("") + "\n" + kRegistryFolderRuleText);
#endif
    app.require_subcommand(1);
    app.fallthrough();

    CLI::Option* moduleOption = app.add_option(
        "-m,--module", options.module,
        "the module file to load, a path (a bare name is a file in the current folder); default: the one "
        "installed with qzreg");
    app.add_flag("-q,--quiet", options.quiet, "print nothing but errors");
#ifndef _WIN32
    CLI::Option* registryOption =
        app.add_option("-r,--registry", options.folder.option,
                       "the registry folder, which must exist (register --create makes it); default: "
                       "$QZ_REGISTRY_DIR (must exist too), else $XDG_STATE_HOME/orvantis/registry, else "
                       "~/.local/state/orvantis/registry (made when a command writes to it)");
    std::string lockTimeout;
    app.add_option("--lock-timeout", lockTimeout,
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

    const std::vector<std::string> changeFormats = {"reg", "json"};
    CLI::App* reg = app.add_subcommand("register", "register the module and print what the registration changed");
    CLI::App* unreg =
        app.add_subcommand("unregister", "unregister the module and print what the unregistration changed");
    for (CLI::App* sub : {reg, unreg}) {
        sub->add_flag("-n,--dry-run", options.dryRun, "print what the pass would change; change nothing");
        sub->add_option("-f,--format", options.format, "reg (the default: .reg text) or json")
            ->check(CLI::IsMember(changeFormats));
    }
#ifndef _WIN32
    reg->add_flag("--create", options.folder.create,
                  "make the registry folder named with --registry or QZ_REGISTRY_DIR when it does not exist (with "
                  "--dry-run nothing is made)");
#endif
    reg->footer(ExitStatusText("register"));
    unreg->footer(ExitStatusText("unregister"));
    CLI::App* check = app.add_subcommand(
        "check", "tell whether the machine still holds the module's registration (a registration as a dry run)");
    const std::vector<std::string> checkFormats = {"text", "json"};
    check->add_option("-f,--format", options.format, "text (the default: the differences, one a line) or json")
        ->check(CLI::IsMember(checkFormats));
    check->footer(MachineStateHelp() + "\n" + ExitStatusText("check"));

    const std::vector<std::string> harvestFormats = {"reg", "json"};
    CLI::App* harvest = app.add_subcommand(
        "harvest", "print the registration as data (.reg or JSON) without changing any registry");
    harvest->add_option("-f,--format", options.format, "reg (the default: .reg text) or json")
        ->check(CLI::IsMember(harvestFormats));
    harvest->footer(HarvestHelp() + "\n" + ExitStatusText("harvest"));

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
    options.harvest.imports = options.live.imports;
    if (moduleOption->count() > 0 && options.module.empty()) {
        std::fprintf(stderr, "qzreg: --module is empty: name the module file, or leave the option out for the "
                             "one installed with qzreg\n");
        return kUsage;
    }
    options.module = options.module.empty() ? DefaultModulePath() : ModulePathToLoad(options.module);

#ifndef _WIN32
    const std::string subcommand = app.get_subcommands().front()->get_name();
    options.folder.optionGiven = registryOption->count() > 0;
    RegistryFolderChoice folder;
    std::string error;
    if (!ChooseRegistryFolder(options.folder, subcommand, folder, error)) {
        std::fprintf(stderr, "qzreg: %s\n", error.c_str());
        return kUsage;
    }
    options.live.folder = folder.directory;
    // Only a real registration or unregistration writes into the folder.
    options.live.readOnly = options.dryRun || *check;
    options.live.machineClasses = static_cast<bool>(*check);  // the store the package writes, not this user's view
    if (!lockTimeout.empty()) {
        std::chrono::milliseconds timeout{};
        ParseLockTimeout(lockTimeout, timeout, error);
        options.live.lockTimeoutSeconds = static_cast<double>(timeout.count()) / 1000.0;
    }
#endif

    if (*reg) return RegisterOrUnregister(options, true);
    if (*unreg) return RegisterOrUnregister(options, false);
    if (*check) return Check(options);
    if (*harvest) return Harvest(options);
    return kUsage;
}
