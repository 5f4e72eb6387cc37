#include "tools/host/pass_on_overlay.h"

#include <algorithm>

#include "registry/api/registry_table_adapters.h"
#include "registry/memory/reg_tree.h"
#include "text/code_page.h"

namespace qz {
namespace {

bool SameNote(const NotedKey& a, const NotedKey& b) {
    return a.hive == b.hive && RegistryNamesEqual(Utf8ToUtf16(a.key), Utf8ToUtf16(b.key)) &&
           RegistryNamesEqual(a.value, b.value);
}

// Keeps each thing once: a pass notes a directory at every lookup.
void AddOnce(std::vector<NotedKey>& list, NotedKey noted) {
    if (std::none_of(list.begin(), list.end(), [&noted](const NotedKey& k) { return SameNote(k, noted); }))
        list.push_back(std::move(noted));
}

void TakeNote(PassNotes& notes, QzNote kind, HKEY root, const char16_t* path, const char16_t* valueName) {
    const std::optional<RegRoot> hive = RootOfHandle(root);
    if (!hive) return;  // the module names keys by their roots only
    NotedKey noted{*hive, Utf16ToUtf8(path), valueName != nullptr ? std::u16string(valueName) : std::u16string()};
    switch (kind) {
        case QZ_NOTE_MACHINE_OWNED_VALUE: AddOnce(notes.machineOwnedValues, std::move(noted)); break;
        case QZ_NOTE_CURRENT_VERSIONS_KEY: AddOnce(notes.currentVersionsKeys, std::move(noted)); break;
        case QZ_NOTE_ANOTHER_VERSION_CURRENT: notes.anotherVersionCurrent = true; break;
        case QZ_NOTE_DIRECTORY_VALUE: AddOnce(notes.directoryValues, std::move(noted)); break;
    }
}

}  // namespace

PassOutcome RunPassOnOverlay(PassEntry entry, RegistryApi& base, QzPassFlag flag, const std::string* modulePath,
                             const OverlayView& view, const EnvironmentLookup& environment) {
    PassOutcome outcome;
    outcome.overlay = std::make_unique<OverlayRegistry>(base);
    HostedRegistry hosted;
    hosted.registry = view ? &view(*outcome.overlay) : outcome.overlay.get();
    hosted.reportError = [&outcome](const std::string& message) { outcome.messages.push_back(message); };
    hosted.environmentVariable = environment;
    hosted.note = [&outcome](QzNote kind, HKEY root, const char16_t* path, const char16_t* valueName) {
        TakeNote(outcome.notes, kind, root, path, valueName);
    };
    const QzRegistryTable table = RegistryTableFor(hosted);
    outcome.result = entry(&table, flag, modulePath != nullptr ? modulePath->c_str() : nullptr);
    outcome.changes = outcome.overlay->Changes();
    return outcome;
}

}  // namespace qz
