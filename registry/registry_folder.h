// The native build's persistent registry: a folder of .reg files, one per root
// hive (HKEY_LOCAL_MACHINE.reg, HKEY_CURRENT_USER.reg; HKEY_CLASSES_ROOT lives
// in the machine hive), in the "Windows Registry Editor Version 5.00" form
// (UTF-16LE), so that a person can read them and regedit or Wine can import them.
//
// An open folder holds an exclusive lock (flock on the folder's "lock" file)
// until the object is destroyed: a second Open, from this process or another,
// waits for it (or fails at once when asked not to wait), so two registration
// passes never interleave. (The lock belongs to the open lock file, which a
// forked child shares: a process forked while the folder is open holds it too.)
// Save replaces each changed hive file atomically: a temporary file in the
// folder, flushed to disk, renamed over the old one, and the folder flushed; a
// crash leaves the old file or the new one, never a mixture. Volatile keys are
// not saved.
//
// Errors come back as text naming the file (and the line, for a malformed
// file); nothing here throws.
#pragma once

#include <memory>
#include <string>

#include "registry/memory_registry.h"

namespace qz {

class RegistryFolder {
public:
    enum class LockWait { Wait, DontWait };

    // Creates the folder (and its parents) if needed, locks it and loads its hive
    // files. A missing hive file is an empty hive; a malformed one refuses the
    // open and is left as it is. Null with error set on failure.
    static std::unique_ptr<RegistryFolder> Open(const std::string& directory, std::string& error,
                                                 LockWait wait = LockWait::Wait);

    RegistryFolder(const RegistryFolder&) = delete;
    RegistryFolder& operator=(const RegistryFolder&) = delete;
    ~RegistryFolder();

    MemoryRegistry& registry() { return registry_; }
    const MemoryRegistry& registry() const { return registry_; }
    const std::string& directory() const { return directory_; }

    // Writes every hive whose file would change. False with error set when a
    // file could not be replaced; that file keeps its previous content.
    bool Save(std::string& error);

    static constexpr const char* kLockFileName = "lock";

private:
    RegistryFolder(std::string directory, int lockFd);

    std::string directory_;
    int lockFd_;
    MemoryRegistry registry_;
};

// Where the native registry lives: $QZ_REGISTRY_DIR when set, else
// $XDG_STATE_HOME/orvantis/registry, else ~/.local/state/orvantis/registry.
std::string DefaultRegistryFolder();

}  // namespace qz
