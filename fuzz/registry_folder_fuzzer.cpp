// Loading a registry folder whose files are arbitrary (see folder_image.h):
// hives, a journal of an interrupted save, its temporary files and the lock
// file. Whatever the files hold:
// - an open that fails says which file of the folder is at fault, and, when no
//   journal asked it to finish a save, leaves the hive files and the journal
//   as they were;
// - an open that succeeds leaves no journal or temporary file behind, a save
//   then succeeds, and the folder opened again holds the same trees.
// The folder lives in /dev/shm (a tmpfs: no disk traffic) under this process's id.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "fuzz/folder_image.h"
#include "registry/folder/registry_folder.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "registry_folder_fuzzer: %s: %s\n", what, detail.c_str());
    std::abort();
}

void Clear(const std::string& directory);

std::string Base() { return "/dev/shm/qz-folder-fuzz-" + std::to_string(::getpid()); }

void RemoveBase() {
    Clear(Base() + "/registry");
    ::rmdir(Base().c_str());
}

const std::string& Directory() {
    static const std::string directory = [] {
        ::mkdir(Base().c_str(), 0700);
        std::atexit(RemoveBase);  // libFuzzer ends a timed run with exit()
        return Base() + "/registry";
    }();
    return directory;
}

// The folder's files and their contents; with storedOnly, only the hive files
// and the journal (an open may clear stale temporary files and writes its
// process id into the lock file).
std::map<std::string, std::string> Contents(const std::string& directory, bool storedOnly) {
    std::map<std::string, std::string> files;
    if (DIR* dir = ::opendir(directory.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == ".." || name == qz::RegistryFolder::kLockFileName) continue;
            if (storedOnly && name[0] == '.') continue;
            std::ifstream in(directory + "/" + name, std::ios::binary);
            files[name] = std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        ::closedir(dir);
    }
    return files;
}

void Clear(const std::string& directory) {
    if (DIR* dir = ::opendir(directory.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") ::unlink((directory + "/" + name).c_str());
        }
        ::closedir(dir);
    }
    ::rmdir(directory.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& directory = Directory();
    Clear(directory);
    ::mkdir(directory.c_str(), 0755);
    bool journal = false;
    for (const qz::fuzz::FolderFile& file : qz::fuzz::ParseFolderImage(data, size)) {
        std::ofstream out(directory + "/" + file.name, std::ios::binary | std::ios::trunc);
        out << file.bytes;
        if (file.name == qz::RegistryFolder::kJournalFileName) journal = true;
    }
    const std::map<std::string, std::string> before = Contents(directory, true);

    std::string error;
    auto folder = qz::RegistryFolder::Open(directory, error, qz::RegistryFolder::LockWait::DontWait);
    if (folder == nullptr) {
        if (error.find(directory + "/") == std::string::npos) Fail("an error names no file of the folder", error);
        if (!journal && Contents(directory, true) != before) Fail("a refused open changed the folder", error);
        return 0;
    }
    for (const auto& [name, bytes] : Contents(directory, false)) {
        if (name != "HKEY_LOCAL_MACHINE.reg" && name != "HKEY_CURRENT_USER.reg")
            Fail("an open left a file behind", name);
    }
    if (!folder->Save(error)) Fail("a save of what was loaded failed", error);
    const qz::MemoryRegistry loaded = folder->registry();
    folder.reset();
    auto again = qz::RegistryFolder::Open(directory, error, qz::RegistryFolder::LockWait::DontWait);
    if (again == nullptr) Fail("a saved folder does not open", error);
    for (const qz::RegRoot root : {qz::RegRoot::LocalMachine, qz::RegRoot::CurrentUser}) {
        if (!qz::SameContent(again->registry().Hive(root), loaded.Hive(root)))
            Fail("the saved folder holds other trees", root == qz::RegRoot::LocalMachine ? "machine" : "user");
    }
    return 0;
}
