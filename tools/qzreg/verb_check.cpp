// qzreg check: a registration as a dry run; what it would change, less what
// the module says the machine owns, is drift.
#include <cstdio>
#include <memory>

#include "tools/host/pass_on_overlay.h"
#include "tools/qzreg/change_report.h"
#include "tools/qzreg/command.h"
#include "tools/qzreg/usage.h"

namespace qz {
namespace {

std::string MachineStateHelp() {
    std::string text = "Values that are the machine's own state once registered (never drift):\n";
    for (const std::string& rule : MachineStateRuleTexts()) text += "  - " + rule + "\n";
    return text;
}

CLI::App* Add(CLI::App& qzreg, Options& options) {
    CLI::App* verb = qzreg.add_subcommand(
        "check", "tell whether the machine still holds the module's registration (a registration as a dry run)");
    static const std::vector<std::string> formats = {"text", "json"};
    verb->add_option("-f,--format", options.format, "text (the default: the differences, one a line) or json")
        ->check(CLI::IsMember(formats));
    verb->footer(MachineStateHelp() + "\n" + ExitStatusText("check"));
    return verb;
}

// A check that cannot judge: no drift is listed, the JSON says "intact": null
// with the reason, and the module's messages go with it.
int CannotTell(const Options& options, int exitCode, const std::string& why,
               const std::vector<std::string>& messages) {
    CheckResult result;
    result.judged = false;
    result.error = why;
    result.messages = messages;
    if (options.format == "json") {
        std::fputs(CheckAsJson(result).c_str(), stdout);
    } else {
        for (const std::string& message : messages) PrintModuleMessage(message);
    }
    std::fprintf(stderr, "qzreg: %s\n", why.c_str());
    return exitCode;
}

int Run(const Options& options) {
    std::string error;
    // The classes from the store the package writes, whoever runs the check: a
    // user's own classes (which HKEY_CLASSES_ROOT merges in) count neither as the
    // registration nor as drift.
    LiveRegistryOptions machineView = options.live;
    machineView.machineClasses = true;
    std::unique_ptr<LiveRegistry> live = LiveRegistry::Open(machineView, error);
    if (!live) return CannotTell(options, kPassFailed, error, {});
    ModuleLibrary module;
    if (const int status = LoadModule(options, module, &error); status != kSuccess)
        return CannotTell(options, status, error, {});

    // A registration as a dry run: what it would change is what differs.
    const PassOutcome pass = RunPassOnOverlay(module.RunPass(), live->registry(), QZ_PASS_REGISTER, nullptr);
    // What a failing pass would change is no measure of the registration (its
    // texts lack what the pass could not find): no drift is made of it.
    if (pass.result != kSelfRegSuccess)
        return CannotTell(options, kPassFailed,
                          "a registration would fail here, so the check cannot tell whether the registration "
                          "is intact (" + live->Describe() + ")",
                          pass.messages);
    CheckResult check = ClassifyDrift(pass.changes, pass.notes);
    check.messages = pass.messages;

    if (options.format == "json") {
        std::fputs(CheckAsJson(check).c_str(), stdout);
    } else {
        std::fputs(CheckAsText(check).c_str(), stdout);
        for (const std::string& message : pass.messages) PrintModuleMessage(message);
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

}  // namespace

Verb CheckVerb() { return {Add, Run, false}; }

}  // namespace qz
