// The native build's persistent registry: a folder of .reg files, one per root
// hive (HKEY_LOCAL_MACHINE.reg, HKEY_CURRENT_USER.reg; HKEY_CLASSES_ROOT lives
// in the machine hive), in the "Windows Registry Editor Version 5.00" form
// (UTF-16LE with a byte order mark, CRLF), so that a person can read them and
// regedit or Wine can import them.
//
// What the folder promises (stated here only; docs/registry-folder.md tells
// what a user sees of it):
//
// - One process at a time. An open folder holds an exclusive lock (flock on the
//   folder's "lock" file, which then holds the holder's process id) until the
//   object is destroyed. A second Open, from this process or another, waits for
//   it up to a time limit (60 s unless told otherwise), saying after a second
//   who holds the folder, and then fails naming the folder and the holding
//   process ("the registry folder DIR is still in use by process PID after
//   waiting 60 s; giving up"); or it fails at once when asked not to wait.
//   (flock locks belong to the open lock file, which a forked child shares: a
//   process forked while the folder is open holds it too.)
//
// - A save lands whole or not at all, across both hive files. Each changed hive
//   is written to a temporary file in the folder and flushed; when more than
//   one changed, a journal naming the new files (with their sizes and
//   checksums) is flushed into place before any of them replaces its hive, and
//   removed once all have. A save interrupted at any point (a crash, a kill, a
//   full disk) leaves every hive as it was or every hive new: the next Open,
//   under the lock, finishes a save whose journal is in place and discards the
//   temporary files of one that never got that far. A save that fails before
//   its journal is in place leaves every file as it was. Volatile keys are not
//   saved.
//
// - It reads only what it writes. A hive file must be a regular file (not a
//   symbolic link, FIFO or device), at most kMaxHiveFileSize bytes, UTF-16LE
//   with a byte order mark and the 5.00 header (see RegFileRule::Hive), keys at
//   most kMaxKeyDepth levels deep with names a registry call takes (256
//   characters for a key, 16383 for a value), and hold only keys of its own
//   hive; the lock file must be a regular file, and a journal one a save wrote.
//   Anything else refuses the open and is left exactly as it is: in particular
//   a hive a text editor saved as UTF-8 is never read in the wrong encoding and
//   saved back mangled. A tree that would not read back (a key name with a line
//   break) is refused by Save, which then writes nothing.
//
// Errors come back as text naming the file (and the line, for a malformed
// file); nothing here throws.
//
// The code: open and save in registry_folder_posix.cpp, on the file work of
// registry_folder_io.h, the journal of registry_folder_journal.h and the lock
// of registry_folder_lock.h.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "registry/memory/memory_registry.h"
#include "registry/folder/unique_fd_posix.h"

namespace qz {

class RegistryFolder {
public:
    enum class LockWait { Wait, DontWait };

    // The largest hive file (and .reg file to import) read: 2 GiB. A whole
    // Windows registry exported as .reg text is a few hundred megabytes.
    static constexpr std::uint64_t kMaxHiveFileSize = std::uint64_t{2} << 30;
    // How long an open waits for a folder another open holds, unless told otherwise.
    static constexpr std::chrono::milliseconds kDefaultLockTimeout{60 * 1000};
    // How long an open waits before it says that it is waiting.
    static constexpr std::chrono::milliseconds kLockNoticeDelay{1000};

    static constexpr const char* kLockFileName = "lock";
    static constexpr const char* kJournalFileName = "journal";

    struct OpenOptions {
        // How long to wait for the lock; zero fails at once if the folder is held.
        std::chrono::milliseconds lockTimeout = kDefaultLockTimeout;
        // Called once, when the open has waited kLockNoticeDelay, with a line
        // for the user (without a newline), such as "the registry folder DIR is
        // in use by process 1234; waiting up to 60 s for it". Empty: wait silently.
        std::function<void(const std::string&)> onWaiting;
    };

    // Creates the folder (and its parents) if needed, locks it, finishes or
    // discards an interrupted save, and loads its hive files. A missing hive
    // file is an empty hive; a file the folder does not accept refuses the open
    // and is left as it is. Null with error set on failure, the lock released.
    static std::unique_ptr<RegistryFolder> Open(const std::string& directory, std::string& error,
                                                 const OpenOptions& options);

    // Opens an existing folder to read it and nothing more, writing nothing
    // into it: for a preview or a check. It never creates the folder or its
    // lock file, shares the lock with other readers (and waits, as Open does,
    // for a process that has the folder open to write), records no holder and
    // leaves an interrupted save alone: a folder with a journal is refused,
    // saying that an Open to write completes it. A folder without a lock file
    // (one no Open has written to) is read without the lock, and read again
    // under it should a lock file appear meanwhile. Save fails. Null with
    // error set on failure ("the registry folder DIR does not exist" when it
    // is missing).
    static std::unique_ptr<RegistryFolder> OpenToRead(const std::string& directory, std::string& error,
                                                       const OpenOptions& options);

    // Wait: the default timeout, the waiting notice on stderr (PrintNotice).
    // DontWait: fails at once when another open holds the folder.
    static std::unique_ptr<RegistryFolder> Open(const std::string& directory, std::string& error,
                                                 LockWait wait = LockWait::Wait);

    // Writes a line to stderr: the onWaiting of the Open that waits by default.
    static void PrintNotice(const std::string& line);

    RegistryFolder(const RegistryFolder&) = delete;
    RegistryFolder& operator=(const RegistryFolder&) = delete;
    ~RegistryFolder();

    MemoryRegistry& registry() { return registry_; }
    const MemoryRegistry& registry() const { return registry_; }
    const std::string& directory() const { return directory_; }

    // Writes every hive whose file would change, all of them or none (see
    // above). False with error set when the save failed; every hive file then
    // keeps its previous content, except in the one case error says so: a
    // failure after the journal was in place, which the next Open completes.
    bool Save(std::string& error);

private:
    RegistryFolder(std::string directory, UniqueFd lock, bool readOnly = false);

    std::string directory_;
    bool readOnly_ = false;  // opened by OpenToRead
    UniqueFd lock_;  // the lock file's descriptor: the folder is held while it is open
    MemoryRegistry registry_;
};

// Where the native registry lives: $QZ_REGISTRY_DIR when set, else
// $XDG_STATE_HOME/orvantis/registry, else ~/.local/state/orvantis/registry.
std::string DefaultRegistryFolder();

// The one answer to "is there no registry folder here": nothing at the path,
// or a path through something that is not a folder. Anything else (a file, a
// folder that cannot be searched) is not missing: opening it names the problem.
bool RegistryFolderIsMissing(const std::string& directory);

// A lock timeout given in seconds, as QZ_LOCK_TIMEOUT or a host's
// --lock-timeout give it: a whole or decimal number ("60", "2.5"), 0 to fail at
// once, at most a day. False with error set for anything else.
bool ParseLockTimeout(std::string_view seconds, std::chrono::milliseconds& timeout, std::string& error);

// Reads a whole .reg file given to import. It follows symbolic links, but
// refuses what is not a regular file (a FIFO, a device such as /dev/zero) and
// files over RegistryFolder::kMaxHiveFileSize, with error naming the file.
bool ReadRegFileToImport(const std::string& path, std::string& bytes, std::string& error);

}  // namespace qz
