// What every host of the module does to see a pass: run it through the
// module's entry point on an overlay of a registry, collect the module's
// messages, list what the pass would change. qzreg takes the entry point from
// the module file it loads; the package's custom action, which carries the
// module's code, from the function linked into it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "registry/overlay/overlay_registry.h"
#include "registry/api/registry_api.h"
#include "registry/changes/registry_changes.h"
#include "registry/api/registry_table.h"
#include "registry/api/registry_table_adapters.h"

namespace qz {

// QzRunRegistrationPass's signature (registry/api/registry_table.h).
using PassEntry = QzRunRegistrationPassFunction;

// A key or value the module named in a note, as the change list names keys:
// its hive (the classes root for HKEY_CLASSES_ROOT) and its path below it.
struct NotedKey {
    RegRoot hive = RegRoot::ClassesRoot;
    std::string key;        // UTF-8
    std::u16string value;   // the value's name, for the kinds that name one
};

// What the module told the host about what it writes (the QzNote kinds of
// registry/api/registry_table.h), each thing once.
struct PassNotes {
    std::vector<NotedKey> machineOwnedValues;
    std::vector<NotedKey> currentVersionsKeys;
    bool anotherVersionCurrent = false;
    std::vector<NotedKey> directoryValues;
};

struct PassOutcome {
    int32_t result = 0;                    // the entry's: 0 (S_OK), else the pass reported a failure
    std::vector<std::string> messages;     // the module's messages (UTF-8), in order
    std::vector<RegistryChange> changes;   // what the pass would change in the base registry
    PassNotes notes;
    // The overlay the pass ran on: what it recorded is in changes.
    std::unique_ptr<OverlayRegistry> overlay;
};

// A decorator the module sees the overlay through (one that notes what the pass
// reads, say): given the overlay, it returns the registry to hand the module.
using OverlayView = std::function<RegistryApi&(RegistryApi& overlay)>;

// One pass on a fresh overlay of base, which is only read. modulePath: the
// path a registration records for the module (null: the module's own file).
// environment: the variables the module expands the modelling system's
// directories with (empty: the module's process environment).
PassOutcome RunPassOnOverlay(PassEntry entry, RegistryApi& base, QzPassFlag flag, const std::string* modulePath,
                             const OverlayView& view = {}, const EnvironmentLookup& environment = {});

}  // namespace qz
