#include "registry/registry_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "registry/reg_file.h"

namespace qz {
namespace {

struct Hive {
    RegRoot root;
    const char* fileName;
};

constexpr Hive kHives[] = {
    {RegRoot::LocalMachine, "HKEY_LOCAL_MACHINE.reg"},
    {RegRoot::CurrentUser, "HKEY_CURRENT_USER.reg"},
};

// Temporary files of a save are named ".<hive file>.XXXXXX".
bool IsTemporaryName(const std::string& name) {
    for (const Hive& hive : kHives) {
        const std::string prefix = std::string(".") + hive.fileName + ".";
        if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0) return true;
    }
    return false;
}

std::string ErrnoText(int error) { return std::strerror(error); }

std::string JoinPath(const std::string& directory, const std::string& name) {
    if (!directory.empty() && directory.back() == '/') return directory + name;
    return directory + "/" + name;
}

bool MakeDirectories(const std::string& path, std::string& error) {
    std::string partial;
    std::size_t position = 0;
    while (position != std::string::npos) {
        position = path.find('/', position + 1);
        partial = path.substr(0, position);
        if (partial.empty()) continue;
        if (::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) {
            error = "cannot create the registry folder " + partial + ": " + ErrnoText(errno);
            return false;
        }
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        error = "the registry folder " + path + " is not a directory";
        return false;
    }
    return true;
}

// The whole file, or false with errno set; a missing file is reported by exists.
bool ReadFile(const std::string& path, std::string& bytes, bool& exists) {
    bytes.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        exists = false;
        return errno == ENOENT;
    }
    exists = true;
    char buffer[65536];
    while (true) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            const int saved = errno;
            ::close(fd);
            errno = saved;
            return false;
        }
        if (got == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return true;
}

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

bool SyncDirectory(const std::string& directory) {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

// Writes bytes to path so that path holds either its old content or all of the
// new one, whatever happens during the write.
bool ReplaceFileAtomically(const std::string& directory, const std::string& fileName, const std::string& bytes,
                           std::string& error) {
    const std::string path = JoinPath(directory, fileName);
    std::string temporary = JoinPath(directory, "." + fileName + ".XXXXXX");
    std::vector<char> pattern(temporary.begin(), temporary.end());
    pattern.push_back('\0');
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        error = "cannot write " + path + ": cannot create a temporary file: " + ErrnoText(errno);
        return false;
    }
    temporary = pattern.data();
    // Keep the permissions of the file being replaced; a new file is readable by all.
    struct stat info {};
    const mode_t mode = ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0644;
    bool ok = WriteAll(fd, bytes) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    int saved = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        error = "cannot write " + path + ": " + ErrnoText(saved);
        return false;
    }
    if (!SyncDirectory(directory)) {
        error = "cannot flush the registry folder " + directory + ": " + ErrnoText(errno);
        return false;
    }
    return true;
}

std::string HiveText(const MemoryRegistry& registry, RegRoot root) {
    RegWriteOptions options;
    options.skipVolatile = true;
    options.skipEmptyTop = true;
    std::u16string text = RegFileHeader(options);
    AppendRegKey(text, RootName(root), registry.Hive(root), options);
    return EncodeUtf16LeWithBom(text);
}

// The hive a key of a .reg file belongs to (HKEY_CLASSES_ROOT is in the machine's).
RegRoot HiveOf(const std::u16string& keyPath) {
    const auto parsed = ParseFullKeyPath(keyPath);
    return parsed && parsed->root == RegRoot::CurrentUser ? RegRoot::CurrentUser : RegRoot::LocalMachine;
}

void RemoveStaleTemporaryFiles(const std::string& directory) {
    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr) return;
    while (const dirent* entry = ::readdir(dir)) {
        if (IsTemporaryName(entry->d_name)) ::unlink(JoinPath(directory, entry->d_name).c_str());
    }
    ::closedir(dir);
}

}  // namespace

RegistryFolder::RegistryFolder(std::string directory, int lockFd)
    : directory_(std::move(directory)), lockFd_(lockFd) {}

RegistryFolder::~RegistryFolder() {
    // Closing the file releases the lock.
    if (lockFd_ >= 0) ::close(lockFd_);
}

std::unique_ptr<RegistryFolder> RegistryFolder::Open(const std::string& directory, std::string& error,
                                                     LockWait wait) {
    try {
        if (directory.empty()) {
            error = "no registry folder given";
            return nullptr;
        }
        if (!MakeDirectories(directory, error)) return nullptr;

        const std::string lockPath = JoinPath(directory, kLockFileName);
        const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) {
            error = "cannot open " + lockPath + ": " + ErrnoText(errno);
            return nullptr;
        }
        const int operation = LOCK_EX | (wait == LockWait::DontWait ? LOCK_NB : 0);
        int locked;
        do {
            locked = ::flock(fd, operation);
        } while (locked != 0 && errno == EINTR);
        if (locked != 0) {
            const int saved = errno;
            ::close(fd);
            error = saved == EWOULDBLOCK ? "the registry folder " + directory + " is in use by another process"
                                         : "cannot lock " + lockPath + ": " + ErrnoText(saved);
            return nullptr;
        }
        std::unique_ptr<RegistryFolder> folder(new RegistryFolder(directory, fd));

        // With the lock held, temporary files can only be left over from a save that never finished.
        RemoveStaleTemporaryFiles(directory);

        // Every file is checked before anything is applied.
        std::vector<std::vector<RegFileEntry>> parsed;
        for (const Hive& hive : kHives) {
            const std::string path = JoinPath(directory, hive.fileName);
            std::string bytes;
            bool exists = false;
            if (!ReadFile(path, bytes, exists)) {
                error = "cannot read " + path + ": " + ErrnoText(errno);
                return nullptr;
            }
            std::vector<RegFileEntry> entries;
            std::string parseError;
            if (exists && !ParseRegText(DecodeRegFileBytes(bytes), entries, parseError)) {
                error = path + ": " + parseError;
                return nullptr;
            }
            for (const RegFileEntry& entry : entries) {
                if (HiveOf(entry.keyPath) != hive.root) {
                    error = path + ": line " + std::to_string(entry.line) + ": the key belongs to another hive";
                    return nullptr;
                }
            }
            parsed.push_back(std::move(entries));
        }
        for (const auto& entries : parsed) ApplyRegEntries(entries, folder->registry_);
        return folder;
    } catch (const std::exception& e) {
        error = std::string("cannot open the registry folder: ") + e.what();
        return nullptr;
    }
}

bool RegistryFolder::Save(std::string& error) {
    try {
        for (const Hive& hive : kHives) {
            const std::string bytes = HiveText(registry_, hive.root);
            std::string current;
            bool exists = false;
            if (ReadFile(JoinPath(directory_, hive.fileName), current, exists) && exists && current == bytes) continue;
            if (!ReplaceFileAtomically(directory_, hive.fileName, bytes, error)) return false;
        }
        return true;
    } catch (const std::exception& e) {
        error = std::string("cannot save the registry: ") + e.what();
        return false;
    }
}

std::string DefaultRegistryFolder() {
    if (const char* explicitDir = std::getenv("QZ_REGISTRY_DIR"); explicitDir != nullptr && *explicitDir != '\0')
        return explicitDir;
    // The XDG base directory rules ignore a relative path.
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && state[0] == '/')
        return JoinPath(state, "orvantis/registry");
    std::string home;
    if (const char* env = std::getenv("HOME"); env != nullptr && *env != '\0') {
        home = env;
    } else if (const passwd* user = ::getpwuid(::getuid()); user != nullptr && user->pw_dir != nullptr) {
        home = user->pw_dir;
    }
    return JoinPath(home.empty() ? "." : home, ".local/state/orvantis/registry");
}

}  // namespace qz
