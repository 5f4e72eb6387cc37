// The registry folder's file work (registry_folder_io_posix.cpp): which files a
// folder holds, reading them as the folder accepts them, writing a temporary
// file in full before it replaces another, and flushing the folder. The journal
// (registry_folder_journal.h), the lock (registry_folder_lock.h) and Open and
// Save (registry_folder_posix.cpp) stand on these. Not for use outside them
// (and their tests).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "registry/memory/reg_tree.h"
#include "registry/folder/unique_fd_posix.h"

namespace qz::folder {

// ---- the folder's files -------------------------------------------------------

struct HiveFile {
    RegRoot root;
    const char* fileName;
};

inline constexpr HiveFile kHiveFiles[] = {
    {RegRoot::LocalMachine, "HKEY_LOCAL_MACHINE.reg"},
    {RegRoot::CurrentUser, "HKEY_CURRENT_USER.reg"},
};

// Temporary files of a save are named ".<file>.XXXXXX" (mkostemp's six characters).
std::string TemporaryPrefix(const std::string& fileName);
bool IsTemporaryNameOf(const std::string& name, const std::string& fileName);
// A temporary file of a hive file or of the journal.
bool IsTemporaryName(const std::string& name);

std::string ErrnoText(int error);
std::string JoinPath(const std::string& directory, const std::string& name);
const char* FileKind(mode_t mode);

// Creates the folder and its parents as needed; false with error set when it
// cannot, or when the path is not a directory.
bool MakeDirectories(const std::string& path, std::string& error);

// The 64-bit FNV-1a hash: enough to tell a journal's new file from anything
// else that might stand under its name. Taken a block at a time: start from
// kChecksumStart and feed each block in turn.
inline constexpr std::uint64_t kChecksumStart = 0xcbf29ce484222325ull;
std::uint64_t Checksum(std::uint64_t hash, std::string_view bytes);

// ---- reading --------------------------------------------------------------------

enum class Links { Refuse, Follow };

// What opening a file to read came to.
enum class Opened { File, Missing, Failed };

// Reads up to size bytes, fewer at the end of the file; -1 with errno set.
ssize_t ReadSome(int fd, char* buffer, std::size_t size);

// "PATH is larger than 2 GiB, the most that is read of such a file"
std::string TooLarge(const std::string& path, std::uint64_t limit);

// Opens a regular file of at most limit bytes for reading, giving its size.
// Failed comes with error set. Nothing that is not a regular file is opened for
// reading: opening with O_NONBLOCK keeps a FIFO from blocking the open, and
// fstat then refuses it, a device such as /dev/zero, or a directory, before a
// byte is read.
Opened OpenRegularFile(const std::string& path, Links links, std::uint64_t limit, UniqueFd& file,
                       std::uint64_t& size, std::string& error);

// Reads an open file on a block at a time, counting what it has read against a
// limit: a file that grows while it is read is held to the same limit as its
// size when it was opened. The one place where a read is measured so.
class LimitedReader {
public:
    LimitedReader(const UniqueFd& file, const std::string& path, std::uint64_t limit)
        : file_(file), path_(path), limit_(limit) {}

    // The next block, empty at the end of the file. False, with error set, when
    // reading fails or the file has grown past the limit.
    bool Next(std::string_view& block, std::string& error);

private:
    const UniqueFd& file_;
    const std::string& path_;
    std::uint64_t limit_;
    std::uint64_t total_ = 0;
    std::vector<char> buffer_ = std::vector<char>(1 << 20);
};

// Reads an open file on, a block at a time, handing each to take until take
// returns false or the file ends. A file that grows while it is read is held
// to the same limit (LimitedReader). False with error set when reading fails.
bool ReadBlocks(const UniqueFd& file, const std::string& path, std::uint64_t limit,
                const std::function<bool(std::string_view)>& take, std::string& error);

// Reads a regular file whole, at most limit bytes (see OpenRegularFile).
Opened ReadRegularFile(const std::string& path, Links links, std::uint64_t limit, std::string& bytes,
                       std::string& error);

// ---- writing --------------------------------------------------------------------

// A file's content, produced in order and handed to a consumer block by block:
// a hive is never held whole in memory, neither to compare nor to write. False,
// with error set, when it cannot be produced.
using Content = std::function<bool(const std::function<void(std::string_view)>& put, std::string& error)>;

Content BytesContent(const std::string& bytes);

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
                        bool checksum, std::string& temporary, Written& written, std::string& error);

// Renames one file of the folder over another.
bool RenameInFolder(const std::string& directory, const std::string& from, const std::string& to,
                    std::string& error);

// Flushes the folder itself, so that renames and removals in it last.
bool SyncDirectory(const std::string& directory, std::string& error);

// What comparing a file with a content came to.
enum class Comparison { Same, Differs, Failed };

// Whether the file at path holds exactly the content, compared block by block as
// it is produced; a missing file differs. Failed, with error set, when the file
// cannot be read (as ReadRegularFile reads the folder's files) or the content
// cannot be produced.
Comparison CompareFile(const std::string& path, const Content& content, std::string& error);

}  // namespace qz::folder
