#include "tools/host/pass_on_overlay.h"

#include "registry/api/registry_table_adapters.h"

namespace qz {

PassOutcome RunPassOnOverlay(PassEntry entry, RegistryApi& base, QzPassFlag flag, const std::string* modulePath,
                             const OverlayView& view, const EnvironmentLookup& environment) {
    PassOutcome outcome;
    outcome.overlay = std::make_unique<OverlayRegistry>(base);
    HostedRegistry hosted;
    hosted.registry = view ? &view(*outcome.overlay) : outcome.overlay.get();
    hosted.reportError = [&outcome](const std::string& message) { outcome.messages.push_back(message); };
    hosted.environmentVariable = environment;
    const QzRegistryTable table = RegistryTableFor(hosted);
    outcome.result = entry(&table, flag, modulePath != nullptr ? modulePath->c_str() : nullptr);
    outcome.changes = outcome.overlay->Changes();
    return outcome;
}

}  // namespace qz
