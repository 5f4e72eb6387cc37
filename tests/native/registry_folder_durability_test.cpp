// A pass lands in both hive files or in neither, whatever stops its save:
//
// - a kill at every step of the save's file operations (each rename, fsync and
//   unlink, just before and just after it), and kills at random moments while
//   it writes large hives; after each, the next open finds both hives showing
//   the pass or neither, and nothing left over;
// - a full disk (a small tmpfs mounted in a mount namespace of the test's own)
//   that runs out after the first new hive file is written: the save fails
//   naming the file, qzreg exits 5, and both files are as they were.
//
// Each pass runs in a forked child, so a kill stops only what the test started.
// The number of random kills is QZ_DURABILITY_ROUNDS (default 20). Where no
// tmpfs can be mounted the full-disk tests skip, and show as skipped; with
// QZ_REQUIRE_FULL_DISK_TESTS=1 (scripts/run-tests.sh sets it for root, as CI
// runs) they fail there instead, so that such a run never passes unchecked.
#include <gtest/gtest.h>

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "registry/reg_file/reg_file.h"
#include "registry/changes/registry_data.h"
#include "tests/support/folder_files.h"
#include "text/utf16_data.h"
#include "registry/folder/registry_folder.h"

// ---- kill points ----------------------------------------------------------------
//
// The folder's code is linked into this program, so its calls to rename, fsync
// and unlink land on these definitions, which pass them on to the C library.
// In a child armed with a count, the count-th point (just before or just after
// one of these calls) kills the child.

namespace {

bool gArmed = false;
int gKillAt = 0;  // 0: only count
int gPoints = 0;  // points passed since arming

void KillPoint() {
    if (!gArmed) return;
    if (++gPoints == gKillAt) ::kill(::getpid(), SIGKILL);
}

template <typename Function>
Function Real(const char* name) {
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int rename(const char* from, const char* to) {
    static const auto real = Real<int (*)(const char*, const char*)>("rename");
    KillPoint();
    const int result = real(from, to);
    KillPoint();
    return result;
}

extern "C" int fsync(int fd) {
    static const auto real = Real<int (*)(int)>("fsync");
    KillPoint();
    const int result = real(fd);
    KillPoint();
    return result;
}

extern "C" int unlink(const char* path) {
    static const auto real = Real<int (*)(const char*)>("unlink");
    KillPoint();
    const int result = real(path);
    KillPoint();
    return result;
}

namespace qz {
namespace {

using test::FileNames;
using test::ReadBytes;

using Clock = std::chrono::steady_clock;

std::vector<BYTE> Dword(DWORD number) {
    return {static_cast<BYTE>(number), static_cast<BYTE>(number >> 8), static_cast<BYTE>(number >> 16),
            static_cast<BYTE>(number >> 24)};
}

const char16_t* const kMarkerKeys[] = {u"HKLM\\Software\\Durability", u"HKCU\\Software\\Durability"};

// Which pass each hive shows: the generation both hives carry, -1 where missing.
std::vector<long> Generations(const MemoryRegistry& registry) {
    std::vector<long> generations;
    for (const char16_t* key : kMarkerKeys) {
        const RegKey* found = registry.FindKey(key);
        const RegValue* value = found != nullptr ? found->FindValue(u"generation") : nullptr;
        const std::optional<std::uint32_t> generation = value != nullptr ? DwordOfData(value->data) : std::nullopt;
        generations.push_back(generation ? static_cast<long>(*generation) : -1);
    }
    return generations;
}

// One pass: marks both hives with this generation and changes the bulk of
// each, so that both files are written again whole.
void Pass(MemoryRegistry& registry, long generation) {
    for (const char16_t* key : kMarkerKeys) {
        registry.PutValue(key, RegValue{u"generation", REG_DWORD, Dword(static_cast<DWORD>(generation))});
        registry.PutValue(key, RegValue{u"bulk", REG_SZ, Utf16Data(std::u16string(64, static_cast<char16_t>(u'a' + generation % 26)))});
    }
}

class FolderDurabilityTest : public ::testing::Test {
protected:
    // Fills both hives with `values` values of some 200 bytes each, so that a
    // save takes a while, and marks them generation 0.
    void CreateLargeFolder(int values) {
        std::string error;
        auto folder = RegistryFolder::Open(dir_, error);
        ASSERT_NE(folder, nullptr) << error;
        for (int i = 0; i < values; ++i) {
            const std::u16string name = u"value " + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) +
                                        std::u16string(1, static_cast<char16_t>(u'0' + i / 26 % 10)) +
                                        std::u16string(1, static_cast<char16_t>(u'0' + i / 260 % 10)) +
                                        std::u16string(1, static_cast<char16_t>(u'0' + i / 2600 % 10));
            const RegValue value{name, REG_SZ, Utf16Data(std::u16string(90, static_cast<char16_t>(u'a' + i % 26)))};
            folder->registry().PutValue(u"HKLM\\Software\\Bulk\\Key " + std::u16string(1, u'A' + i % 20), value);
            folder->registry().PutValue(u"HKCU\\Software\\Bulk\\Key " + std::u16string(1, u'A' + i % 20), value);
        }
        Pass(folder->registry(), 0);
        ASSERT_TRUE(folder->Save(error)) << error;
    }

    // Forks a child that opens the folder, makes pass `generation`, tells the
    // parent through `ready` that its save begins, arms the kill points with
    // killAt (0: none) and saves. Exits 0 when the save succeeded.
    pid_t StartPass(long generation, int killAt, int ready) {
        const pid_t child = fork();
        if (child != 0) return child;
        alarm(120);  // never outlive a stuck test
        std::string error;
        auto folder = RegistryFolder::Open(dir_, error);
        if (folder == nullptr) _exit(10);
        Pass(folder->registry(), generation);
        if (ready >= 0) {
            const char go = 1;
            if (write(ready, &go, 1) != 1) _exit(11);
        }
        gKillAt = killAt;
        gPoints = 0;
        gArmed = true;
        const bool saved = folder->Save(error);
        gArmed = false;
        // How many points the save passed, for the parent's count.
        if (ready >= 0) {
            const char count = static_cast<char>(std::min(gPoints, 120));
            if (write(ready, &count, 1) != 1) _exit(12);
        }
        _exit(saved ? 0 : 13);
    }

    // After a pass that may have been cut short: the next open finishes or
    // discards it, both hives show the same generation (before or this one), and
    // no journal or temporary file is left. The generation found.
    long CheckBothOrNeither(long before, long pass, const std::string& what) {
        std::string error;
        auto folder = RegistryFolder::Open(dir_, error);
        EXPECT_NE(folder, nullptr) << what << ": " << error;
        if (folder == nullptr) return before;
        const std::vector<long> generations = Generations(folder->registry());
        EXPECT_EQ(generations[0], generations[1]) << what << ": the machine hive shows pass " << generations[0]
                                                  << ", the user hive pass " << generations[1];
        EXPECT_TRUE(generations[0] == before || generations[0] == pass) << what << ": " << generations[0];
        EXPECT_EQ(FileNames(dir_),
                  (std::vector<std::string>{"HKEY_CURRENT_USER.reg", "HKEY_LOCAL_MACHINE.reg", "lock"}))
            << what;
        return generations[0];
    }

    const test::ScratchFolder scratchFolder_{"qz-folder-durability-"};
    const std::string root_ = scratchFolder_.path();
    const std::string dir_ = root_ + "/registry";
};

int WaitFor(pid_t child) {
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST_F(FolderDurabilityTest, AKillAtAnyStepOfTheSaveLeavesBothHivesOrNeither) {
    CreateLargeFolder(200);
    // A pass that runs through counts the points of its save.
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t counting = StartPass(1, 0, pipeFds[1]);
    char go = 0;
    char points = 0;
    ASSERT_EQ(read(pipeFds[0], &go, 1), 1);
    ASSERT_EQ(read(pipeFds[0], &points, 1), 1);
    close(pipeFds[0]);
    close(pipeFds[1]);
    ASSERT_EQ(WaitFor(counting), 0);
    long generation = CheckBothOrNeither(0, 1, "the counting pass");
    ASSERT_EQ(generation, 1);
    ASSERT_GE(points, 8) << "a save of two hives passes fewer file operations than expected";

    // Then one pass killed at each point in turn, before and after each operation.
    int landed = 0;
    for (int point = 1; point <= points; ++point) {
        const long pass = generation + 1;
        const pid_t child = StartPass(pass, point, -1);
        const int code = WaitFor(child);
        ASSERT_TRUE(code == 128 + SIGKILL) << "the pass killed at point " << point << " ended with " << code;
        generation = CheckBothOrNeither(generation, pass, "killed at point " + std::to_string(point));
        if (generation == pass) ++landed;
        if (HasFailure()) break;
    }
    // Early kills lose the pass, late ones (after the journal) keep it.
    EXPECT_GT(landed, 0);
    EXPECT_LT(landed, points);
    std::printf("killed a save at each of its %d points; %d of those passes landed\n", points, landed);
}

TEST_F(FolderDurabilityTest, KillsAtRandomMomentsOfALongSaveLeaveBothHivesOrNeither) {
    CreateLargeFolder(1500);
    int rounds = 20;
    if (const char* text = std::getenv("QZ_DURABILITY_ROUNDS")) rounds = std::max(1, std::atoi(text));

    // How long a save takes here, from the moment the child says it begins.
    auto timedPass = [&](long pass, Clock::duration& took) {
        int fds[2];
        if (pipe(fds) != 0) return -1;
        const pid_t child = StartPass(pass, 0, fds[1]);
        char byte = 0;
        const bool began = read(fds[0], &byte, 1) == 1;
        const Clock::time_point start = Clock::now();
        const int code = WaitFor(child);
        took = Clock::now() - start;
        close(fds[0]);
        close(fds[1]);
        return began ? code : -1;
    };
    Clock::duration saveTime{};
    ASSERT_EQ(timedPass(1, saveTime), 0);
    long generation = CheckBothOrNeither(0, 1, "the timed pass");
    const long long saveMicros =
        std::max<long long>(1, std::chrono::duration_cast<std::chrono::microseconds>(saveTime).count());

    std::mt19937 random(20261210);
    int landed = 0;
    int killed = 0;
    for (int round = 0; round < rounds && !HasFailure(); ++round) {
        const long pass = generation + 1;
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        const pid_t child = StartPass(pass, 0, fds[1]);
        char byte = 0;
        ASSERT_EQ(read(fds[0], &byte, 1), 1);
        // Anywhere in the save, and a little past its usual end.
        usleep(static_cast<useconds_t>(std::uniform_int_distribution<long long>(0, saveMicros * 11 / 10)(random)));
        kill(child, SIGKILL);
        const int code = WaitFor(child);
        close(fds[0]);
        close(fds[1]);
        if (code == 128 + SIGKILL) ++killed;
        generation = CheckBothOrNeither(generation, pass, "round " + std::to_string(round));
        if (generation == pass) ++landed;
    }
    std::printf("%d rounds (save %.0f ms): %d killed in the save, %d passes landed\n", rounds,
                static_cast<double>(saveMicros) / 1000.0, killed, landed);
}

// ---- a full disk ------------------------------------------------------------------

bool FullDiskTestsRequired() {
    const char* required = std::getenv("QZ_REQUIRE_FULL_DISK_TESTS");
    return required != nullptr && std::string(required) == "1";
}

// A macro, as GTEST_SKIP and FAIL return from the test itself.
#define SKIP_OR_FAIL_WITHOUT_TMPFS()                                                                    \
    do {                                                                                                \
        if (FullDiskTestsRequired())                                                                    \
            FAIL() << "mounting a tmpfs in a mount namespace of our own is not permitted here, and "    \
                      "QZ_REQUIRE_FULL_DISK_TESTS=1 requires the full-disk tests";                      \
        GTEST_SKIP() << "mounting a tmpfs in a mount namespace of our own is not permitted here";       \
    } while (false)

// The mount point that holds path: the longest mount point of this process's
// mount table (relative to its root, as in a chroot) that path lies in.
std::string MountPointHolding(const std::string& path) {
    std::ifstream mountinfo("/proc/self/mountinfo");
    std::string best = "/";
    for (std::string line; std::getline(mountinfo, line);) {
        // Fields: id, parent id, major:minor, root, mount point, ...
        std::size_t at = 0;
        for (int field = 0; field < 4 && at != std::string::npos; ++field) at = line.find(' ', at + 1);
        if (at == std::string::npos) continue;
        const std::size_t end = line.find(' ', at + 1);
        const std::string point = line.substr(at + 1, end - at - 1);
        const bool holds = point == "/" || path == point || path.rfind(point + "/", 0) == 0;
        if (holds && point.size() > best.size()) best = point;
    }
    return best;
}

// Runs body in a child that has a mount namespace of its own with a tmpfs of
// `size` mounted on `where`; the mount vanishes with the child. The child's
// exit code, or 77 when mounting is not permitted here.
template <typename Body>
int WithTmpfs(const std::string& where, const char* size, Body body) {
    const pid_t child = fork();
    if (child == 0) {
        alarm(120);
        if (unshare(CLONE_NEWNS) != 0) _exit(77);
        // Nothing mounted here may reach the machine's own namespace: the mounts
        // become private. In a chroot whose root is no mount point of its own
        // (a fresh Debian made for CI), "/" cannot be made private; the mount
        // that holds the test's folder can.
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            char* real = realpath(where.c_str(), nullptr);
            if (real == nullptr) _exit(77);
            const std::string holder = MountPointHolding(real);
            free(real);
            if (holder == "/" || mount(nullptr, holder.c_str(), nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) _exit(77);
        }
        if (mount("tmpfs", where.c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) != 0) _exit(77);
        _exit(body());
    }
    return WaitFor(child);
}

// Fills the file system holding `directory` until it is full, then frees
// `room` bytes (whole pages) of it.
bool FillLeaving(const std::string& directory, off_t room) {
    const std::string filler = directory + "/filler";
    const int fd = open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    const std::string chunk(4096, 'f');
    off_t size = 0;
    while (true) {
        const ssize_t wrote = write(fd, chunk.data(), chunk.size());
        if (wrote <= 0) break;
        size += wrote;
    }
    size -= size % 4096;
    const bool ok = size >= room && ftruncate(fd, size - room) == 0;
    close(fd);
    return ok;
}

std::string QzregCommand(const std::string& folder, const std::string& output) {
    return std::string(QZ_BINARY_DIR) + "/bin/qzreg --quiet --registry '" + folder + "' register </dev/null >'" +
           output + "' 2>&1";
}

// An installation for the pass to find, in both hives, so that the pass
// changes both files.
void SeedFolder(const std::string& folder) {
    std::string error;
    auto open = RegistryFolder::Open(folder, error);
    if (open == nullptr) _exit(20);
    for (const char16_t* name : {u"bin", u"help", u"lib"})
        open->registry().PutValue(u"HKLM\\Software\\Corvalen\\ZURedore\\38.0\\Dir",
                                  RegValue{name, REG_SZ, Utf16Data(std::u16string(u"C:\\ZURedore\\") + name)});
    open->registry().PutValue(u"HKCU\\Software\\Other", RegValue{u"v", REG_SZ, Utf16Data(u"x")});
    if (!open->Save(error)) _exit(21);
}

TEST_F(FolderDurabilityTest, AFullDiskAfterTheFirstNewHiveFailsThePassAndLeavesBothFilesAsTheyWere) {
    // What the pass writes, measured on an ordinary folder.
    const std::string measured = root_ + "/measured";
    {
        const pid_t child = fork();
        if (child == 0) {
            SeedFolder(measured);
            _exit(0);
        }
        ASSERT_EQ(WaitFor(child), 0);
    }
    ASSERT_EQ(std::system(QzregCommand(measured, root_ + "/measured.out").c_str()), 0) << ReadBytes(root_ + "/measured.out");
    struct stat machine {};
    ASSERT_EQ(stat((measured + "/HKEY_LOCAL_MACHINE.reg").c_str(), &machine), 0);
    const off_t machinePages = (machine.st_size + 4095) / 4096 * 4096;

    const std::string mountPoint = root_ + "/small";
    ASSERT_EQ(mkdir(mountPoint.c_str(), 0755), 0);
    const std::string folder = mountPoint + "/registry";
    const std::string output = root_ + "/qzreg.out";
    const std::string report = root_ + "/report.txt";
    const int code = WithTmpfs(mountPoint, "1m", [&] {
        std::ofstream log(report);
        SeedFolder(folder);
        const std::string machineBefore = ReadBytes(folder + "/HKEY_LOCAL_MACHINE.reg");
        const std::string userBefore = ReadBytes(folder + "/HKEY_CURRENT_USER.reg");
        // Room for the new machine hive (and the page of the process id in the
        // lock file), none for the user hive after it.
        if (!FillLeaving(mountPoint, machinePages + 4096)) return 30;
        const int status = std::system(QzregCommand(folder, output).c_str());
        const int exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        log << "qzreg exit code " << exitCode << "\n";
        if (exitCode != 5) return 31;
        if (ReadBytes(folder + "/HKEY_LOCAL_MACHINE.reg") != machineBefore) return 32;
        if (ReadBytes(folder + "/HKEY_CURRENT_USER.reg") != userBefore) return 33;
        if (FileNames(folder) != std::vector<std::string>{"HKEY_CURRENT_USER.reg", "HKEY_LOCAL_MACHINE.reg", "lock"})
            return 34;
        // With room again, the pass runs and lands in both.
        unlink((mountPoint + "/filler").c_str());
        if (std::system(QzregCommand(folder, output + ".again").c_str()) != 0) return 35;
        if (ReadBytes(folder + "/HKEY_LOCAL_MACHINE.reg") == machineBefore) return 36;
        if (ReadBytes(folder + "/HKEY_CURRENT_USER.reg") == userBefore) return 37;
        return 0;
    });
    if (code == 77) SKIP_OR_FAIL_WITHOUT_TMPFS();
    const std::string said = ReadBytes(output);
    EXPECT_EQ(code, 0) << ReadBytes(report) << said;
    EXPECT_NE(said.find("HKEY_CURRENT_USER.reg: No space left on device"), std::string::npos) << said;
}

TEST_F(FolderDurabilityTest, AFullDiskFailsTheSaveNamingTheFileAndTheOldStateOpensAgain) {
    const std::string mountPoint = root_ + "/small";
    ASSERT_EQ(mkdir(mountPoint.c_str(), 0755), 0);
    const std::string folderPath = mountPoint + "/registry";
    const std::string report = root_ + "/report.txt";
    const int code = WithTmpfs(mountPoint, "2m", [&] {
        std::ofstream log(report);
        std::string error;
        {
            auto folder = RegistryFolder::Open(folderPath, error);
            if (folder == nullptr) return 40;
            Pass(folder->registry(), 1);
            if (!folder->Save(error)) return 41;
        }
        const std::string machineBefore = ReadBytes(folderPath + "/HKEY_LOCAL_MACHINE.reg");
        const std::string userBefore = ReadBytes(folderPath + "/HKEY_CURRENT_USER.reg");
        auto folder = RegistryFolder::Open(folderPath, error);
        if (folder == nullptr) return 42;
        // The machine hive grows a little, the user hive by far more than is left.
        Pass(folder->registry(), 2);
        folder->registry().PutValue(u"HKCU\\Software\\Big",
                                    RegValue{u"v", REG_BINARY, std::vector<BYTE>(200 * 1024, 0x5a)});
        if (!FillLeaving(mountPoint, 64 * 1024)) return 43;
        if (folder->Save(error)) return 44;
        log << error << "\n";
        if (error != "cannot write " + folderPath + "/HKEY_CURRENT_USER.reg: No space left on device") return 45;
        folder.reset();
        if (ReadBytes(folderPath + "/HKEY_LOCAL_MACHINE.reg") != machineBefore) return 46;
        if (ReadBytes(folderPath + "/HKEY_CURRENT_USER.reg") != userBefore) return 47;
        if (FileNames(folderPath) !=
            std::vector<std::string>{"HKEY_CURRENT_USER.reg", "HKEY_LOCAL_MACHINE.reg", "lock"})
            return 48;
        auto again = RegistryFolder::Open(folderPath, error);
        if (again == nullptr) return 49;
        if (Generations(again->registry()) != std::vector<long>{1, 1}) return 50;
        return 0;
    });
    if (code == 77) SKIP_OR_FAIL_WITHOUT_TMPFS();
    EXPECT_EQ(code, 0) << ReadBytes(report);
}

}  // namespace
}  // namespace qz
