#include "registry/folder/registry_folder_journal.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "registry/folder/registry_folder.h"
#include "registry/folder/registry_folder_io.h"

namespace qz::folder {
namespace {

// A journal names two files at most; anything longer is not one of ours.
constexpr std::uint64_t kMaxJournalSize = 64 * 1024;
constexpr const char* kJournalHeader = "qz registry folder journal 1";
constexpr const char* kJournalFileName = RegistryFolder::kJournalFileName;

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
        const HiveFile* hive = nullptr;
        for (const HiveFile& candidate : kHiveFiles) {
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

// What a file holds, measured against the content a replacement names.
enum class Holding { TheContent, Other, Failed };

Holding Holds(const std::string& path, const Replacement& replacement, std::string& error) {
    UniqueFd file;
    std::uint64_t size = 0;
    Written read;
    const Opened opened = OpenRegularFile(path, Links::Refuse, RegistryFolder::kMaxHiveFileSize, file, size, error);
    if (opened == Opened::Failed) return Holding::Failed;
    if (opened == Opened::Missing) return Holding::Other;
    const bool wasRead = ReadBlocks(
        file, path, RegistryFolder::kMaxHiveFileSize,
        [&read](std::string_view block) {
            read.size += block.size();
            read.checksum = Checksum(read.checksum, block);
            return true;
        },
        error);
    if (!wasRead) return Holding::Failed;
    return read.size == replacement.size && read.checksum == replacement.checksum ? Holding::TheContent
                                                                                  : Holding::Other;
}

}  // namespace

bool PendingSave::Discard(const std::string* journalTemporary) {
    if (committed) return false;
    for (const Replacement& replacement : replacements) {
        if (!replacement.temporary.empty()) ::unlink(JoinPath(directory, replacement.temporary).c_str());
    }
    if (journalTemporary != nullptr) ::unlink(JoinPath(directory, *journalTemporary).c_str());
    return false;
}

bool ReplaceThroughJournal(PendingSave& save, std::string& error) {
    const std::string& directory = save.directory;
    std::string journalTemporary;
    const std::string journal = JournalText(save.replacements);
    Written journalWritten;
    if (!WriteTemporaryFile(directory, kJournalFileName, BytesContent(journal), false, journalTemporary,
                            journalWritten, error))
        return save.Discard();
    if (!RenameInFolder(directory, journalTemporary, kJournalFileName, error)) return save.Discard(&journalTemporary);
    std::string syncError;
    if (!SyncDirectory(directory, syncError)) {
        // Whether the journal reached the disk is unknown: take it back.
        ::unlink(JoinPath(directory, kJournalFileName).c_str());
        save.Discard();
        std::string ignored;
        SyncDirectory(directory, ignored);
        error = syncError;
        return false;
    }
    save.committed = true;
    for (const Replacement& replacement : save.replacements) {
        if (!RenameInFolder(directory, replacement.temporary, replacement.hiveFile, error)) {
            error += "; the save is recorded in " + JoinPath(directory, kJournalFileName) +
                     " and is completed when the registry folder is next opened";
            return false;
        }
    }
    const std::string completion = "; the save is completed when the registry folder is next opened";
    if (!SyncDirectory(directory, error)) {
        error += completion;
        return false;
    }
    if (::unlink(JoinPath(directory, kJournalFileName).c_str()) != 0) {
        error = "cannot remove " + JoinPath(directory, kJournalFileName) + ": " + ErrnoText(errno) +
                "; the hive files hold the save";
        return false;
    }
    if (!SyncDirectory(directory, error)) {
        error += "; the hive files hold the save";
        return false;
    }
    return true;
}

bool RecoverInterruptedSave(const std::string& directory, std::string& error) {
    const std::string journalPath = JoinPath(directory, kJournalFileName);
    std::string text;
    const Opened opened = ReadRegularFile(journalPath, Links::Refuse, kMaxJournalSize, text, error);
    if (opened == Opened::Failed) return false;
    if (opened == Opened::Missing) return true;
    std::vector<Replacement> replacements;
    if (!ParseJournal(journalPath, text, replacements, error)) return false;

    std::vector<const Replacement*> waiting;  // new content still in its temporary file
    std::vector<const Replacement*> lost;     // new content neither there nor in place
    std::size_t done = 0;                     // new content already in place
    for (const Replacement& replacement : replacements) {
        const Holding temporary = Holds(JoinPath(directory, replacement.temporary), replacement, error);
        if (temporary == Holding::TheContent) {
            waiting.push_back(&replacement);
            continue;
        }
        if (temporary == Holding::Failed) return false;
        const Holding hive = Holds(JoinPath(directory, replacement.hiveFile), replacement, error);
        if (hive == Holding::TheContent) {
            ++done;
        } else if (hive == Holding::Failed) {
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
    UniqueDir dir(::opendir(directory.c_str()));
    if (!dir) return;
    std::vector<std::string> stale;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (IsTemporaryName(entry->d_name)) stale.push_back(entry->d_name);
    }
    for (const std::string& name : stale) ::unlink(JoinPath(directory, name).c_str());
}

}  // namespace qz::folder
