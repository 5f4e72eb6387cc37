// The product module loaded from its file, for a host that runs the module it
// is given (qzreg: the file the user names, by default the one installed beside
// it), and its entry point for a pass against a registry the host provides.
#pragma once

#include <string>

#include "registry/api/registry_table.h"

namespace qz {

class ModuleLibrary {
public:
    enum class Failure { None, NotLoaded, ExportMissing };

    ModuleLibrary() = default;
    ModuleLibrary(const ModuleLibrary&) = delete;
    ModuleLibrary& operator=(const ModuleLibrary&) = delete;
    ~ModuleLibrary();

    // Loads the file and finds QzRunRegistrationPass. On failure, error says why.
    Failure Load(const std::string& path, std::string& error);
    QzRunRegistrationPassFunction RunPass() const { return run_; }

private:
    void* handle_ = nullptr;
    QzRunRegistrationPassFunction run_ = nullptr;
};

// The module installed with qzreg: beside the program (the build folder, and
// Windows installations), else in ../lib (an installation under a prefix).
std::string DefaultModulePath();

// The file a module path the user gives names. A path is a path: a bare file
// name means the file in the current folder, as a user who names it means it,
// never a library for the system's search (which would find another copy, or
// none). Natively a bare name gets "./"; on Windows any path that is not
// absolute is made so against the current folder.
std::string ModulePathToLoad(const std::string& given);

}  // namespace qz
