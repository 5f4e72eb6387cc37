#include "registry/folder/registry_folder_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "registry/folder/registry_folder.h"

namespace qz::folder {
namespace {

// "2 GiB", "64 KiB"
std::string Size(std::uint64_t bytes) {
    if (bytes % (std::uint64_t{1} << 30) == 0) return std::to_string(bytes >> 30) + " GiB";
    if (bytes % (std::uint64_t{1} << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
    if (bytes % 1024 == 0) return std::to_string(bytes >> 10) + " KiB";
    return std::to_string(bytes) + " bytes";
}

}  // namespace

std::string TemporaryPrefix(const std::string& fileName) { return "." + fileName + "."; }

bool IsTemporaryNameOf(const std::string& name, const std::string& fileName) {
    const std::string prefix = TemporaryPrefix(fileName);
    return name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0 &&
           name.find('/') == std::string::npos;
}

bool IsTemporaryName(const std::string& name) {
    for (const HiveFile& hive : kHiveFiles) {
        if (IsTemporaryNameOf(name, hive.fileName)) return true;
    }
    return IsTemporaryNameOf(name, RegistryFolder::kJournalFileName);
}

std::string ErrnoText(int error) { return std::strerror(error); }

std::string JoinPath(const std::string& directory, const std::string& name) {
    if (!directory.empty() && directory.back() == '/') return directory + name;
    return directory + "/" + name;
}

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

std::string TooLarge(const std::string& path, std::uint64_t limit) {
    return path + " is larger than " + Size(limit) + ", the most that is read of such a file";
}

ssize_t ReadSome(int fd, char* buffer, std::size_t size) {
    ssize_t got;
    do {
        got = ::read(fd, buffer, size);
    } while (got < 0 && errno == EINTR);
    return got;
}

Opened OpenRegularFile(const std::string& path, Links links, std::uint64_t limit, UniqueFd& file,
                       std::uint64_t& size, std::string& error) {
    const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | (links == Links::Refuse ? O_NOFOLLOW : 0);
    file.reset(::open(path.c_str(), flags));
    if (!file) {
        const int saved = errno;
        if (saved == ENOENT) return Opened::Missing;
        if (saved == ELOOP && links == Links::Refuse) {
            error = path + " is a symbolic link; the registry folder's files must be regular files "
                           "(a save replaces them)";
        } else {
            error = "cannot read " + path + ": " + ErrnoText(saved);
        }
        return Opened::Failed;
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) {
        error = "cannot read " + path + ": " + ErrnoText(errno);
        return Opened::Failed;
    }
    if (!S_ISREG(info.st_mode)) {
        error = path + " is " + FileKind(info.st_mode) + ", not a regular file; it is not read";
        return Opened::Failed;
    }
    if (static_cast<std::uint64_t>(info.st_size) > limit) {
        error = TooLarge(path, limit);
        return Opened::Failed;
    }
    size = static_cast<std::uint64_t>(info.st_size);
    return Opened::File;
}

bool LimitedReader::Next(std::string_view& block, std::string& error) {
    block = std::string_view();
    const ssize_t got = ReadSome(file_.get(), buffer_.data(), buffer_.size());
    if (got < 0) {
        error = "cannot read " + path_ + ": " + ErrnoText(errno);
        return false;
    }
    total_ += static_cast<std::uint64_t>(got);
    if (total_ > limit_) {
        error = TooLarge(path_, limit_);
        return false;
    }
    block = std::string_view(buffer_.data(), static_cast<std::size_t>(got));
    return true;
}

bool ReadBlocks(const UniqueFd& file, const std::string& path, std::uint64_t limit,
                const std::function<bool(std::string_view)>& take, std::string& error) {
    LimitedReader reader(file, path, limit);
    while (true) {
        std::string_view block;
        if (!reader.Next(block, error)) return false;
        if (block.empty()) return true;
        if (!take(block)) return true;
    }
}

Opened ReadRegularFile(const std::string& path, Links links, std::uint64_t limit, std::string& bytes,
                       std::string& error) {
    bytes.clear();
    UniqueFd file;
    std::uint64_t size = 0;
    const Opened opened = OpenRegularFile(path, links, limit, file, size, error);
    if (opened != Opened::File) return opened;
    bytes.reserve(static_cast<std::size_t>(size));
    const bool read = ReadBlocks(
        file, path, limit,
        [&bytes](std::string_view block) {
            bytes.append(block.data(), block.size());
            return true;
        },
        error);
    return read ? Opened::File : Opened::Failed;
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
    UniqueFd folder(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    bool synced = folder && ::fsync(folder.get()) == 0;
    const int saved = errno;
    folder.reset();
    if (!synced) error = "cannot flush the registry folder " + directory + ": " + ErrnoText(saved);
    return synced;
}

Content BytesContent(const std::string& bytes) {
    return [&bytes](const std::function<void(std::string_view)>& put, std::string&) {
        put(bytes);
        return true;
    };
}

bool WriteTemporaryFile(const std::string& directory, const std::string& fileName, const Content& content,
                        bool checksum, std::string& temporary, Written& written, std::string& error) {
    const std::string path = JoinPath(directory, fileName);
    std::string pattern = JoinPath(directory, TemporaryPrefix(fileName) + "XXXXXX");
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    UniqueFd file(::mkostemp(name.data(), O_CLOEXEC));
    if (!file) {
        error = "cannot write " + path + ": cannot create a temporary file: " + ErrnoText(errno);
        return false;
    }
    // Removed on every way out (content may throw) until it is whole and flushed.
    struct Created {
        std::string path;
        bool keep = false;
        ~Created() {
            if (!keep) ::unlink(path.c_str());
        }
    } created{name.data()};
    struct stat info {};
    const mode_t mode = ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) ? (info.st_mode & 07777) : 0644;
    // Written as it is produced; the first failure stops the writing.
    written = Written{};
    int writeError = 0;
    std::string contentError;
    const bool produced = content(
        [&](std::string_view bytes) {
            if (writeError != 0) return;
            if (!WriteAll(file.get(), bytes)) {
                writeError = errno;
                return;
            }
            written.size += bytes.size();
            if (checksum) written.checksum = Checksum(written.checksum, bytes);
        },
        contentError);
    if (!produced) {
        file.reset();
        error = "cannot write " + path + ": " + contentError;
        return false;
    }
    bool ok = writeError == 0 && ::fchmod(file.get(), mode) == 0 && ::fsync(file.get()) == 0;
    int saved = writeError != 0 ? writeError : errno;
    if (!file.Close() && ok) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        error = "cannot write " + path + ": " + ErrnoText(saved);
        return false;
    }
    created.keep = true;
    temporary = created.path.substr(created.path.find_last_of('/') + 1);
    return true;
}

bool RenameInFolder(const std::string& directory, const std::string& from, const std::string& to,
                    std::string& error) {
    if (::rename(JoinPath(directory, from).c_str(), JoinPath(directory, to).c_str()) == 0) return true;
    error = "cannot replace " + JoinPath(directory, to) + ": " + ErrnoText(errno);
    return false;
}

Comparison CompareFile(const std::string& path, const Content& content, std::string& error) {
    UniqueFd file;
    std::uint64_t size = 0;
    const Opened opened = OpenRegularFile(path, Links::Refuse, RegistryFolder::kMaxHiveFileSize, file, size, error);
    if (opened == Opened::Failed) return Comparison::Failed;
    if (opened == Opened::Missing) return Comparison::Differs;
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
                const ssize_t now = ReadSome(file.get(), buffer.data() + got, bytes.size() - got);
                if (now < 0 && readError.empty()) readError = "cannot read " + path + ": " + ErrnoText(errno);
                if (now <= 0) break;
                got += static_cast<std::size_t>(now);
            }
            equal = got == bytes.size() && std::memcmp(buffer.data(), bytes.data(), got) == 0;
        },
        contentError);
    if (!made) {
        error = "cannot write " + path + ": " + contentError;
        return Comparison::Failed;
    }
    if (!readError.empty()) {
        error = readError;
        return Comparison::Failed;
    }
    char extra;
    const bool same = equal && produced == size && ReadSome(file.get(), &extra, 1) == 0;
    return same ? Comparison::Same : Comparison::Differs;
}

}  // namespace qz::folder
