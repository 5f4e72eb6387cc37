// Generic helpers on any registry. They report nothing to the user: they answer
// through their results and the caller decides.
#pragma once

#include <string>

#include "registry/api/registry_api.h"

namespace qz {

// Only these statuses mean that a key or value is not there: Windows gives
// ERROR_FILE_NOT_FOUND for a missing key or value, and ERROR_PATH_NOT_FOUND for
// some paths whose upper keys are missing. Any other failure (access denied
// above all) leaves the question open: the key is there, and whatever the
// caller must do with it, or learn from it, it cannot.
inline bool IsMissingStatus(LONG status) { return status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND; }

// Stores text (UTF-8) as REG_SZ through the wide call, with its terminating NUL,
// whole, whatever its length. 1 when stored, 0 when the registry refused.
int SetRegistryString(RegistryApi& registry, HKEY key, const std::string& valueName, const std::string& text);

// Deletes root\path (UTF-8) after all its subkeys, depth first, each opened and
// deleted relative to its parent's handle, and tells nobody: the steps' own
// DeleteRegistryTree(root, path) (registration/product_lookups.h) shows a box
// when a tree stays. 1 when the key itself went; status,
// when given, receives the result of that last delete (ERROR_FILE_NOT_FOUND
// when there was no such key).
int DeleteRegistryTreeSilently(RegistryApi& registry, HKEY root, std::string path, LONG* status = nullptr);

}  // namespace qz
