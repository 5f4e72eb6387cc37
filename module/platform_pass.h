// What one export call needs from the platform: the services in force during
// the pass (platform registry, error reporter, the module's own strings), the
// module's file path, and, in the native build, the registry folder locked and
// loaded before the pass and saved after it.
#pragma once

#include <memory>
#include <string>

#include "registration/module_state.h"

namespace qz {

// The module's own full file path (UTF-8), whatever its length.
std::string ThisModuleFileName();

// The platform's error report for one pass: on Windows the "Registration Error" box, or the
// event log where the window station is one nobody sees; the terminal natively.
ErrorReporter& PlatformReporter();

class PlatformPass {
public:
    PlatformPass();
    PlatformPass(const PlatformPass&) = delete;
    PlatformPass& operator=(const PlatformPass&) = delete;
    ~PlatformPass();

    // False when the registry cannot be used for this pass; the reason has already been reported.
    bool Ready() const;
    ModuleServices Services() const;
    // The module's full file path, whatever its length.
    std::string ModuleFileName() const;
    // Makes the pass's changes lasting (a no-op where the registry is the system's own).
    // False when that failed; the reason has already been reported.
    bool Commit();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace qz
