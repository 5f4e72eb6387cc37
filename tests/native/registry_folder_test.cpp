// The registry folder: hives saved as .reg files and loaded back, saves that
// never leave a torn or half-replaced file (see also
// registry_folder_durability_test.cpp), an interrupted save finished or
// discarded from its journal, the lock that keeps two passes apart (across
// processes) and how an open waits for it, and malformed or hostile files
// refused without harm.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "module/platform_pass.h"
#include "text/code_page.h"
#include "registry/reg_file/reg_file.h"
#include "registry/folder/registry_folder.h"
#include "registry/folder/registry_folder_io.h"
#include "tests/support/folder_files.h"
#include "tests/support/memory_guard.h"
#include "tests/support/narrow_registry.h"

namespace qz {
namespace {

using test::FileNames;
using test::ReadBytes;
using test::WriteBytes;

void SetString(RegistryApi& registry, HKEY root, const char* path, const char* name, const std::string& text,
               DWORD options = REG_OPTION_NON_VOLATILE) {
    HKEY key = nullptr;
    ASSERT_EQ(NarrowRegistry(registry).CreateKeyEx(root, path, options, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    ASSERT_EQ(NarrowRegistry(registry).SetValueEx(key, name, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                                  static_cast<DWORD>(text.size() + 1)),
              ERROR_SUCCESS);
    registry.CloseKey(key);
}

// Runs body in a child process; the child's exit code.
template <typename Body>
int InChild(Body body) {
    const pid_t child = fork();
    if (child == 0) _exit(body());
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class RegistryFolderTest : public ::testing::Test {
protected:
    std::unique_ptr<RegistryFolder> OpenOrFail(RegistryFolder::LockWait wait = RegistryFolder::LockWait::Wait) {
        std::string error;
        auto folder = RegistryFolder::Open(dir_, error, wait);
        EXPECT_NE(folder, nullptr) << error;
        return folder;
    }

    std::string Hive(const char* name) const { return dir_ + "/" + name; }

    const test::ScratchFolder scratchFolder_{"qz-registry-folder-"};
    const std::string root_ = scratchFolder_.path();
    const std::string dir_ = root_ + "/state/registry";
};

TEST_F(RegistryFolderTest, SavedHivesLoadBackAndVolatileKeysAreNotSaved) {
    RegKey machineBefore;
    RegKey userBefore;
    {
        auto folder = OpenOrFail();
        ASSERT_NE(folder, nullptr);
        MemoryRegistry& registry = folder->registry();
        SetString(registry, HKEY_LOCAL_MACHINE, "Software\\Corvalen\\Orvantis\\38.0", "Path", "C:\\Program Files");
        SetString(registry, HKEY_CLASSES_ROOT, ".ovxf", "", "OVX.Document");
        SetString(registry, HKEY_CURRENT_USER, "Software\\Corvalen\\IniSettings", "whatsnew", "1");
        SetString(registry, HKEY_CURRENT_USER, "Software\\Fleeting", "v", "gone after save", REG_OPTION_VOLATILE);
        const BYTE binary[] = {0, 1, 2, 0xff};
        HKEY key = nullptr;
        ASSERT_EQ(NarrowRegistry(registry).OpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\Corvalen", KEY_ALL_ACCESS, &key),
                  ERROR_SUCCESS);
        ASSERT_EQ(NarrowRegistry(registry).SetValueEx(key, "data", REG_BINARY, binary, sizeof binary), ERROR_SUCCESS);
        registry.CloseKey(key);
        std::string error;
        ASSERT_TRUE(folder->Save(error)) << error;
        machineBefore = registry.Hive(RegRoot::LocalMachine);
        userBefore = registry.Hive(RegRoot::CurrentUser);
        userBefore.RemoveSubkey(u"Software");
        userBefore.AddSubkey(*registry.FindKey(u"HKCU\\Software")).RemoveSubkey(u"Fleeting");
    }
    EXPECT_EQ(FileNames(dir_), (std::vector<std::string>{"HKEY_CURRENT_USER.reg", "HKEY_LOCAL_MACHINE.reg", "lock"}));
    const std::string machineFile = ReadBytes(Hive("HKEY_LOCAL_MACHINE.reg"));
    const std::u16string machineText = DecodeRegFileBytes(machineFile);
    EXPECT_EQ(machineFile.substr(0, 2), "\xFF\xFE");
    EXPECT_EQ(machineText.rfind(u"Windows Registry Editor Version 5.00\r\n\r\n", 0), 0u);
    EXPECT_NE(machineText.find(u"[HKEY_LOCAL_MACHINE\\Software\\Classes\\.ovxf]\r\n@=\"OVX.Document\"\r\n"),
              std::u16string::npos);
    EXPECT_EQ(DecodeRegFileBytes(ReadBytes(Hive("HKEY_CURRENT_USER.reg"))).find(u"Fleeting"), std::u16string::npos);

    auto reopened = OpenOrFail();
    ASSERT_NE(reopened, nullptr);
    EXPECT_TRUE(SameContent(reopened->registry().Hive(RegRoot::LocalMachine), machineBefore));
    EXPECT_TRUE(SameContent(reopened->registry().Hive(RegRoot::CurrentUser), userBefore));
}

TEST_F(RegistryFolderTest, ASaveWithoutChangesRewritesNothing) {
    {
        auto folder = OpenOrFail();
        SetString(folder->registry(), HKEY_LOCAL_MACHINE, "Software\\A", "v", "x");
        std::string error;
        ASSERT_TRUE(folder->Save(error)) << error;
    }
    struct stat before {};
    ASSERT_EQ(stat(Hive("HKEY_LOCAL_MACHINE.reg").c_str(), &before), 0);
    auto folder = OpenOrFail();
    std::string error;
    ASSERT_TRUE(folder->Save(error)) << error;
    struct stat after {};
    ASSERT_EQ(stat(Hive("HKEY_LOCAL_MACHINE.reg").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the file was replaced although nothing changed";
}

TEST_F(RegistryFolderTest, ASaveRewritesAFileWhoseTextChangedButNotItsLength) {
    for (const char* data : {"x", "y"}) {
        auto folder = OpenOrFail();
        SetString(folder->registry(), HKEY_LOCAL_MACHINE, "Software\\A", "v", data);
        std::string error;
        ASSERT_TRUE(folder->Save(error)) << error;
    }
    auto folder = OpenOrFail();
    const RegValue* value = folder->registry().FindKey(u"HKLM\\Software\\A")->FindValue(u"v");
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->data, (std::vector<BYTE>{'y', 0, 0, 0}));
}

TEST_F(RegistryFolderTest, AFailedSaveLeavesTheOldFileWholeAndNoTemporaryFile) {
    {
        auto folder = OpenOrFail();
        SetString(folder->registry(), HKEY_LOCAL_MACHINE, "Software\\A", "v", "old");
        std::string error;
        ASSERT_TRUE(folder->Save(error)) << error;
    }
    const std::string oldBytes = ReadBytes(Hive("HKEY_LOCAL_MACHINE.reg"));

    // In a child whose files may not grow past 4 KiB, the new hive cannot be written.
    const int code = InChild([this] {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        std::string error;
        auto folder = RegistryFolder::Open(dir_, error);
        if (folder == nullptr) return 10;
        SetString(folder->registry(), HKEY_LOCAL_MACHINE, "Software\\A", "v", std::string(20000, 'n'));
        if (folder->Save(error)) return 11;
        return error.find("HKEY_LOCAL_MACHINE.reg") != std::string::npos ? 0 : 12;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(ReadBytes(Hive("HKEY_LOCAL_MACHINE.reg")), oldBytes);
    EXPECT_EQ(FileNames(dir_), (std::vector<std::string>{"HKEY_CURRENT_USER.reg", "HKEY_LOCAL_MACHINE.reg", "lock"}));
}

TEST_F(RegistryFolderTest, TemporaryFilesOfAnInterruptedSaveAreRemovedOnOpen) {
    { auto folder = OpenOrFail(); }
    WriteBytes(dir_ + "/.HKEY_LOCAL_MACHINE.reg.Ab12Cd", "half a file");
    auto folder = OpenOrFail();
    EXPECT_EQ(FileNames(dir_), (std::vector<std::string>{"lock"}));
}

// A process that tries the folder once told to, through a pipe. It is forked
// before the folder is opened here: a child forked later would share the
// parent's lock (flock locks belong to the open file, which fork shares).
class Contender {
public:
    template <typename Body>
    explicit Contender(Body body) {
        int fds[2];
        if (pipe(fds) != 0) std::abort();
        pid_ = fork();
        if (pid_ == 0) {
            close(fds[1]);
            alarm(20);  // never hang the suite
            char go = 0;
            if (read(fds[0], &go, 1) != 1) _exit(99);
            _exit(body());
        }
        close(fds[0]);
        go_ = fds[1];
    }
    ~Contender() {
        if (go_ >= 0) close(go_);
        if (pid_ > 0 && !exited_) Wait();
    }
    void Go() {
        const char go = 1;
        ASSERT_EQ(write(go_, &go, 1), 1);
    }
    bool StillRunning() { return waitpid(pid_, &status_, WNOHANG) == 0; }
    int Wait() {
        if (!exited_) {
            waitpid(pid_, &status_, 0);
            exited_ = true;
        }
        return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
    }

private:
    pid_t pid_ = -1;
    int go_ = -1;
    int status_ = 0;
    bool exited_ = false;
};

TEST_F(RegistryFolderTest, ASecondOpenWaitsForTheFirstOrFailsAtOnce) {
    { auto created = OpenOrFail(); }
    const std::string dir = dir_;
    Contender impatient([dir] {
        std::string error;
        auto second = RegistryFolder::Open(dir, error, RegistryFolder::LockWait::DontWait);
        if (second != nullptr) return 1;
        return error.find("in use") != std::string::npos ? 0 : 2;
    });
    Contender patient([dir] {
        std::string error;
        auto folder = RegistryFolder::Open(dir, error);
        return folder != nullptr && folder->registry().FindKey(u"HKCU\\Saved") != nullptr ? 0 : 1;
    });

    auto first = OpenOrFail();
    ASSERT_NE(first, nullptr);
    // Another process cannot take the folder while this one holds it...
    impatient.Go();
    EXPECT_EQ(impatient.Wait(), 0);
    // ...nor can this one through a second object.
    std::string error;
    EXPECT_EQ(RegistryFolder::Open(dir_, error, RegistryFolder::LockWait::DontWait), nullptr);

    // A waiting open goes on once the holder lets go, and sees what it saved.
    patient.Go();
    usleep(300 * 1000);
    EXPECT_TRUE(patient.StillRunning()) << "the second open did not wait";
    SetString(first->registry(), HKEY_CURRENT_USER, "Saved", "v", "x");
    ASSERT_TRUE(first->Save(error)) << error;
    first.reset();
    EXPECT_EQ(patient.Wait(), 0);
}

TEST_F(RegistryFolderTest, AMalformedFileIsRefusedWithItsNameAndLineAndLeftAlone) {
    { auto folder = OpenOrFail(); }
    const std::string broken = EncodeUtf16LeWithBom(
        u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n\"v\"=dword:zz\r\n");
    WriteBytes(Hive("HKEY_CURRENT_USER.reg"), broken);
    std::string error;
    EXPECT_EQ(RegistryFolder::Open(dir_, error), nullptr);
    EXPECT_EQ(error, Hive("HKEY_CURRENT_USER.reg") + ": line 4: dword: without a hexadecimal number");
    EXPECT_EQ(ReadBytes(Hive("HKEY_CURRENT_USER.reg")), broken);
    // The refused open let go of the lock.
    WriteBytes(Hive("HKEY_CURRENT_USER.reg"),
               EncodeUtf16LeWithBom(u"Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\A]\r\n\"v\"=dword:1\r\n"));
    auto folder = OpenOrFail(RegistryFolder::LockWait::DontWait);
    ASSERT_NE(folder, nullptr);
    EXPECT_NE(folder->registry().FindKey(u"HKCU\\A"), nullptr);
}

TEST_F(RegistryFolderTest, AKeyInTheWrongHiveFileIsRefused) {
    { auto folder = OpenOrFail(); }
    WriteBytes(Hive("HKEY_CURRENT_USER.reg"),
               EncodeUtf16LeWithBom(u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CLASSES_ROOT\\.ovxf]\r\n"));
    std::string error;
    EXPECT_EQ(RegistryFolder::Open(dir_, error), nullptr);
    EXPECT_EQ(error, Hive("HKEY_CURRENT_USER.reg") + ": line 3: the key belongs to another hive");
}

class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) saved_ = old;
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (saved_) {
            setenv(name_, saved_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> saved_;
};

TEST(DefaultRegistryFolder, ComesFromTheEnvironmentInOrder) {
    {
        ScopedEnv dir("QZ_REGISTRY_DIR", "/tmp/explicit");
        ScopedEnv state("XDG_STATE_HOME", "/tmp/state");
        EXPECT_EQ(DefaultRegistryFolder(), "/tmp/explicit");
    }
    {
        ScopedEnv dir("QZ_REGISTRY_DIR", "");
        ScopedEnv state("XDG_STATE_HOME", "/tmp/state");
        EXPECT_EQ(DefaultRegistryFolder(), "/tmp/state/orvantis/registry");
    }
    {
        ScopedEnv dir("QZ_REGISTRY_DIR", nullptr);
        ScopedEnv state("XDG_STATE_HOME", "relative/state");
        ScopedEnv home("HOME", "/home/someone");
        EXPECT_EQ(DefaultRegistryFolder(), "/home/someone/.local/state/orvantis/registry");
    }
}


// ---- waiting for the lock ------------------------------------------------------------

// Another process holding the folder: it opens the folder, says so, and then
// stops (as a process stopped in a terminal would) or lets go after a while.
// The test kills it when done; it dies with the test in any case.
class Holder {
public:
    enum class Then { Stop, LetGoAfter };

    Holder(const std::string& directory, Then then, int milliseconds = 0) {
        int fds[2];
        if (pipe(fds) != 0) std::abort();
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            close(fds[0]);
            alarm(30);
            std::string error;
            auto folder = RegistryFolder::Open(directory, error, RegistryFolder::LockWait::DontWait);
            const char locked = folder != nullptr ? 1 : 0;
            if (write(fds[1], &locked, 1) != 1 || folder == nullptr) _exit(1);
            if (then == Then::Stop) raise(SIGSTOP);
            usleep(static_cast<useconds_t>(milliseconds) * 1000);
            _exit(0);  // the lock goes with the process
        }
        close(fds[1]);
        char locked = 0;
        locked_ = read(fds[0], &locked, 1) == 1 && locked == 1;
        close(fds[0]);
    }
    ~Holder() {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    bool locked() const { return locked_; }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    bool locked_ = false;
};

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

TEST_F(RegistryFolderTest, AWaitingOpenSaysWhoHoldsTheFolderAndGivesUpAtItsTimeout) {
    Holder holder(dir_, Holder::Then::Stop);
    ASSERT_TRUE(holder.locked());
    const std::string pid = std::to_string(holder.pid());

    RegistryFolder::OpenOptions options;
    options.lockTimeout = milliseconds(1500);
    std::vector<std::string> notices;
    options.onWaiting = [&](const std::string& line) { notices.push_back(line); };
    std::string error;
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(RegistryFolder::Open(dir_, error, options), nullptr);
    const auto waited = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
    EXPECT_EQ(error, "the registry folder " + dir_ + " is still in use by process " + pid +
                         " after waiting 1.5 s; giving up");
    EXPECT_EQ(notices, (std::vector<std::string>{"the registry folder " + dir_ + " is in use by process " + pid +
                                                 "; waiting up to 1.5 s for it"}));
    EXPECT_GE(waited.count(), 1500);

    // Not waiting at all: the same holder named at once, and no notice.
    options.lockTimeout = milliseconds(0);
    notices.clear();
    EXPECT_EQ(RegistryFolder::Open(dir_, error, options), nullptr);
    EXPECT_EQ(error, "the registry folder " + dir_ + " is in use by process " + pid);
    EXPECT_TRUE(notices.empty());
}

TEST_F(RegistryFolderTest, AWaitingOpenGoesOnWhenTheHolderLetsGoInTime) {
    Holder holder(dir_, Holder::Then::LetGoAfter, 1300);
    ASSERT_TRUE(holder.locked());
    RegistryFolder::OpenOptions options;
    options.lockTimeout = milliseconds(30000);
    std::vector<std::string> notices;
    options.onWaiting = [&](const std::string& line) { notices.push_back(line); };
    std::string error;
    auto folder = RegistryFolder::Open(dir_, error, options);
    ASSERT_NE(folder, nullptr) << error;
    // It waited past the notice's second, and said who it was waiting for.
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("in use by process " + std::to_string(holder.pid()) + ";"), std::string::npos)
        << notices[0];
    // Now this process is named in the lock file, and nobody once it lets go.
    EXPECT_EQ(ReadBytes(dir_ + "/lock"), std::to_string(getpid()) + "\n");
    folder.reset();
    EXPECT_EQ(ReadBytes(dir_ + "/lock"), "");
}

TEST(LockTimeout, IsAWholeOrDecimalNumberOfSecondsUpToADay) {
    struct Case {
        const char* text;
        long long milliseconds;  // -1: refused
    };
    const Case cases[] = {
        {"60", 60000}, {"0", 0},      {"2.5", 2500},  {"0.25", 250},  {"86400", 86400000}, {"007", 7000},
        {"1.", 1000},  {".5", 500},   {"86401", -1},  {"-1", -1},     {"", -1},            {"abc", -1},
        {"1e3", -1},   {" 5", -1},    {"5 ", -1},     {"1.2.3", -1},  {".", -1},           {"inf", -1},
        {"0x10", -1},  {"nan", -1},   {"1,5", -1},
    };
    for (const Case& c : cases) {
        std::chrono::milliseconds timeout(12345);
        std::string error;
        const bool parsed = ParseLockTimeout(c.text, timeout, error);
        if (c.milliseconds < 0) {
            EXPECT_FALSE(parsed) << '"' << c.text << '"';
            EXPECT_EQ(error, std::string("the lock timeout must be a number of seconds from 0 to 86400, not \"") +
                                 c.text + "\"");
            EXPECT_EQ(timeout.count(), 12345) << c.text;
        } else {
            EXPECT_TRUE(parsed) << '"' << c.text << '"' << error;
            EXPECT_EQ(timeout.count(), c.milliseconds) << c.text;
        }
    }
}

// The module's own pass opens the folder too: it waits as a host does, for
// $QZ_LOCK_TIMEOUT seconds, and says who holds the folder.
TEST_F(RegistryFolderTest, TheModulesPassWaitsForTheLockTimeoutFromTheEnvironment) {
    Holder holder(dir_, Holder::Then::Stop);
    ASSERT_TRUE(holder.locked());
    const std::string pid = std::to_string(holder.pid());
    struct Case {
        const char* timeout;
        std::vector<std::string> says;
    };
    const Case cases[] = {
        {"1.5",
         {"the registry folder " + dir_ + " is in use by process " + pid + "; waiting up to 1.5 s for it\n",
          "Registration Error: Unable to open the registry folder " + dir_ + ": the registry folder " + dir_ +
              " is still in use by process " + pid + " after waiting 1.5 s; giving up\n"}},
        {"0", {"Registration Error: Unable to open the registry folder " + dir_ + ": the registry folder " + dir_ +
                   " is in use by process " + pid + "\n"}},
        {"soon", {"Registration Error: Unable to open the registry folder " + dir_ +
                  ": QZ_LOCK_TIMEOUT: the lock timeout must be a number of seconds from 0 to 86400, not \"soon\"\n"}},
    };
    for (const Case& c : cases) {
        const std::string said = root_ + "/stderr.txt";
        const int code = InChild([&] {
            alarm(20);
            setenv("QZ_REGISTRY_DIR", dir_.c_str(), 1);
            setenv("QZ_LOCK_TIMEOUT", c.timeout, 1);
            if (freopen(said.c_str(), "w", stderr) == nullptr) return 2;
            PlatformPass pass;
            return pass.Ready() ? 1 : 0;
        });
        EXPECT_EQ(code, 0) << c.timeout;
        std::string expected;
        for (const std::string& line : c.says) expected += line;
        EXPECT_EQ(ReadBytes(said), expected) << c.timeout;
    }
}

// ---- hostile files --------------------------------------------------------------------


struct HostileCase {
    const char* what;
    std::string file;                                   // the folder's file it is put in place of
    std::function<bool(const std::string&)> putInPlace;  // given the path; false when setting up failed
    std::string refusal;                                // the error, after the folder's path and "/"
};

TEST_F(RegistryFolderTest, RefusesWhatIsNotARegularFileOrIsTooLargeAndLeavesItAlone) {
    const std::string elsewhere = root_ + "/elsewhere.reg";
    const std::string victim = root_ + "/victim";
    const HostileCase cases[] = {
        {"a FIFO", "HKEY_LOCAL_MACHINE.reg", [](const std::string& path) { return mkfifo(path.c_str(), 0644) == 0; },
         "HKEY_LOCAL_MACHINE.reg is a FIFO, not a regular file; it is not read"},
        {"a link to an endless device", "HKEY_LOCAL_MACHINE.reg",
         [](const std::string& path) { return symlink("/dev/zero", path.c_str()) == 0; },
         "HKEY_LOCAL_MACHINE.reg is a symbolic link; the registry folder's files must be regular files (a save "
         "replaces them)"},
        {"a link to a good hive", "HKEY_CURRENT_USER.reg",
         [&](const std::string& path) {
             WriteBytes(elsewhere, EncodeUtf16LeWithBom(u"Windows Registry Editor Version 5.00\r\n"));
             return symlink(elsewhere.c_str(), path.c_str()) == 0;
         },
         "HKEY_CURRENT_USER.reg is a symbolic link; the registry folder's files must be regular files (a save "
         "replaces them)"},
        {"a directory", "HKEY_CURRENT_USER.reg", [](const std::string& path) { return mkdir(path.c_str(), 0755) == 0; },
         "HKEY_CURRENT_USER.reg is a directory, not a regular file; it is not read"},
        {"a file over 2 GiB (sparse)", "HKEY_LOCAL_MACHINE.reg",
         [](const std::string& path) {
             WriteBytes(path, EncodeUtf16LeWithBom(u"Windows Registry Editor Version 5.00\r\n"));
             return truncate(path.c_str(), static_cast<off_t>(RegistryFolder::kMaxHiveFileSize) + 2) == 0;
         },
         "HKEY_LOCAL_MACHINE.reg is larger than 2 GiB, the most that is read of such a file"},
        {"a hive a text editor saved as UTF-8", "HKEY_CURRENT_USER.reg",
         [](const std::string& path) {
             WriteBytes(path, "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Other]\r\n"
                              "\"v\"=\"h\xC3\xA9lp \xE2\x82\xAC\"\r\n");
             return true;
         },
         "HKEY_CURRENT_USER.reg: line 1: not a hive file: it has no UTF-16LE byte order mark (saved as UTF-8 or "
         "ANSI text?); the registry folder's files are UTF-16LE with a byte order mark, starting \"Windows Registry "
         "Editor Version 5.00\""},
        {"a lock file linked to another file", "lock",
         [&](const std::string& path) {
             WriteBytes(victim, "precious");
             return symlink(victim.c_str(), path.c_str()) == 0;
         },
         "lock is a symbolic link; the lock file must be a regular file"},
        {"a lock file that is a FIFO", "lock", [](const std::string& path) { return mkfifo(path.c_str(), 0644) == 0; },
         "lock is a FIFO; the lock file must be a regular file"},
        {"a journal that is a FIFO", "journal",
         [](const std::string& path) { return mkfifo(path.c_str(), 0644) == 0; },
         "journal is a FIFO, not a regular file; it is not read"},
    };
    for (const HostileCase& c : cases) {
        ASSERT_EQ(std::system(("rm -rf '" + dir_ + "' && mkdir -p '" + dir_ + "'").c_str()), 0);
        const std::string path = dir_ + "/" + c.file;
        ASSERT_TRUE(c.putInPlace(path)) << c.what;
        struct stat before {};
        ASSERT_EQ(lstat(path.c_str(), &before), 0) << c.what;
        const std::string said = root_ + "/error.txt";
        // In a child, so that an open that blocks or reads without end fails the
        // test instead of hanging it.
        const int code = InChild([&] {
            alarm(5);
            test::StopGrowingPast(512);
            std::string error;
            auto folder = RegistryFolder::Open(dir_, error);
            WriteBytes(said, error);
            return folder == nullptr ? 0 : 1;
        });
        EXPECT_EQ(code, 0) << c.what << " (142: it blocked; 98: it read without end)";
        EXPECT_EQ(ReadBytes(said), dir_ + "/" + c.refusal) << c.what;
        struct stat after {};
        ASSERT_EQ(lstat(path.c_str(), &after), 0) << c.what;
        EXPECT_EQ(after.st_ino, before.st_ino) << c.what;
        EXPECT_EQ(after.st_mode, before.st_mode) << c.what;
        EXPECT_EQ(after.st_size, before.st_size) << c.what;
    }
    EXPECT_EQ(ReadBytes(victim), "precious");
}

// A file read on after it was opened (and its size checked) may have grown
// meanwhile: what is read is held to the limit all the same, and a file that
// stays within it is read whole.
TEST_F(RegistryFolderTest, AFileThatGrowsWhileItIsReadIsHeldToTheLimit) {
    struct Case {
        const char* what;
        std::size_t whenOpened;
        std::size_t whenRead;
        std::uint64_t limit;
        bool read;
    };
    const Case cases[] = {
        {"grows past the limit", 10, 21, 20, false},
        {"grows to the limit", 10, 20, 20, true},
        {"grows past a limit of a block and more", 1000, (std::size_t{1} << 20) + 2000, (std::uint64_t{1} << 20) + 1000,
         false},
        {"does not grow", 20, 20, 20, true},
    };
    const std::string path = root_ + "/growing";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes(path, std::string(c.whenOpened, 'a'));
        UniqueFd file;
        std::uint64_t size = 0;
        std::string error;
        ASSERT_EQ(folder::OpenRegularFile(path, folder::Links::Refuse, c.limit, file, size, error),
                  folder::Opened::File)
            << error;
        {
            std::ofstream grow(path, std::ios::binary | std::ios::app);
            grow << std::string(c.whenRead - c.whenOpened, 'b');
        }
        std::string bytes;
        const bool read = folder::ReadBlocks(
            file, path, c.limit,
            [&bytes](std::string_view block) {
                bytes.append(block);
                return true;
            },
            error);
        EXPECT_EQ(read, c.read);
        if (c.read) {
            EXPECT_EQ(bytes.size(), c.whenRead);
        } else {
            EXPECT_EQ(error, folder::TooLarge(path, c.limit));
        }
    }
}

TEST(ReadRegFileToImport, FollowsLinksButReadsOnlyRegularFiles) {
    const test::ScratchFolder scratch("qz-import-");
    const std::string& dir = scratch.path();
    WriteBytes(dir + "/good.reg", "REGEDIT4\r\n");
    ASSERT_EQ(symlink((dir + "/good.reg").c_str(), (dir + "/link.reg").c_str()), 0);
    ASSERT_EQ(mkfifo((dir + "/fifo.reg").c_str(), 0644), 0);
    struct Case {
        std::string path;
        std::string error;  // empty: read
    };
    const Case cases[] = {
        {dir + "/good.reg", ""},
        {dir + "/link.reg", ""},
        {dir + "/fifo.reg", dir + "/fifo.reg is a FIFO, not a regular file; it is not read"},
        {"/dev/zero", "/dev/zero is a character device, not a regular file; it is not read"},
        {dir + "/missing.reg", "cannot read " + dir + "/missing.reg: No such file or directory"},
    };
    for (const Case& c : cases) {
        std::string bytes;
        std::string error;
        const bool read = ReadRegFileToImport(c.path, bytes, error);
        if (c.error.empty()) {
            EXPECT_TRUE(read) << c.path << ": " << error;
            EXPECT_EQ(bytes, "REGEDIT4\r\n") << c.path;
        } else {
            EXPECT_FALSE(read) << c.path;
            EXPECT_EQ(error, c.error);
        }
    }
    ASSERT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0);
}

// ---- a save that cannot be written, and interrupted saves -----------------------------

TEST_F(RegistryFolderTest, ASaveOfATreeThatWouldNotReadBackWritesNoFile) {
    {
        auto folder = OpenOrFail();
        SetString(folder->registry(), HKEY_LOCAL_MACHINE, "Software\\A", "v", "old");
        SetString(folder->registry(), HKEY_CURRENT_USER, "Software\\A", "v", "old");
        std::string error;
        ASSERT_TRUE(folder->Save(error)) << error;
    }
    const std::string machine = ReadBytes(Hive("HKEY_LOCAL_MACHINE.reg"));
    const std::string user = ReadBytes(Hive("HKEY_CURRENT_USER.reg"));
    auto folder = OpenOrFail();
    SetString(folder->registry(), HKEY_LOCAL_MACHINE, "Software\\A", "v", "new");
    ASSERT_TRUE(folder->registry().EnsureKey(u"HKCU\\Software\\two\nlines"));
    std::string error;
    EXPECT_FALSE(folder->Save(error));
    EXPECT_EQ(error, "cannot write " + Hive("HKEY_CURRENT_USER.reg") +
                         ": the key \"HKEY_CURRENT_USER\\Software\\two\nlines\" has a line break in its name, which "
                         "a .reg file cannot hold");
    EXPECT_EQ(ReadBytes(Hive("HKEY_LOCAL_MACHINE.reg")), machine);
    EXPECT_EQ(ReadBytes(Hive("HKEY_CURRENT_USER.reg")), user);
    EXPECT_EQ(FileNames(dir_), (std::vector<std::string>{"HKEY_CURRENT_USER.reg", "HKEY_LOCAL_MACHINE.reg", "lock"}));
}

// The 64-bit FNV-1a checksum a journal gives each new file.
std::string Checksum(const std::string& bytes) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ull;
    }
    char text[20];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

std::string HiveWith(const char16_t* key, const char16_t* data) {
    return EncodeUtf16LeWithBom(u"Windows Registry Editor Version 5.00\r\n\r\n[" + std::u16string(key) + u"]\r\n\"v\"=\"" +
                                data + u"\"\r\n\r\n");
}

class InterruptedSaveTest : public RegistryFolderTest {
protected:
    void SetUp() override {
        RegistryFolderTest::SetUp();
        { auto created = OpenOrFail(); }
        WriteBytes(Hive("HKEY_LOCAL_MACHINE.reg"), oldMachine_);
        WriteBytes(Hive("HKEY_CURRENT_USER.reg"), oldUser_);
    }

    std::string Journal(bool machineWaiting, bool userWaiting) {
        std::string journal = "qz registry folder journal 1\n";
        journal += "replace HKEY_LOCAL_MACHINE.reg .HKEY_LOCAL_MACHINE.reg.Mach01 " + std::to_string(newMachine_.size()) +
                   " " + Checksum(newMachine_) + "\n";
        journal += "replace HKEY_CURRENT_USER.reg .HKEY_CURRENT_USER.reg.User01 " + std::to_string(newUser_.size()) +
                   " " + Checksum(newUser_) + "\n";
        if (machineWaiting) WriteBytes(Hive(".HKEY_LOCAL_MACHINE.reg.Mach01"), newMachine_);
        if (userWaiting) WriteBytes(Hive(".HKEY_CURRENT_USER.reg.User01"), newUser_);
        return journal + "end\n";
    }

    const std::string oldMachine_ = HiveWith(u"HKEY_LOCAL_MACHINE\\Software\\Pass", u"old");
    const std::string oldUser_ = HiveWith(u"HKEY_CURRENT_USER\\Software\\Pass", u"old");
    const std::string newMachine_ = HiveWith(u"HKEY_LOCAL_MACHINE\\Software\\Pass", u"new");
    const std::string newUser_ = HiveWith(u"HKEY_CURRENT_USER\\Software\\Pass", u"new");
};

TEST_F(InterruptedSaveTest, AJournalInPlaceIsFinishedOnTheNextOpen) {
    struct Case {
        const char* what;
        bool machineWaiting;
        bool machineReplaced;
    };
    const Case cases[] = {
        {"killed before any rename", true, false},
        {"killed between the renames", false, true},
    };
    for (const Case& c : cases) {
        WriteBytes(Hive("HKEY_LOCAL_MACHINE.reg"), c.machineReplaced ? newMachine_ : oldMachine_);
        WriteBytes(Hive("HKEY_CURRENT_USER.reg"), oldUser_);
        WriteBytes(Hive("journal"), Journal(c.machineWaiting, true));
        auto folder = OpenOrFail();
        ASSERT_NE(folder, nullptr) << c.what;
        EXPECT_EQ(ReadBytes(Hive("HKEY_LOCAL_MACHINE.reg")), newMachine_) << c.what;
        EXPECT_EQ(ReadBytes(Hive("HKEY_CURRENT_USER.reg")), newUser_) << c.what;
        EXPECT_EQ(FileNames(dir_),
                  (std::vector<std::string>{"HKEY_CURRENT_USER.reg", "HKEY_LOCAL_MACHINE.reg", "lock"}))
            << c.what;
        EXPECT_NE(folder->registry().FindKey(u"HKCU\\Software\\Pass"), nullptr) << c.what;
    }
}

TEST_F(InterruptedSaveTest, AJournalWhoseNewFileIsLostIsDiscardedIfNoHiveHasChanged) {
    WriteBytes(Hive("journal"), Journal(true, false));
    auto folder = OpenOrFail();
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(ReadBytes(Hive("HKEY_LOCAL_MACHINE.reg")), oldMachine_);
    EXPECT_EQ(ReadBytes(Hive("HKEY_CURRENT_USER.reg")), oldUser_);
    EXPECT_EQ(FileNames(dir_), (std::vector<std::string>{"HKEY_CURRENT_USER.reg", "HKEY_LOCAL_MACHINE.reg", "lock"}));
}

TEST_F(InterruptedSaveTest, AHalfDoneSaveThatCannotBeFinishedRefusesTheOpenAndTouchesNothing) {
    WriteBytes(Hive("HKEY_LOCAL_MACHINE.reg"), newMachine_);
    const std::string journal = Journal(false, false);
    WriteBytes(Hive("journal"), journal);
    std::string error;
    EXPECT_EQ(RegistryFolder::Open(dir_, error), nullptr);
    EXPECT_EQ(error, Hive("journal") + ": an interrupted save cannot be completed: the new content of " +
                         Hive("HKEY_CURRENT_USER.reg") +
                         " (.HKEY_CURRENT_USER.reg.User01) is missing or damaged while other hive files already hold "
                         "theirs; the folder is not opened");
    EXPECT_EQ(ReadBytes(Hive("HKEY_LOCAL_MACHINE.reg")), newMachine_);
    EXPECT_EQ(ReadBytes(Hive("HKEY_CURRENT_USER.reg")), oldUser_);
    EXPECT_EQ(ReadBytes(Hive("journal")), journal);
}

TEST_F(InterruptedSaveTest, AJournalNotWrittenByASaveIsNotActedOn) {
    const std::string good = Journal(true, true);
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    struct Case {
        const char* what;
        std::string journal;
        std::string refusal;  // after "<journal>: "
    };
    const Case cases[] = {
        {"another header", replaced("journal 1", "journal 2"), "line 1: unknown journal header"},
        {"a file outside the folder", replaced(".HKEY_CURRENT_USER.reg.User01", "../../../../tmp/x"),
         "line 3: \"../../../../tmp/x\" is not a temporary file of HKEY_CURRENT_USER.reg"},
        {"another hive's temporary file", replaced(".HKEY_CURRENT_USER.reg.User01", ".HKEY_LOCAL_MACHINE.reg.Mach01"),
         "line 3: \".HKEY_LOCAL_MACHINE.reg.Mach01\" is not a temporary file of HKEY_CURRENT_USER.reg"},
        {"not a hive", replaced("replace HKEY_CURRENT_USER.reg", "replace lock"),
         "line 3: \"lock\" is not a hive file of the folder"},
        {"a hive twice", replaced("replace HKEY_CURRENT_USER.reg .HKEY_CURRENT_USER.reg.User01",
                                  "replace HKEY_LOCAL_MACHINE.reg .HKEY_LOCAL_MACHINE.reg.Mach01"),
         "line 3: HKEY_LOCAL_MACHINE.reg is named twice"},
        {"a bad size", replaced(" " + std::to_string(newUser_.size()) + " ", " -1 "), "line 3: bad size \"-1\""},
        {"torn", good.substr(0, good.size() - 4), "line 3: the journal does not end with \"end\""},
        {"text after the end", good + "replace\n", "line 5: text after \"end\""},
    };
    for (const Case& c : cases) {
        WriteBytes(Hive("journal"), c.journal);
        std::string error;
        EXPECT_EQ(RegistryFolder::Open(dir_, error), nullptr) << c.what;
        EXPECT_EQ(error, Hive("journal") + ": " + c.refusal +
                             "; this is not the journal of a save of the registry folder, so the folder is not opened "
                             "(look at it, then remove it to keep the hive files as they are)")
            << c.what;
        EXPECT_EQ(ReadBytes(Hive("HKEY_LOCAL_MACHINE.reg")), oldMachine_) << c.what;
        EXPECT_EQ(ReadBytes(Hive("HKEY_CURRENT_USER.reg")), oldUser_) << c.what;
        EXPECT_EQ(ReadBytes(Hive("journal")), c.journal) << c.what;
        EXPECT_EQ(ReadBytes(Hive(".HKEY_CURRENT_USER.reg.User01")), newUser_) << c.what;
    }
}

// An open to read, as a preview or a check makes it: the folder's files byte
// for byte as they were, whatever it finds.
class OpenToReadTest : public InterruptedSaveTest {
protected:
    void SetUp() override {}  // each test makes the folder it needs

    std::unique_ptr<RegistryFolder> Read(std::string& error, std::chrono::milliseconds timeout = std::chrono::milliseconds(0)) {
        RegistryFolder::OpenOptions options;
        options.lockTimeout = timeout;
        return RegistryFolder::OpenToRead(dir_, error, options);
    }

    // Every file of the folder, name and bytes.
    std::string Files() const {
        std::string files;
        for (const std::string& name : FileNames(dir_)) files += name + "=" + ReadBytes(dir_ + "/" + name) + "|";
        return files;
    }
};

TEST_F(OpenToReadTest, AMissingFolderIsNotMade) {
    std::string error;
    EXPECT_EQ(Read(error), nullptr);
    EXPECT_EQ(error, "the registry folder " + dir_ + " does not exist");
    EXPECT_EQ(FileNames(root_), std::vector<std::string>{}) << "not even its parent";
}

TEST_F(OpenToReadTest, AFolderNoOneHasWrittenToIsReadWithoutALockFile) {
    ASSERT_EQ(std::system(("mkdir -p '" + dir_ + "'").c_str()), 0);
    WriteBytes(Hive("HKEY_LOCAL_MACHINE.reg"), oldMachine_);
    const std::string before = Files();
    std::string error;
    auto folder = Read(error);
    ASSERT_NE(folder, nullptr) << error;
    EXPECT_NE(folder->registry().FindKey(u"HKLM\\Software\\Pass"), nullptr);
    SetString(folder->registry(), HKEY_CURRENT_USER, "Changed", "v", "x");
    EXPECT_FALSE(folder->Save(error));
    EXPECT_EQ(error, "the registry folder " + dir_ + " was opened to read only; nothing is saved");
    folder.reset();
    EXPECT_EQ(Files(), before) << "no lock file, no hive written";
}

TEST_F(OpenToReadTest, ReadersShareTheFolderAndAWriterWaitsForThem) {
    { auto created = OpenOrFail(); }
    WriteBytes(Hive("HKEY_CURRENT_USER.reg"), oldUser_);
    const std::string before = Files();
    std::string error;
    auto reader = Read(error);
    ASSERT_NE(reader, nullptr) << error;
    auto another = Read(error);
    EXPECT_NE(another, nullptr) << "a second reader: " << error;
    EXPECT_EQ(RegistryFolder::Open(dir_, error, RegistryFolder::LockWait::DontWait), nullptr);
    EXPECT_EQ(error, "the registry folder " + dir_ + " is in use by another process");
    reader.reset();
    another.reset();
    EXPECT_EQ(Files(), before);

    // A reader waits for a writer, as writers wait for each other.
    auto writer = OpenOrFail();
    EXPECT_EQ(Read(error), nullptr);
    EXPECT_EQ(error, "the registry folder " + dir_ + " is in use by this process (another open of it)");
}

TEST_F(OpenToReadTest, AnInterruptedSaveIsLeftForAnOpenToWrite) {
    InterruptedSaveTest::SetUp();
    const std::string journal = Journal(true, true);
    WriteBytes(Hive("journal"), journal);
    const std::string before = Files();
    std::string error;
    EXPECT_EQ(Read(error), nullptr);
    EXPECT_EQ(error, "the registry folder " + dir_ + " holds a save that was interrupted (" + Hive("journal") +
                         "), which the next command that writes to the folder completes; until then it is not read");
    EXPECT_EQ(Files(), before);
    { auto writer = OpenOrFail(); }
    auto folder = Read(error);
    ASSERT_NE(folder, nullptr) << error;
    EXPECT_EQ(ReadBytes(Hive("HKEY_CURRENT_USER.reg")), newUser_);
}

}  // namespace
}  // namespace qz
