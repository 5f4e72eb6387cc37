// The registry folder's lock (registry_folder_lock_posix.cpp): flock on the
// folder's "lock" file, which then holds the holder's process id for those who
// wait. Not for use outside the registry folder's code.
#pragma once

#include <string>

#include "registry/folder/registry_folder.h"
#include "registry/folder/unique_fd_posix.h"

namespace qz::folder {

// Opens the folder's lock file (created if missing, refused unless a regular
// file) and takes the lock within the options' timeout, calling onWaiting once
// after kLockNoticeDelay; then records this process as the holder. The lock
// file's descriptor, which holds the lock as long as it is open, or an empty
// one with error set.
UniqueFd LockFolder(const std::string& directory, const RegistryFolder::OpenOptions& options, std::string& error);

// Shares the lock with other readers, to read the folder without writing to
// it: the lock file is opened for reading only (never created), and no holder
// is recorded. An empty descriptor with error empty when the folder has no lock
// file (no process has ever opened it to write), with error set on failure.
UniqueFd LockFolderToRead(const std::string& directory, const RegistryFolder::OpenOptions& options,
                          std::string& error);

// Nobody holds the folder now: clears the holder, and closing releases the lock.
void UnlockFolder(UniqueFd& lock);

}  // namespace qz::folder
