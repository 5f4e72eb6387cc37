#include "registry/api/win32_registry.h"
#include "tools/host/live_registry.h"

namespace qz {
namespace {

class SystemRegistry final : public LiveRegistry {
public:
    explicit SystemRegistry(bool machineClasses)
        : registry_(machineClasses ? Win32Registry::Classes::Machine : Win32Registry::Classes::Merged) {}
    RegistryApi& registry() override { return registry_; }
    bool Save(std::string&) override { return true; }
    std::string Describe() const override { return "the system registry"; }

private:
    Win32Registry registry_;
};

}  // namespace

std::unique_ptr<LiveRegistry> LiveRegistry::Open(const LiveRegistryOptions& options, std::string& error) {
    if (!options.imports.empty()) {
        // The system registry has its own tools for that (reg import); qzreg
        // imports only into a harvest's machine state.
        error = "--import applies to harvest here; use 'reg import' for the system registry";
        return nullptr;
    }
    return std::make_unique<SystemRegistry>(options.machineClasses);
}

}  // namespace qz
