// The registry folder: hives saved as .reg files and loaded back, saves that
// never leave a torn or half-replaced file, the lock that keeps two passes
// apart (across processes), and malformed files refused without harm.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "text/code_page.h"
#include "registry/reg_file.h"
#include "registry/registry_folder.h"

namespace qz {
namespace {

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

std::vector<std::string> FileNames(const std::string& directory) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(directory.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void SetString(RegistryApi& registry, HKEY root, const char* path, const char* name, const std::string& text,
               DWORD options = REG_OPTION_NON_VOLATILE) {
    HKEY key = nullptr;
    ASSERT_EQ(registry.CreateKeyEx(root, path, options, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    ASSERT_EQ(registry.SetValueEx(key, name, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
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
    void SetUp() override {
        char pattern[] = "/tmp/qz-registry-folder-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        dir_ = root_ + "/state/registry";
    }
    void TearDown() override { ASSERT_EQ(std::system(("rm -rf '" + root_ + "'").c_str()), 0); }

    std::unique_ptr<RegistryFolder> OpenOrFail(RegistryFolder::LockWait wait = RegistryFolder::LockWait::Wait) {
        std::string error;
        auto folder = RegistryFolder::Open(dir_, error, wait);
        EXPECT_NE(folder, nullptr) << error;
        return folder;
    }

    std::string Hive(const char* name) const { return dir_ + "/" + name; }

    std::string root_;
    std::string dir_;
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
        ASSERT_EQ(registry.OpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\Corvalen", KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
        ASSERT_EQ(registry.SetValueEx(key, "data", REG_BINARY, binary, sizeof binary), ERROR_SUCCESS);
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
    WriteBytes(Hive("HKEY_CURRENT_USER.reg"), "REGEDIT4\r\n[HKEY_CURRENT_USER\\A]\r\n\"v\"=dword:1\r\n");
    auto folder = OpenOrFail(RegistryFolder::LockWait::DontWait);
    ASSERT_NE(folder, nullptr);
    EXPECT_NE(folder->registry().FindKey(u"HKCU\\A"), nullptr);
}

TEST_F(RegistryFolderTest, AKeyInTheWrongHiveFileIsRefused) {
    { auto folder = OpenOrFail(); }
    WriteBytes(Hive("HKEY_CURRENT_USER.reg"), "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\.ovxf]\r\n");
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

}  // namespace
}  // namespace qz
