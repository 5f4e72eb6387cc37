// A .reg file a user names, read into a registry: the imports of a command
// and the machine state a harvest starts from.
#pragma once

#include <string>

#include "registry/memory/memory_registry.h"

namespace qz {

// Reads a .reg file (5.00 or REGEDIT4) as regedit reads an import. False with
// error naming the file (and the line, for malformed text).
bool ImportRegFile(const std::string& file, MemoryRegistry& registry, std::string& error);

}  // namespace qz
