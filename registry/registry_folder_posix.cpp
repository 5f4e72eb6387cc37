#include "registry/registry_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include "registry/reg_file.h"

namespace qz {
namespace {

using std::chrono::milliseconds;

struct Hive {
    RegRoot root;
    const char* fileName;
};

constexpr Hive kHives[] = {
    {RegRoot::LocalMachine, "HKEY_LOCAL_MACHINE.reg"},
    {RegRoot::CurrentUser, "HKEY_CURRENT_USER.reg"},
};

// A journal names two files at most; anything longer is not one of ours.
constexpr std::uint64_t kMaxJournalSize = 64 * 1024;
constexpr const char* kJournalHeader = "qz registry folder journal 1";

// Temporary files of a save are named ".<file>.XXXXXX" (mkostemp's six characters).
std::string TemporaryPrefix(const std::string& fileName) { return "." + fileName + "."; }

bool IsTemporaryNameOf(const std::string& name, const std::string& fileName) {
    const std::string prefix = TemporaryPrefix(fileName);
    return name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0 &&
           name.find('/') == std::string::npos;
}

bool IsTemporaryName(const std::string& name) {
    for (const Hive& hive : kHives) {
        if (IsTemporaryNameOf(name, hive.fileName)) return true;
    }
    return IsTemporaryNameOf(name, RegistryFolder::kJournalFileName);
}

std::string ErrnoText(int error) { return std::strerror(error); }

std::string JoinPath(const std::string& directory, const std::string& name) {
    if (!directory.empty() && directory.back() == '/') return directory + name;
    return directory + "/" + name;
}

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

// The 64-bit FNV-1a hash: enough to tell a journal's new file from anything
// else that might stand under its name. Taken a block at a time: start from
// kChecksumStart and feed each block in turn.
constexpr std::uint64_t kChecksumStart = 0xcbf29ce484222325ull;
std::uint64_t Checksum(std::uint64_t hash, std::string_view bytes) {
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ull;
    }
    return hash;
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

const char* FileKind(mode_t mode) {
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISLNK(mode)) return "a symbolic link";
    return "not a regular file";
}

// "2 GiB", "64 KiB"
std::string Size(std::uint64_t bytes) {
    if (bytes % (std::uint64_t{1} << 30) == 0) return std::to_string(bytes >> 30) + " GiB";
    if (bytes % (std::uint64_t{1} << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
    if (bytes % 1024 == 0) return std::to_string(bytes >> 10) + " KiB";
    return std::to_string(bytes) + " bytes";
}

enum class Links { Refuse, Follow };

std::string TooLarge(const std::string& path, std::uint64_t limit) {
    return path + " is larger than " + Size(limit) + ", the most that is read of such a file";
}

// A descriptor closed when it goes out of scope.
struct FileDescriptor {
    int fd = -1;
    FileDescriptor() = default;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd >= 0) ::close(fd);
    }
};

// Reads up to size bytes, fewer at the end of the file; -1 with errno set.
ssize_t ReadSome(int fd, char* buffer, std::size_t size) {
    ssize_t got;
    do {
        got = ::read(fd, buffer, size);
    } while (got < 0 && errno == EINTR);
    return got;
}

// Opens a regular file of at most limit bytes for reading. A missing file gives
// true with exists false. Nothing that is not a regular file is opened for
// reading: opening with O_NONBLOCK keeps a FIFO from blocking the open, and
// fstat then refuses it, a device such as /dev/zero, or a directory, before a
// byte is read.
bool OpenRegularFile(const std::string& path, Links links, std::uint64_t limit, FileDescriptor& file,
                     std::uint64_t& size, bool& exists, std::string& error) {
    exists = false;
    const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | (links == Links::Refuse ? O_NOFOLLOW : 0);
    file.fd = ::open(path.c_str(), flags);
    if (file.fd < 0) {
        const int saved = errno;
        if (saved == ENOENT) return true;
        if (saved == ELOOP && links == Links::Refuse) {
            error = path + " is a symbolic link; the registry folder's files must be regular files "
                           "(a save replaces them)";
        } else {
            error = "cannot read " + path + ": " + ErrnoText(saved);
        }
        return false;
    }
    exists = true;
    struct stat info {};
    if (::fstat(file.fd, &info) != 0) {
        error = "cannot read " + path + ": " + ErrnoText(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = path + " is " + FileKind(info.st_mode) + ", not a regular file; it is not read";
        return false;
    }
    if (static_cast<std::uint64_t>(info.st_size) > limit) {
        error = TooLarge(path, limit);
        return false;
    }
    size = static_cast<std::uint64_t>(info.st_size);
    return true;
}

// Reads an open file on, a block at a time, handing each to take until take
// returns false or the file ends. A file that grows while it is read is held
// to the same limit. False with error set when reading fails.
bool ReadBlocks(const FileDescriptor& file, const std::string& path, std::uint64_t limit,
                const std::function<bool(std::string_view)>& take, std::string& error) {
    std::vector<char> block(1 << 20);
    std::uint64_t total = 0;
    while (true) {
        const ssize_t got = ReadSome(file.fd, block.data(), block.size());
        if (got < 0) {
            error = "cannot read " + path + ": " + ErrnoText(errno);
            return false;
        }
        if (got == 0) return true;
        total += static_cast<std::uint64_t>(got);
        if (total > limit) {
            error = TooLarge(path, limit);
            return false;
        }
        if (!take(std::string_view(block.data(), static_cast<std::size_t>(got)))) return true;
    }
}

// Reads a regular file whole, at most limit bytes (see OpenRegularFile).
bool ReadRegularFile(const std::string& path, Links links, std::uint64_t limit, std::string& bytes, bool& exists,
                     std::string& error) {
    bytes.clear();
    FileDescriptor file;
    std::uint64_t size = 0;
    if (!OpenRegularFile(path, links, limit, file, size, exists, error)) return false;
    if (!exists) return true;
    bytes.reserve(static_cast<std::size_t>(size));
    return ReadBlocks(
        file, path, limit,
        [&bytes](std::string_view block) {
            bytes.append(block.data(), block.size());
            return true;
        },
        error);
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

bool SyncDirectory(const std::string& directory, std::string& error) {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool synced = fd >= 0 && ::fsync(fd) == 0;
    const int saved = errno;
    if (fd >= 0) ::close(fd);
    if (!synced) error = "cannot flush the registry folder " + directory + ": " + ErrnoText(saved);
    return synced;
}

// A file's content, produced in order and handed to a consumer block by block:
// a hive is never held whole in memory, neither to compare nor to write. False,
// with error set, when it cannot be produced.
using Content = std::function<bool(const std::function<void(std::string_view)>& put, std::string& error)>;

Content BytesContent(const std::string& bytes) {
    return [&bytes](const std::function<void(std::string_view)>& put, std::string&) {
        put(bytes);
        return true;
    };
}

// What a file was written with: its size and checksum, for the journal.
struct Written {
    std::uint64_t size = 0;
    std::uint64_t checksum = kChecksumStart;
};

// Writes content to a new temporary file ".<fileName>.XXXXXX" in the folder,
// flushed to disk, with the permissions of the file it is to replace (a new file
// is readable by all). Its name in temporary; on failure nothing is left behind.
// The checksum, a pass over every byte, is taken only when asked for (a journal
// needs it).
bool WriteTemporaryFile(const std::string& directory, const std::string& fileName, const Content& content,
                        bool checksum, std::string& temporary, Written& written, std::string& error) {
    const std::string path = JoinPath(directory, fileName);
    std::string pattern = JoinPath(directory, TemporaryPrefix(fileName) + "XXXXXX");
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        error = "cannot write " + path + ": cannot create a temporary file: " + ErrnoText(errno);
        return false;
    }
    const std::string created = name.data();
    struct stat info {};
    const mode_t mode = ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) ? (info.st_mode & 07777) : 0644;
    // Written as it is produced; the first failure stops the writing.
    written = Written{};
    int writeError = 0;
    std::string contentError;
    bool produced = false;
    try {
        produced = content(
            [&](std::string_view bytes) {
                if (writeError != 0) return;
                if (!WriteAll(fd, bytes)) {
                    writeError = errno;
                    return;
                }
                written.size += bytes.size();
                if (checksum) written.checksum = Checksum(written.checksum, bytes);
            },
            contentError);
    } catch (...) {
        ::close(fd);
        ::unlink(created.c_str());
        throw;
    }
    if (!produced) {
        ::close(fd);
        ::unlink(created.c_str());
        error = "cannot write " + path + ": " + contentError;
        return false;
    }
    bool ok = writeError == 0 && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    int saved = writeError != 0 ? writeError : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        ::unlink(created.c_str());
        error = "cannot write " + path + ": " + ErrnoText(saved);
        return false;
    }
    temporary = created.substr(created.find_last_of('/') + 1);
    return true;
}

bool RenameInFolder(const std::string& directory, const std::string& from, const std::string& to,
                    std::string& error) {
    if (::rename(JoinPath(directory, from).c_str(), JoinPath(directory, to).c_str()) == 0) return true;
    error = "cannot replace " + JoinPath(directory, to) + ": " + ErrnoText(errno);
    return false;
}

// ---- the journal of a save ----------------------------------------------------
//
//   qz registry folder journal 1
//   replace HKEY_LOCAL_MACHINE.reg .HKEY_LOCAL_MACHINE.reg.Ab12Cd 81234 0123456789abcdef
//   replace HKEY_CURRENT_USER.reg .HKEY_CURRENT_USER.reg.Xy34Zw 1422 fedcba9876543210
//   end
//
// Each line names a hive file, the temporary file that holds its new content,
// and that content's size and checksum, by which the next open tells whether
// the new content is still waiting in the temporary file, already in the hive
// file, or neither.

struct Replacement {
    std::string hiveFile;
    std::string temporary;
    std::uint64_t size = 0;
    std::uint64_t checksum = 0;
};

std::string JournalText(const std::vector<Replacement>& replacements) {
    std::string text = std::string(kJournalHeader) + "\n";
    for (const Replacement& replacement : replacements) {
        char checksum[20];
        std::snprintf(checksum, sizeof checksum, "%016llx", static_cast<unsigned long long>(replacement.checksum));
        text += "replace " + replacement.hiveFile + " " + replacement.temporary + " " +
                std::to_string(replacement.size) + " " + checksum + "\n";
    }
    return text + "end\n";
}

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::size_t start = 0;
    while (start <= line.size()) {
        std::size_t end = line.find(' ', start);
        if (end == std::string::npos) end = line.size();
        words.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    return words;
}

bool ParseNumber(const std::string& text, int base, std::uint64_t& number) {
    if (text.empty() || text.size() > 20) return false;
    number = 0;
    for (const char c : text) {
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else {
            return false;
        }
        if (number > (UINT64_MAX - static_cast<std::uint64_t>(digit)) / static_cast<std::uint64_t>(base)) return false;
        number = number * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
    }
    return true;
}

// The journal exactly as WriteJournal writes it, or false with error naming
// its line: a journal is flushed before it is renamed into place, so one that
// reads otherwise was not written by a save, and nothing is done on its word.
bool ParseJournal(const std::string& path, const std::string& text, std::vector<Replacement>& replacements,
                  std::string& error) {
    replacements.clear();
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    const bool ended = !text.empty() && text.back() == '\n';
    auto fail = [&](std::size_t index, const std::string& what) {
        error = path + ": line " + std::to_string(index + 1) + ": " + what +
                "; this is not the journal of a save of the registry folder, so the folder is not opened "
                "(look at it, then remove it to keep the hive files as they are)";
        replacements.clear();
        return false;
    };
    if (lines.empty() || lines[0] != kJournalHeader) return fail(0, "unknown journal header");
    std::size_t index = 1;
    for (; index < lines.size() && lines[index] != "end"; ++index) {
        const std::vector<std::string> words = Words(lines[index]);
        Replacement replacement;
        if (words.size() != 5 || words[0] != "replace") return fail(index, "expected \"replace\" and four fields");
        const Hive* hive = nullptr;
        for (const Hive& candidate : kHives) {
            if (words[1] == candidate.fileName) hive = &candidate;
        }
        if (hive == nullptr) return fail(index, "\"" + words[1] + "\" is not a hive file of the folder");
        for (const Replacement& earlier : replacements) {
            if (earlier.hiveFile == words[1]) return fail(index, words[1] + " is named twice");
        }
        if (!IsTemporaryNameOf(words[2], hive->fileName))
            return fail(index, "\"" + words[2] + "\" is not a temporary file of " + words[1]);
        if (!ParseNumber(words[3], 10, replacement.size) || replacement.size > RegistryFolder::kMaxHiveFileSize)
            return fail(index, "bad size \"" + words[3] + "\"");
        if (words[4].size() != 16 || !ParseNumber(words[4], 16, replacement.checksum))
            return fail(index, "bad checksum \"" + words[4] + "\"");
        replacement.hiveFile = words[1];
        replacement.temporary = words[2];
        replacements.push_back(std::move(replacement));
    }
    if (index >= lines.size() || !ended) return fail(lines.size() - 1, "the journal does not end with \"end\"");
    if (index + 1 != lines.size()) return fail(index + 1, "text after \"end\"");
    if (replacements.empty()) return fail(index, "the journal names no file");
    return true;
}

// Whether the file at path holds exactly the content a replacement names.
bool Holds(const std::string& path, const Replacement& replacement, std::string& error, bool& failed) {
    failed = false;
    FileDescriptor file;
    std::uint64_t size = 0;
    bool exists = false;
    Written read;
    if (!OpenRegularFile(path, Links::Refuse, RegistryFolder::kMaxHiveFileSize, file, size, exists, error) ||
        (exists && !ReadBlocks(
                       file, path, RegistryFolder::kMaxHiveFileSize,
                       [&read](std::string_view block) {
                           read.size += block.size();
                           read.checksum = Checksum(read.checksum, block);
                           return true;
                       },
                       error))) {
        failed = true;
        return false;
    }
    return exists && read.size == replacement.size && read.checksum == replacement.checksum;
}

// Finishes the save a journal records, or discards it when it never reached
// any hive file; called under the lock, before stale temporary files go.
bool RecoverInterruptedSave(const std::string& directory, std::string& error) {
    const std::string journalPath = JoinPath(directory, RegistryFolder::kJournalFileName);
    std::string text;
    bool exists = false;
    if (!ReadRegularFile(journalPath, Links::Refuse, kMaxJournalSize, text, exists, error)) return false;
    if (!exists) return true;
    std::vector<Replacement> replacements;
    if (!ParseJournal(journalPath, text, replacements, error)) return false;

    std::vector<const Replacement*> waiting;  // new content still in its temporary file
    std::vector<const Replacement*> lost;     // new content neither there nor in place
    std::size_t done = 0;                     // new content already in place
    for (const Replacement& replacement : replacements) {
        bool failed = false;
        if (Holds(JoinPath(directory, replacement.temporary), replacement, error, failed)) {
            waiting.push_back(&replacement);
        } else if (failed) {
            return false;
        } else if (Holds(JoinPath(directory, replacement.hiveFile), replacement, error, failed)) {
            ++done;
        } else if (failed) {
            return false;
        } else {
            lost.push_back(&replacement);
        }
    }
    if (!lost.empty() && done > 0) {
        // Some hive already holds the save and another can no longer receive it:
        // only a person can tell which state to keep.
        error = journalPath + ": an interrupted save cannot be completed: the new content of " +
                JoinPath(directory, lost.front()->hiveFile) + " (" + lost.front()->temporary +
                ") is missing or damaged while other hive files already hold theirs; the folder is not opened";
        return false;
    }
    if (lost.empty()) {
        // Every new file was whole and flushed before the journal was written: finish the save.
        for (const Replacement* replacement : waiting) {
            if (!RenameInFolder(directory, replacement->temporary, replacement->hiveFile, error)) {
                error = "cannot complete the interrupted save recorded in " + journalPath + ": " + error;
                return false;
            }
        }
        if (!SyncDirectory(directory, error)) return false;
    }
    // Nothing was replaced and something is missing: the old files stand, and
    // the temporary files go with the other stale ones.
    if (::unlink(journalPath.c_str()) != 0) {
        error = "cannot remove " + journalPath + ": " + ErrnoText(errno);
        return false;
    }
    return SyncDirectory(directory, error);
}

void RemoveStaleTemporaryFiles(const std::string& directory) {
    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr) return;
    std::vector<std::string> stale;
    while (const dirent* entry = ::readdir(dir)) {
        if (IsTemporaryName(entry->d_name)) stale.push_back(entry->d_name);
    }
    ::closedir(dir);
    for (const std::string& name : stale) ::unlink(JoinPath(directory, name).c_str());
}

// ---- the lock -------------------------------------------------------------------

// The lock file: created if missing, refused unless a regular file (a symbolic
// link there could aim the process id written into it at any file).
int OpenLockFile(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd < 0) {
        error = errno == ELOOP ? path + " is a symbolic link; the lock file must be a regular file"
                               : "cannot open " + path + ": " + ErrnoText(errno);
        return -1;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = path + " is " + FileKind(info.st_mode) + "; the lock file must be a regular file";
        ::close(fd);
        return -1;
    }
    return fd;
}

// 0 when locked, else the errno of the failure (EWOULDBLOCK: held by another).
int TryLock(int fd) {
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
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
bool Lock(int fd, const std::string& directory, const std::string& lockPath,
          const RegistryFolder::OpenOptions& options, std::string& error) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const milliseconds timeout = std::max(options.lockTimeout, milliseconds(0));
    const Clock::time_point deadline = start + timeout;
    const Clock::time_point noticeAt = start + RegistryFolder::kLockNoticeDelay;
    bool noticed = !options.onWaiting;
    milliseconds pause(5);
    while (true) {
        const int failure = TryLock(fd);
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

// ---- hive files -----------------------------------------------------------------

// A hive file's content: the hive as AppendReadableRegKey writes it, produced
// block by block.
Content HiveContent(const MemoryRegistry& registry, RegRoot root) {
    return [&registry, root](const std::function<void(std::string_view)>& put, std::string& error) {
        RegWriteOptions options;
        options.skipVolatile = true;
        options.skipEmptyTop = true;
        return WriteRegFile(RootName(root), registry.Hive(root), options, put, error);
    };
}

// Whether the file at path holds exactly the content, compared block by block as
// it is produced. False with error set when the file cannot be read (as
// ReadRegularFile reads the folder's files) or the content cannot be produced.
bool FileHolds(const std::string& path, const Content& content, bool& same, std::string& error) {
    same = false;
    FileDescriptor file;
    std::uint64_t size = 0;
    bool exists = false;
    if (!OpenRegularFile(path, Links::Refuse, RegistryFolder::kMaxHiveFileSize, file, size, exists, error))
        return false;
    if (!exists) return true;
    bool equal = true;
    std::uint64_t produced = 0;
    std::vector<char> buffer;
    std::string readError;
    std::string contentError;
    const bool made = content(
        [&](std::string_view bytes) {
            produced += bytes.size();
            if (!equal || produced > size) {
                equal = false;
                return;
            }
            buffer.resize(bytes.size());
            std::size_t got = 0;
            while (got < bytes.size()) {
                const ssize_t now = ReadSome(file.fd, buffer.data() + got, bytes.size() - got);
                if (now < 0 && readError.empty()) readError = "cannot read " + path + ": " + ErrnoText(errno);
                if (now <= 0) break;
                got += static_cast<std::size_t>(now);
            }
            equal = got == bytes.size() && std::memcmp(buffer.data(), bytes.data(), got) == 0;
        },
        contentError);
    if (!made) {
        error = "cannot write " + path + ": " + contentError;
        return false;
    }
    if (!readError.empty()) {
        error = readError;
        return false;
    }
    char extra;
    same = equal && produced == size && ReadSome(file.fd, &extra, 1) == 0;
    return true;
}

// The hive a key of a .reg file belongs to (HKEY_CLASSES_ROOT is in the machine's).
RegRoot HiveOf(const std::u16string& keyPath) {
    const auto parsed = ParseFullKeyPath(keyPath);
    return parsed && parsed->root == RegRoot::CurrentUser ? RegRoot::CurrentUser : RegRoot::LocalMachine;
}

// Reads, decodes and parses each hive file a block at a time and applies each
// entry as it comes into registry, a registry of the folder's own: a file that
// is refused (not a hive file, malformed, a key of another hive) fails the open,
// and the registry goes with the folder, so nothing of any file is seen. No
// file is held whole, as bytes, as text or as a list of entries.
bool LoadHives(const std::string& directory, MemoryRegistry& registry, std::string& error) {
    for (const Hive& hive : kHives) {
        const std::string path = JoinPath(directory, hive.fileName);
        FileDescriptor file;
        std::uint64_t size = 0;
        bool exists = false;
        if (!OpenRegularFile(path, Links::Refuse, RegistryFolder::kMaxHiveFileSize, file, size, exists, error))
            return false;
        if (!exists) continue;

        RegFileDecoder decoder(RegFileRule::Hive);
        std::vector<char> block(1 << 20);
        std::uint64_t total = 0;
        std::string readError;
        std::string decodeError;
        bool decoded = true;
        bool ended = false;
        // The next piece of text, until the end of the file, a failure to read,
        // or the decoder's refusal of the bytes.
        const RegTextSource text = [&](std::u16string& out) {
            if (ended) return false;
            const ssize_t got = ReadSome(file.fd, block.data(), block.size());
            if (got < 0) {
                readError = "cannot read " + path + ": " + ErrnoText(errno);
                ended = true;
                return false;
            }
            // A file that grows while it is read is held to the same limit.
            total += static_cast<std::uint64_t>(got);
            if (total > RegistryFolder::kMaxHiveFileSize) {
                readError = TooLarge(path, RegistryFolder::kMaxHiveFileSize);
                ended = true;
                return false;
            }
            if (got == 0) {
                decoded = decoder.Finish(out, decodeError);
                ended = true;
                return decoded;
            }
            decoder.Feed(std::string_view(block.data(), static_cast<std::size_t>(got)), out);
            if (decoder.Refused()) {
                decoded = decoder.Finish(out, decodeError);
                ended = true;
                return false;
            }
            return true;
        };
        RegEntryApplier applier(registry);
        const auto apply = [&hive, &applier](RegFileEntry& entry, std::string& message) {
            // Values belong to the key above them, checked already.
            if ((entry.kind == RegFileEntry::Kind::Key || entry.kind == RegFileEntry::Kind::DeleteKey) &&
                HiveOf(entry.keyPath()) != hive.root) {
                message = "the key belongs to another hive";
                return false;
            }
            applier.Apply(entry);
            return true;
        };
        std::string parseError;
        const bool parsed = VisitRegText(text, apply, parseError);
        // The bytes are judged before the text, as if the file had been decoded
        // whole before it was parsed: a parse that stopped early reads on.
        std::u16string rest;
        while (!ended) {
            rest.clear();
            text(rest);
        }
        if (!readError.empty()) {
            error = readError;
            return false;
        }
        if (!decoded || !parsed) {
            error = path + ": " + (!decoded ? decodeError : parseError);
            return false;
        }
    }
    return true;
}

}  // namespace

RegistryFolder::RegistryFolder(std::string directory, int lockFd)
    : directory_(std::move(directory)), lockFd_(lockFd) {}

RegistryFolder::~RegistryFolder() {
    if (lockFd_ < 0) return;
    // Nobody holds the folder now; closing the file releases the lock.
    (void)!::ftruncate(lockFd_, 0);
    ::close(lockFd_);
}

void RegistryFolder::PrintNotice(const std::string& line) {
    std::fputs((line + "\n").c_str(), stderr);
    std::fflush(stderr);
}

std::unique_ptr<RegistryFolder> RegistryFolder::Open(const std::string& directory, std::string& error,
                                                     LockWait wait) {
    OpenOptions options;
    if (wait == LockWait::DontWait) {
        options.lockTimeout = milliseconds(0);
    } else {
        options.onWaiting = &RegistryFolder::PrintNotice;
    }
    return Open(directory, error, options);
}

std::unique_ptr<RegistryFolder> RegistryFolder::Open(const std::string& directory, std::string& error,
                                                     const OpenOptions& options) {
    try {
        if (directory.empty()) {
            error = "no registry folder given";
            return nullptr;
        }
        if (!MakeDirectories(directory, error)) return nullptr;

        const std::string lockPath = JoinPath(directory, kLockFileName);
        // Closed on every way out until the folder owns it (onWaiting may throw).
        struct LockFile {
            int fd;
            ~LockFile() {
                if (fd >= 0) ::close(fd);
            }
        } lockFile{OpenLockFile(lockPath, error)};
        if (lockFile.fd < 0) return nullptr;
        if (!Lock(lockFile.fd, directory, lockPath, options, error)) return nullptr;
        RecordHolder(lockFile.fd);
        std::unique_ptr<RegistryFolder> folder(new RegistryFolder(directory, lockFile.fd));
        lockFile.fd = -1;

        // With the lock held, a journal or temporary files can only be left over
        // from a save that never finished.
        if (!RecoverInterruptedSave(directory, error)) return nullptr;
        RemoveStaleTemporaryFiles(directory);
        if (!LoadHives(directory, folder->registry_, error)) return nullptr;
        return folder;
    } catch (const std::exception& e) {
        error = std::string("cannot open the registry folder ") + directory + ": " + e.what();
        return nullptr;
    }
}

bool RegistryFolder::Save(std::string& error) {
    std::vector<Replacement> replacements;
    bool committed = false;  // the journal is in place: its files must stay for the next open
    // Whatever goes wrong before the journal is in place leaves no file behind.
    auto discard = [&](const std::string* journalTemporary) {
        if (committed) return false;
        for (const Replacement& replacement : replacements) {
            if (!replacement.temporary.empty()) ::unlink(JoinPath(directory_, replacement.temporary).c_str());
        }
        if (journalTemporary != nullptr) ::unlink(JoinPath(directory_, *journalTemporary).c_str());
        return false;
    };
    try {
        // Each hive is compared with the file in place, then written to a
        // temporary file, as it is produced: no hive is held whole. The changed
        // ones are known first, so that a save of one hive (a rename alone, no
        // journal) does not checksum it.
        std::vector<const Hive*> changed;
        for (const Hive& hive : kHives) {
            bool same = false;
            if (!FileHolds(JoinPath(directory_, hive.fileName), HiveContent(registry_, hive.root), same, error))
                return false;
            if (!same) changed.push_back(&hive);
        }
        if (changed.empty()) return true;
        for (const Hive* hive : changed) {
            Replacement replacement;
            replacement.hiveFile = hive->fileName;
            Written written;
            if (!WriteTemporaryFile(directory_, hive->fileName, HiveContent(registry_, hive->root), changed.size() > 1,
                                    replacement.temporary, written, error))
                return discard(nullptr);
            replacement.size = written.size;
            replacement.checksum = written.checksum;
            replacements.push_back(std::move(replacement));
        }

        // One file: its rename alone is atomic.
        if (replacements.size() == 1) {
            if (!RenameInFolder(directory_, replacements[0].temporary, replacements[0].hiveFile, error))
                return discard(nullptr);
            if (SyncDirectory(directory_, error)) return true;
            error += "; " + JoinPath(directory_, replacements[0].hiveFile) +
                     " holds the save, which a crash could still undo";
            return false;
        }

        // More: the journal, once in place and flushed, makes the save happen.
        std::string journalTemporary;
        const std::string journal = JournalText(replacements);
        Written journalWritten;
        if (!WriteTemporaryFile(directory_, kJournalFileName, BytesContent(journal), false, journalTemporary,
                                journalWritten, error))
            return discard(nullptr);
        if (!RenameInFolder(directory_, journalTemporary, kJournalFileName, error)) return discard(&journalTemporary);
        std::string syncError;
        if (!SyncDirectory(directory_, syncError)) {
            // Whether the journal reached the disk is unknown: take it back.
            ::unlink(JoinPath(directory_, kJournalFileName).c_str());
            discard(nullptr);
            std::string ignored;
            SyncDirectory(directory_, ignored);
            error = syncError;
            return false;
        }
        committed = true;
        for (const Replacement& replacement : replacements) {
            if (!RenameInFolder(directory_, replacement.temporary, replacement.hiveFile, error)) {
                error += "; the save is recorded in " + JoinPath(directory_, kJournalFileName) +
                         " and is completed when the registry folder is next opened";
                return false;
            }
        }
        const std::string completion = "; the save is completed when the registry folder is next opened";
        if (!SyncDirectory(directory_, error)) {
            error += completion;
            return false;
        }
        if (::unlink(JoinPath(directory_, kJournalFileName).c_str()) != 0) {
            error = "cannot remove " + JoinPath(directory_, kJournalFileName) + ": " + ErrnoText(errno) +
                    "; the hive files hold the save";
            return false;
        }
        if (!SyncDirectory(directory_, error)) {
            error += "; the hive files hold the save";
            return false;
        }
        return true;
    } catch (const std::exception& e) {
        error = std::string("cannot save the registry folder ") + directory_ + ": " + e.what();
        return discard(nullptr);
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

bool ParseLockTimeout(std::string_view seconds, milliseconds& timeout, std::string& error) {
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
    timeout = milliseconds(static_cast<long long>(std::llround(value * 1000.0)));
    return true;
}

bool ReadRegFileToImport(const std::string& path, std::string& bytes, std::string& error) {
    bool exists = false;
    if (!ReadRegularFile(path, Links::Follow, RegistryFolder::kMaxHiveFileSize, bytes, exists, error)) return false;
    if (!exists) {
        error = "cannot read " + path + ": " + ErrnoText(ENOENT);
        return false;
    }
    return true;
}

}  // namespace qz
