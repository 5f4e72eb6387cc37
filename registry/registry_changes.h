// What a registration pass changed, for the native registration host to show.
#pragma once

#include <string>

#include "registry/memory_registry.h"

namespace qz {

// The changes from before to after as .reg text (the 5.00 form, UTF-8, LF line
// ends): a header, then in depth-first order for HKEY_CLASSES_ROOT,
// HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE (its Software\Classes shown under
// HKEY_CLASSES_ROOT): each added key with all its values; each kept key whose
// values changed, with the values added or changed and "name"=- for each one
// removed; [-KEY] for each removed key (once, for the top of a removed subtree).
// Empty when nothing changed. Imported into the "before" registry, the text
// gives the "after" one.
std::string DescribeRegistryChanges(const MemoryRegistry& before, const MemoryRegistry& after);

}  // namespace qz
