// The module file a --module path names. A path is a path: a bare file name
// means the file in the current folder, as a user who names it means it, never
// a library for the system's search (which would find another copy, or none).
#pragma once

#include <string>

namespace qz {

// The path to load: natively a bare name gets "./"; on Windows any path that
// is not absolute is made so against the current folder.
std::string ModulePathToLoad(const std::string& given);

}  // namespace qz
