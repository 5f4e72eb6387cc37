// The installed product: `cmake --install` of this build into a prefix of the
// test's own, then the installed qzreg registering into a registry folder of its
// own. The installed host must find the installed module (lib/ beside bin/), not
// the one in the build folder.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "text/code_page.h"
#include "tests/support/folder_files.h"
#include "text/utf16_data.h"

namespace {

int RunShell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Every file below the prefix, by its path relative to it.
std::set<std::string> FilesBelow(const std::string& prefix) {
    std::set<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(prefix)) {
        if (!entry.is_directory()) files.insert(std::filesystem::relative(entry.path(), prefix).string());
    }
    return files;
}

class InstallTest : public ::testing::Test {
protected:
    const qz::test::ScratchFolder scratchFolder_{"qz-install-test."};
    const std::string scratch_ = scratchFolder_.path();
    const std::string prefix_ = scratch_ + "/prefix";
};

TEST_F(InstallTest, TheInstalledHostRegistersWithTheInstalledModule) {
    const std::string log = scratch_ + "/install.log";
    const std::string install = std::string("'") + QZ_CMAKE_COMMAND + "' --install '" + QZ_BINARY_DIR +
                                "' --prefix '" + prefix_ + "' >'" + log + "' 2>&1";
    ASSERT_EQ(RunShell(install), 0) << qz::test::ReadBytes(log);

    // The host and the module where a Linux user looks for them, and nothing of the tests.
    EXPECT_EQ(FilesBelow(prefix_), (std::set<std::string>{"bin/qzreg", "lib/libqzproduct.so"}));

    const std::string folder = scratch_ + "/registry";
    const std::string err = scratch_ + "/err.txt";
    // Over an installation of the modelling system, which the pass needs to find.
    const int exitCode = RunShell("'" + prefix_ + "/bin/qzreg' --import '" + QZ_SOURCE_DIR +
                                  "/scripts/demo-installation.reg' --registry '" + folder +
                                  "' register --create </dev/null >/dev/null 2>'" + err + "'");
    ASSERT_EQ(exitCode, 0) << qz::test::ReadBytes(err);

    const std::string machine = qz::test::HiveText(folder + "/HKEY_LOCAL_MACHINE.reg");
    for (const char* key : {"[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Options]\r\n"
                            "\"ovx\"=\"Orvantis\"",
                            "[HKEY_LOCAL_MACHINE\\Software\\Classes\\OVX Application\\CurVer]\r\n"
                            "@=\"OVX Application 3800\""}) {
        EXPECT_NE(machine.find(key), std::string::npos) << key << "\n" << machine;
    }
    // The module records the file it was loaded from: the installed one.
    const std::string installed = std::filesystem::canonical(prefix_ + "/lib/libqzproduct.so").string();
    EXPECT_NE(machine.find("\"DLL\"=\"" + installed + "\""), std::string::npos) << machine;
    const std::string user = qz::test::HiveText(folder + "/HKEY_CURRENT_USER.reg");
    EXPECT_NE(user.find("\"whatsnew_ovx\"=dword:00000000"), std::string::npos) << user;
}

}  // namespace
