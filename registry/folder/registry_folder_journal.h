// The journal of a save that replaces more than one hive file
// (registry_folder_journal_posix.cpp): written and flushed into place before
// any hive file is replaced, it makes the save happen; the next Open finishes
// the save it records, or discards one that never got that far.
//
//   qz registry folder journal 1
//   replace HKEY_LOCAL_MACHINE.reg .HKEY_LOCAL_MACHINE.reg.Ab12Cd 81234 0123456789abcdef
//   replace HKEY_CURRENT_USER.reg .HKEY_CURRENT_USER.reg.Xy34Zw 1422 fedcba9876543210
//   end
//
// Each line names a hive file, the temporary file that holds its new content,
// and that content's size and checksum, by which the next open tells whether
// the new content is still waiting in the temporary file, already in the hive
// file, or neither. Not for use outside the registry folder's code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qz::folder {

// One hive file's new content, waiting under a temporary name.
struct Replacement {
    std::string hiveFile;
    std::string temporary;
    std::uint64_t size = 0;
    std::uint64_t checksum = 0;
};

// The new files of a save until they have replaced their hive files.
struct PendingSave {
    std::string directory;
    std::vector<Replacement> replacements;
    // The journal is in place: its files must stay for the next open.
    bool committed = false;

    // Whatever goes wrong before the journal is in place leaves no file behind:
    // removes the temporary files (and journalTemporary, a journal written but
    // not in place) unless the save is committed. False, for a failed save to return.
    bool Discard(const std::string* journalTemporary = nullptr);
};

// Replaces the hive files with their new content through the journal: once it
// is in place and flushed, the save happens, here or at the next open. False
// with error set on failure; error then says whether the next open completes it.
bool ReplaceThroughJournal(PendingSave& save, std::string& error);

// Finishes the save a journal records, or discards it when it never reached
// any hive file; called under the lock, before stale temporary files go.
bool RecoverInterruptedSave(const std::string& directory, std::string& error);

// Removes the temporary files of saves that never finished.
void RemoveStaleTemporaryFiles(const std::string& directory);

}  // namespace qz::folder
