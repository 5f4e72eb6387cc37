// Open and Save of the registry folder: loading the hive files under the lock,
// and saving the changed ones whole or not at all. The file work, the journal
// and the lock are in registry_folder_io.h, registry_folder_journal.h and
// registry_folder_lock.h.
#include "registry/folder/registry_folder.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string_view>
#include <vector>

#include "registry/reg_file/reg_file.h"
#include "registry/folder/registry_folder_io.h"
#include "registry/folder/registry_folder_journal.h"
#include "registry/folder/registry_folder_lock.h"

namespace qz {
namespace {

using std::chrono::milliseconds;
using namespace folder;

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

// The hive a key of a .reg file belongs to (HKEY_CLASSES_ROOT is in the machine's).
RegRoot HiveOf(const std::u16string& keyPath) {
    const auto parsed = ParseFullKeyPath(keyPath);
    return parsed && parsed->root == RegRoot::CurrentUser ? RegRoot::CurrentUser : RegRoot::LocalMachine;
}

// The text of a hive file, decoded a block at a time as it is read: the source
// VisitRegText reads. It ends at the end of the file, a failure to read, or the
// decoder's refusal of the bytes; then readError or decoded say which.
class HiveFileText {
public:
    HiveFileText(const UniqueFd& file, const std::string& path) : reader_(file, path, RegistryFolder::kMaxHiveFileSize) {}

    // Appends the next piece of text to out; false once the text has ended.
    bool Next(std::u16string& out) {
        if (ended_) return false;
        // A file that grows while it is read is held to the same limit.
        std::string_view block;
        if (!reader_.Next(block, readError)) {
            ended_ = true;
            return false;
        }
        if (block.empty()) {
            decoded = decoder_.Finish(out, decodeError);
            ended_ = true;
            return decoded;
        }
        decoder_.Feed(block, out);
        if (decoder_.Refused()) {
            decoded = decoder_.Finish(out, decodeError);
            ended_ = true;
            return false;
        }
        return true;
    }

    // Reads on to the end, for a verdict on the bytes after a parse that stopped early.
    void ReadToEnd() {
        std::u16string rest;
        while (!ended_) {
            rest.clear();
            Next(rest);
        }
    }

    std::string readError;
    std::string decodeError;
    bool decoded = true;

private:
    LimitedReader reader_;
    RegFileDecoder decoder_{RegFileRule::Hive};
    bool ended_ = false;
};

// Reads, decodes and parses a hive file a block at a time and applies each
// entry as it comes into registry, a registry of the folder's own: a file that
// is refused (not a hive file, malformed, a key of another hive) fails the open,
// and the registry goes with the folder, so nothing of any file is seen. No
// file is held whole, as bytes, as text or as a list of entries.
bool LoadHive(const std::string& directory, const HiveFile& hive, MemoryRegistry& registry, std::string& error) {
    const std::string path = JoinPath(directory, hive.fileName);
    UniqueFd file;
    std::uint64_t size = 0;
    const Opened opened = OpenRegularFile(path, Links::Refuse, RegistryFolder::kMaxHiveFileSize, file, size, error);
    if (opened == Opened::Failed) return false;
    if (opened == Opened::Missing) return true;

    HiveFileText text(file, path);
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
    const bool parsed =
        VisitRegText([&text](std::u16string& out) { return text.Next(out); }, apply, parseError);
    // The bytes are judged before the text, as if the file had been decoded
    // whole before it was parsed: a parse that stopped early reads on.
    text.ReadToEnd();
    if (!text.readError.empty()) {
        error = text.readError;
        return false;
    }
    if (!text.decoded || !parsed) {
        error = path + ": " + (!text.decoded ? text.decodeError : parseError);
        return false;
    }
    return true;
}

// The hives whose files would change: each is compared with the file in place
// as it is produced, no hive held whole.
bool FindChangedHives(const std::string& directory, const MemoryRegistry& registry,
                      std::vector<const HiveFile*>& changed, std::string& error) {
    for (const HiveFile& hive : kHiveFiles) {
        const Comparison comparison =
            CompareFile(JoinPath(directory, hive.fileName), HiveContent(registry, hive.root), error);
        if (comparison == Comparison::Failed) return false;
        if (comparison == Comparison::Differs) changed.push_back(&hive);
    }
    return true;
}

// Writes each changed hive to a temporary file, as it is produced. Only a save
// of more than one hive needs the checksums, for its journal.
bool WriteNewHiveFiles(const MemoryRegistry& registry, const std::vector<const HiveFile*>& changed,
                       PendingSave& save, std::string& error) {
    for (const HiveFile* hive : changed) {
        Replacement replacement;
        replacement.hiveFile = hive->fileName;
        Written written;
        if (!WriteTemporaryFile(save.directory, hive->fileName, HiveContent(registry, hive->root), changed.size() > 1,
                                replacement.temporary, written, error))
            return false;
        replacement.size = written.size;
        replacement.checksum = written.checksum;
        save.replacements.push_back(std::move(replacement));
    }
    return true;
}

// One file: its rename alone is atomic.
bool ReplaceOneHiveFile(PendingSave& save, std::string& error) {
    const Replacement& replacement = save.replacements[0];
    if (!RenameInFolder(save.directory, replacement.temporary, replacement.hiveFile, error)) return save.Discard();
    if (SyncDirectory(save.directory, error)) return true;
    error += "; " + JoinPath(save.directory, replacement.hiveFile) + " holds the save, which a crash could still undo";
    return false;
}

}  // namespace

RegistryFolder::RegistryFolder(std::string directory, UniqueFd lock, bool readOnly)
    : directory_(std::move(directory)), readOnly_(readOnly), lock_(std::move(lock)) {}

RegistryFolder::~RegistryFolder() {
    // A reader shares the lock and recorded nothing in the lock file: closing releases it.
    if (readOnly_) {
        lock_.reset();
    } else {
        UnlockFolder(lock_);
    }
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

        UniqueFd lock = LockFolder(directory, options, error);
        if (!lock) return nullptr;
        std::unique_ptr<RegistryFolder> folder(new RegistryFolder(directory, std::move(lock)));

        // With the lock held, a journal or temporary files can only be left over
        // from a save that never finished.
        if (!RecoverInterruptedSave(directory, error)) return nullptr;
        RemoveStaleTemporaryFiles(directory);
        for (const HiveFile& hive : kHiveFiles) {
            if (!LoadHive(directory, hive, folder->registry_, error)) return nullptr;
        }
        return folder;
    } catch (const std::exception& e) {
        error = std::string("cannot open the registry folder ") + directory + ": " + e.what();
        return nullptr;
    }
}

std::unique_ptr<RegistryFolder> RegistryFolder::OpenToRead(const std::string& directory, std::string& error,
                                                           const OpenOptions& options) {
    try {
        if (directory.empty()) {
            error = "no registry folder given";
            return nullptr;
        }
        if (RegistryFolderIsMissing(directory)) {
            error = "the registry folder " + directory + " does not exist";
            return nullptr;
        }
        struct stat info {};
        if (::stat(directory.c_str(), &info) != 0) {
            error = "cannot open the registry folder " + directory + ": " + ErrnoText(errno);
            return nullptr;
        }
        if (!S_ISDIR(info.st_mode)) {
            error = "the registry folder " + directory + " is not a directory";
            return nullptr;
        }
        const std::string lockPath = JoinPath(directory, kLockFileName);
        const std::string journalPath = JoinPath(directory, kJournalFileName);
        const auto exists = [](const std::string& path) {
            struct stat entry {};
            return ::lstat(path.c_str(), &entry) == 0 || errno != ENOENT;
        };
        // Without a lock file, a writer that starts while the hives are read
        // creates it before it changes anything: a lock file there afterwards
        // sends the reading round again, under the lock. Once there it stays,
        // so a second round is the last.
        for (int round = 0; round < 2; ++round) {
            UniqueFd lock = LockFolderToRead(directory, options, error);
            if (!lock && !error.empty()) return nullptr;
            const bool locked = static_cast<bool>(lock);
            std::unique_ptr<RegistryFolder> folder(new RegistryFolder(directory, std::move(lock), true));
            if (exists(journalPath)) {
                error = "the registry folder " + directory +
                        " holds a save that was interrupted (" + journalPath +
                        "), which the next command that writes to the folder completes; until then it is not read";
                return nullptr;
            }
            for (const HiveFile& hive : kHiveFiles) {
                if (!LoadHive(directory, hive, folder->registry_, error)) return nullptr;
            }
            if (locked || !exists(lockPath)) return folder;
        }
        error = "the registry folder " + directory + " changed while it was read";
        return nullptr;
    } catch (const std::exception& e) {
        error = std::string("cannot open the registry folder ") + directory + ": " + e.what();
        return nullptr;
    }
}

bool RegistryFolder::Save(std::string& error) {
    if (readOnly_) {
        error = "the registry folder " + directory_ + " was opened to read only; nothing is saved";
        return false;
    }
    PendingSave save{directory_, {}, false};
    try {
        std::vector<const HiveFile*> changed;
        if (!FindChangedHives(directory_, registry_, changed, error)) return false;
        if (changed.empty()) return true;
        if (!WriteNewHiveFiles(registry_, changed, save, error)) return save.Discard();
        if (save.replacements.size() == 1) return ReplaceOneHiveFile(save, error);
        // More: the journal, once in place and flushed, makes the save happen.
        return ReplaceThroughJournal(save, error);
    } catch (const std::exception& e) {
        error = std::string("cannot save the registry folder ") + directory_ + ": " + e.what();
        return save.Discard();
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

bool RegistryFolderIsMissing(const std::string& directory) {
    struct stat info {};
    return ::stat(directory.c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

bool ReadRegFileToImport(const std::string& path, std::string& bytes, std::string& error) {
    const Opened opened = ReadRegularFile(path, Links::Follow, RegistryFolder::kMaxHiveFileSize, bytes, error);
    if (opened == Opened::Failed) return false;
    if (opened == Opened::Missing) {
        error = "cannot read " + path + ": " + ErrnoText(ENOENT);
        return false;
    }
    return true;
}

}  // namespace qz
