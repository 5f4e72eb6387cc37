// Counts the registry operations of one register pass and one unregister pass,
// as the module's logic makes them (through the registry seam, on an in-memory
// registry seeded from a .reg file), by operation.
//
//   build/native/bin/count_registry_operations [seed.reg]
//
// The seed defaults to tests/e2e/fixtures/settings_seed.reg (run from the source
// directory). The register pass is RegisterApplicationName and the thirteen
// steps with the flag 1, as DllRegisterServer runs them; the unregister pass,
// run right after it, is RemoveProductKeys and the steps with the flag 0.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "module/module_strings.h"
#include "module/registration_driver.h"
#include "registration/module_state.h"
#include "registration/registration_steps.h"
#include "registry/memory/fault_injecting_registry.h"
#include "registry/memory/memory_registry.h"
#include "registry/reg_file/reg_file.h"

namespace {

class CountingReporter final : public qz::ErrorReporter {
public:
    void Report(const std::string& message) override {
        std::fprintf(stderr, "Registration Error: %s\n", message.c_str());
        ++count;
    }
    int count = 0;
};

const qz::RegOp kOperations[] = {qz::RegOp::CreateKey, qz::RegOp::OpenKey,     qz::RegOp::SetValue,
                                 qz::RegOp::QueryValue, qz::RegOp::QueryInfoKey, qz::RegOp::EnumKey,
                                 qz::RegOp::EnumValue,  qz::RegOp::DeleteKey,    qz::RegOp::DeleteValue,
                                 qz::RegOp::CloseKey};

// Where each part of a pass begins in the call log: the pre-step at 0, then each driver step.
struct PassPart {
    std::string name;
    std::size_t firstCall;
};

void PrintCounts(const char* title, const qz::FaultInjectingRegistry& registry, const std::vector<PassPart>& parts,
                 int boxes) {
    std::printf("%s\n", title);
    for (qz::RegOp op : kOperations)
        std::printf("  %-13s %5zu\n", qz::RegOpName(op), registry.CountCalls(op));
    std::printf("  %-13s %5zu   (error boxes: %d)\n", "total", registry.Calls().size(), boxes);
    std::printf("  by part of the pass:\n");
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::size_t end = i + 1 < parts.size() ? parts[i + 1].firstCall : registry.Calls().size();
        std::printf("    %-32s %5zu\n", parts[i].name.c_str(), end - parts[i].firstCall);
    }
}

}  // namespace

// The driver's steps, one by one in its order, each marking where its calls begin.
void RunStepsCountingEach(int registerFlag, qz::FaultInjectingRegistry& registry, std::vector<PassPart>& parts) {
    int count = 0;
    const qz::RegistrationStep* steps = qz::RegistrationSteps(count);
    for (int i = 0; i < count; ++i) {
        parts.push_back(PassPart{std::to_string(i + 1) + " " + steps[i].name, registry.Calls().size()});
        steps[i].run(registerFlag, qz::ModulePath());
    }
}

int main(int argc, char** argv) {
    const std::string seedPath = argc > 1 ? argv[1] : "tests/e2e/fixtures/settings_seed.reg";
    std::ifstream in(seedPath, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "count_registry_operations: cannot read %s\n", seedPath.c_str());
        return 2;
    }
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    qz::MemoryRegistry memory;
    std::string error;
    if (!qz::ImportRegText(qz::DecodeRegFileBytes(bytes), memory, error)) {
        std::fprintf(stderr, "count_registry_operations: %s: %s\n", seedPath.c_str(), error.c_str());
        return 2;
    }
    qz::FaultInjectingRegistry registry(memory);
    CountingReporter reporter;
    std::vector<PassPart> parts;
    qz::ModuleServices services;
    services.registry = &registry;
    services.reporter = &reporter;
    services.strings = &qz::ModuleStrings();
    qz::ScopedServices scoped(services);

    std::printf("seed: %s\n", seedPath.c_str());
    qz::ModulePath() = "C:\\Program Files\\Orvantis Test\\qzproduct.dll";
    parts.push_back(PassPart{"RegisterApplicationName", 0});
    qz::RegisterApplicationName();
    RunStepsCountingEach(qz::kRegister, registry, parts);
    PrintCounts("register pass (RegisterApplicationName + RunRegistrationSteps(kRegister)):", registry, parts,
                reporter.count);
    const int registerBoxes = reporter.count;

    registry.ClearCalls();
    reporter.count = 0;
    parts.assign(1, PassPart{"RemoveProductKeys", 0});
    qz::ModulePath().clear();
    qz::RemoveProductKeys();
    RunStepsCountingEach(qz::kUnregister, registry, parts);
    PrintCounts("unregister pass (RemoveProductKeys + RunRegistrationSteps(kUnregister)):", registry, parts,
                reporter.count);

    const bool leaked = memory.OpenHandleCount() != 0;
    if (leaked) std::fprintf(stderr, "count_registry_operations: %zu key handles left open\n", memory.OpenHandleCount());
    return registerBoxes == 0 && reporter.count == 0 && !leaked ? 0 : 1;
}
