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
#include <functional>
#include <new>
#include <string_view>
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

// A hive file's bytes, produced in order and handed to a consumer piece by
// piece: a hive is never held whole in memory, neither to compare nor to write.
using HiveBytes = std::function<void(const std::function<void(std::string_view)>& put)>;

// A descriptor closed when it goes out of scope.
struct FileDescriptor {
    int fd;
    explicit FileDescriptor(int descriptor) : fd(descriptor) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd >= 0) ::close(fd);
    }
};

// Reads up to size bytes, or fewer at the end of the file; -1 with errno set.
ssize_t ReadSome(int fd, char* buffer, std::size_t size) {
    ssize_t got;
    do {
        got = ::read(fd, buffer, size);
    } while (got < 0 && errno == EINTR);
    return got;
}

// The file holds exactly the bytes produced; compared block by block as they come.
bool FileHolds(const std::string& path, const HiveBytes& produce) {
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.fd < 0) return false;
    bool same = true;
    std::vector<char> buffer;
    produce([&](std::string_view bytes) {
        if (!same) return;
        buffer.resize(bytes.size());
        std::size_t got = 0;
        while (got < bytes.size()) {
            const ssize_t now = ReadSome(file.fd, buffer.data() + got, bytes.size() - got);
            if (now <= 0) break;
            got += static_cast<std::size_t>(now);
        }
        same = got == bytes.size() && std::memcmp(buffer.data(), bytes.data(), got) == 0;
    });
    char extra;
    return same && ReadSome(file.fd, &extra, 1) == 0;
}

bool WriteAll(int fd, std::string_view bytes) {
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
bool ReplaceFileAtomically(const std::string& directory, const std::string& fileName, const HiveBytes& produce,
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
    // Written as it is produced; the first failure (of a write, or of memory
    // while producing) stops the writing and is what the error reports.
    int writeError = 0;
    try {
        produce([&](std::string_view bytes) {
            if (writeError == 0 && !WriteAll(fd, bytes)) writeError = errno;
        });
    } catch (const std::bad_alloc&) {
        if (writeError == 0) writeError = ENOMEM;
    }
    bool ok = writeError == 0 && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    int saved = writeError != 0 ? writeError : errno;
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

HiveBytes HiveFile(const MemoryRegistry& registry, RegRoot root) {
    return [&registry, root](const std::function<void(std::string_view)>& put) {
        RegWriteOptions options;
        options.skipVolatile = true;
        options.skipEmptyTop = true;
        WriteRegFile(RootName(root), registry.Hive(root), options, put);
    };
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

        // Each file is applied as it is read, into this folder's own registry: a
        // malformed file, or a key in the wrong file, fails the open and the
        // registry goes with the folder, so nothing of any file is seen. No list
        // of entries as large as the file is held.
        for (const Hive& hive : kHives) {
            const std::string path = JoinPath(directory, hive.fileName);
            const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
            if (file.fd < 0) {
                if (errno == ENOENT) continue;  // a missing hive file is an empty hive
                error = "cannot read " + path + ": " + ErrnoText(errno);
                return nullptr;
            }
            // Read, decoded and parsed a block at a time.
            RegFileDecoder decoder;
            std::vector<char> block(1 << 20);
            int readError = 0;
            bool ended = false;
            const RegTextSource text = [&](std::u16string& out) {
                if (ended) return false;
                const ssize_t got = ReadSome(file.fd, block.data(), block.size());
                if (got < 0) {
                    readError = errno;
                    ended = true;
                    return false;
                }
                if (got == 0) {
                    decoder.Finish(out);
                    ended = true;
                } else {
                    decoder.Feed(std::string_view(block.data(), static_cast<std::size_t>(got)), out);
                }
                return true;
            };
            MemoryRegistry& registry = folder->registry_;
            const auto apply = [&hive, &registry](RegFileEntry& entry, std::string& message) {
                // Values belong to the key above them, checked already.
                if ((entry.kind == RegFileEntry::Kind::Key || entry.kind == RegFileEntry::Kind::DeleteKey) &&
                    HiveOf(entry.keyPath) != hive.root) {
                    message = "the key belongs to another hive";
                    return false;
                }
                ApplyRegEntry(std::move(entry), registry);
                return true;
            };
            std::string parseError;
            const bool parsed = VisitRegText(text, apply, parseError);
            if (readError != 0) {
                error = "cannot read " + path + ": " + ErrnoText(readError);
                return nullptr;
            }
            if (!parsed) {
                error = path + ": " + parseError;
                return nullptr;
            }
        }
        return folder;
    } catch (const std::exception& e) {
        error = std::string("cannot open the registry folder: ") + e.what();
        return nullptr;
    }
}

bool RegistryFolder::Save(std::string& error) {
    try {
        for (const Hive& hive : kHives) {
            const HiveBytes bytes = HiveFile(registry_, hive.root);
            if (FileHolds(JoinPath(directory_, hive.fileName), bytes)) continue;
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
