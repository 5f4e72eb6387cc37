#include "registry/folder/registry_folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <thread>

#include "registry/folder/registry_folder_io.h"

namespace qz {
namespace folder {
namespace {

using std::chrono::milliseconds;

// "60 s", "2.5 s"
std::string Seconds(milliseconds duration) {
    const long long ms = duration.count();
    if (ms % 1000 == 0) return std::to_string(ms / 1000) + " s";
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(ms) / 1000.0);
    std::string seconds = text;
    while (seconds.back() == '0') seconds.pop_back();
    return seconds + " s";
}

// The lock file: created if missing (to write; to read, a missing one leaves
// the descriptor empty and error empty), refused unless a regular file (a
// symbolic link there could aim the process id written into it at any file).
UniqueFd OpenLockFile(const std::string& path, bool toWrite, std::string& error) {
    const int flags = toWrite ? O_RDWR | O_CREAT : O_RDONLY;
    UniqueFd lock(::open(path.c_str(), flags | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644));
    if (!lock && !toWrite && errno == ENOENT) return lock;
    if (!lock) {
        error = errno == ELOOP ? path + " is a symbolic link; the lock file must be a regular file"
                               : "cannot open " + path + ": " + ErrnoText(errno);
        return lock;
    }
    struct stat info {};
    if (::fstat(lock.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        error = path + " is " + FileKind(info.st_mode) + "; the lock file must be a regular file";
        return UniqueFd();
    }
    return lock;
}

// 0 when locked, else the errno of the failure (EWOULDBLOCK: held by another).
int TryLock(int fd, int operation) {
    while (::flock(fd, operation | LOCK_NB) != 0) {
        if (errno != EINTR) return errno;
    }
    return 0;
}

// The holder's process id, as it wrote it into the lock file once it had the lock.
std::optional<long> LockHolder(int fd) {
    char text[32] = {};
    const ssize_t got = ::pread(fd, text, sizeof text - 1, 0);
    if (got <= 0) return std::nullopt;
    char* end = nullptr;
    const long pid = std::strtol(text, &end, 10);
    if (end == text || pid <= 0 || (*end != '\n' && *end != '\0')) return std::nullopt;
    return pid;
}

std::string HolderText(std::optional<long> holder) {
    if (!holder) return "another process";
    if (*holder == static_cast<long>(::getpid())) return "this process (another open of it)";
    return "process " + std::to_string(*holder);
}

void RecordHolder(int fd) {
    const std::string pid = std::to_string(static_cast<long>(::getpid())) + "\n";
    // The process id only informs those who wait; the lock holds without it.
    if (::ftruncate(fd, 0) == 0) (void)!::pwrite(fd, pid.data(), pid.size(), 0);
}

// Takes the lock within the options' timeout, polling (flock cannot wait with a
// limit): at first often, so that a short hold costs little, then ten times a second.
bool Lock(int fd, int operation, const std::string& directory, const std::string& lockPath,
          const RegistryFolder::OpenOptions& options, std::string& error) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const milliseconds timeout = std::max(options.lockTimeout, milliseconds(0));
    const Clock::time_point deadline = start + timeout;
    const Clock::time_point noticeAt = start + RegistryFolder::kLockNoticeDelay;
    bool noticed = !options.onWaiting;
    milliseconds pause(5);
    while (true) {
        const int failure = TryLock(fd, operation);
        if (failure == 0) return true;
        if (failure != EWOULDBLOCK) {
            error = "cannot lock " + lockPath + ": " + ErrnoText(failure);
            return false;
        }
        const Clock::time_point now = Clock::now();
        if (now >= deadline) {
            const std::string holder = HolderText(LockHolder(fd));
            error = timeout.count() == 0
                        ? "the registry folder " + directory + " is in use by " + holder
                        : "the registry folder " + directory + " is still in use by " + holder + " after waiting " +
                              Seconds(timeout) + "; giving up";
            return false;
        }
        if (!noticed && now >= noticeAt) {
            noticed = true;
            options.onWaiting("the registry folder " + directory + " is in use by " + HolderText(LockHolder(fd)) +
                              "; waiting up to " + Seconds(timeout) + " for it");
        }
        Clock::time_point wake = std::min(now + pause, deadline);
        if (!noticed) wake = std::min(wake, noticeAt);
        std::this_thread::sleep_until(wake);
        pause = std::min(pause * 2, milliseconds(100));
    }
}

}  // namespace

UniqueFd LockFolder(const std::string& directory, const RegistryFolder::OpenOptions& options, std::string& error) {
    const std::string lockPath = JoinPath(directory, RegistryFolder::kLockFileName);
    UniqueFd lock = OpenLockFile(lockPath, true, error);
    if (!lock) return lock;
    if (!Lock(lock.get(), LOCK_EX, directory, lockPath, options, error)) return UniqueFd();
    RecordHolder(lock.get());
    return lock;
}

UniqueFd LockFolderToRead(const std::string& directory, const RegistryFolder::OpenOptions& options,
                          std::string& error) {
    const std::string lockPath = JoinPath(directory, RegistryFolder::kLockFileName);
    error.clear();
    UniqueFd lock = OpenLockFile(lockPath, false, error);
    if (!lock) return lock;
    if (!Lock(lock.get(), LOCK_SH, directory, lockPath, options, error)) return UniqueFd();
    return lock;
}

void UnlockFolder(UniqueFd& lock) {
    if (!lock) return;
    (void)!::ftruncate(lock.get(), 0);
    lock.reset();
}

}  // namespace folder

bool ParseLockTimeout(std::string_view seconds, std::chrono::milliseconds& timeout, std::string& error) {
    const std::string text(seconds);
    const auto bad = [&] {
        error = "the lock timeout must be a number of seconds from 0 to 86400, not \"" + text + "\"";
        return false;
    };
    // Digits with at most one decimal point, nothing else: strtod alone would take
    // "1e3", " 5", "inf" or "0x10".
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos ||
        text.find('.') != text.rfind('.') || text == ".")
        return bad();
    const double value = std::strtod(text.c_str(), nullptr);
    if (!(value >= 0.0 && value <= 86400.0)) return bad();
    timeout = std::chrono::milliseconds(static_cast<long long>(std::llround(value * 1000.0)));
    return true;
}

}  // namespace qz
