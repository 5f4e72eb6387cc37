#include "tools/qzreg/command.h"

#include <cstdio>
#include <memory>

#include "registry/changes/apply_changes.h"
#include "tools/host/pass_on_overlay.h"
#include "tools/qzreg/change_report.h"

namespace qz {

void PrintModuleMessage(const std::string& message) {
    std::fprintf(stderr, "Registration Error: %s\n", message.c_str());
}

int LoadModule(const Options& options, ModuleLibrary& module, std::string* why) {
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

void AddPassOptions(CLI::App& verb, Options& options) {
    static const std::vector<std::string> formats = {"reg", "json"};
    verb.add_flag("-n,--dry-run", options.dryRun, "print what the pass would change; change nothing");
    verb.add_option("-f,--format", options.format, "reg (the default: .reg text) or json")
        ->check(CLI::IsMember(formats));
}

int RunPassCommand(const Options& options, bool registering) {
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
    for (const std::string& message : pass.messages) PrintModuleMessage(message);
    if (!options.quiet) PrintChanges(options.format, pass.changes);

    const char* what = registering ? "registration" : "unregistration";
    if (!options.dryRun) {
        // Exactly the list printed is made. What the pass did stays, even when
        // it reported failures: nothing is rolled back.
        if (!ApplyRegistryChanges(pass.changes, live->registry(), error) || !live->Save(error)) {
            std::fprintf(stderr, "qzreg: the %s could not be written to %s:\n%s\n", what, live->Describe().c_str(),
                         error.c_str());
            return kPassFailed;
        }
    }
    if (pass.result != kSelfRegSuccess) {
        std::fprintf(stderr, "qzreg: the %s by %s failed (0x%08x)\n", what, options.module.c_str(),
                     static_cast<unsigned>(pass.result));
        return kPassFailed;
    }
    if (!options.quiet)
        std::fprintf(stderr, "qzreg: %s by %s %s (%s)\n", what, options.module.c_str(),
                     options.dryRun ? "previewed, nothing changed" : "done", live->Describe().c_str());
    return kSuccess;
}

}  // namespace qz
