// The registry a host's command works on: natively the registry folder, opened
// and locked for the whole command (from the first read to the last write, so
// that the changes printed are exactly this command's); on Windows the
// system's registry through advapi32.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "registry/api/registry_api.h"

namespace qz {

struct LiveRegistryOptions {
    std::string folder;              // native: the registry folder
    bool folderExists = true;        // native: as the command found it (RegistryFolderIsMissing)
    double lockTimeoutSeconds = 60;  // native: how long to wait for another process's lock
    std::vector<std::string> imports;
    // native: read the folder and write nothing into it (a dry run, a check); a
    // folder that does not exist is then an empty registry, and nothing is made.
    bool readOnly = false;
    // Windows: read the classes from HKEY_LOCAL_MACHINE\Software\Classes (64-bit
    // view), the store the package writes, rather than through HKEY_CLASSES_ROOT,
    // which merges in the user's own classes. Natively the classes root is the
    // machine's anyway.
    bool machineClasses = false;
};

class LiveRegistry {
public:
    virtual ~LiveRegistry() = default;
    // Opens the registry and applies the imports to it (in memory until Save).
    // Null with error set when it cannot be used.
    static std::unique_ptr<LiveRegistry> Open(const LiveRegistryOptions& options, std::string& error);

    virtual RegistryApi& registry() = 0;
    // Makes what was written lasting (the registry folder's save; nothing on Windows).
    virtual bool Save(std::string& error) = 0;
    // For messages: "registry folder /path" or "the system registry".
    virtual std::string Describe() const = 0;
};

}  // namespace qz
