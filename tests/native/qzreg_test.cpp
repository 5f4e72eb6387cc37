// The native registration host end to end: qzreg loads libqzproduct.so, which
// runs a pass into a registry folder of the test's own.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "text/code_page.h"

namespace {

struct CommandRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class QzregTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/qzreg-test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        scratch_ = pattern;
        folder_ = scratch_ + "/registry";
    }
    void TearDown() override { std::system(("rm -rf '" + scratch_ + "'").c_str()); }

    CommandRun Qzreg(const std::string& arguments) {
        const std::string out = scratch_ + "/out.txt", err = scratch_ + "/err.txt";
        const std::string command = std::string(QZ_BINARY_DIR) + "/bin/qzreg " + arguments + " </dev/null >'" +
                                    out + "' 2>'" + err + "'";
        const int status = std::system(command.c_str());
        CommandRun run;
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = ReadFile(out);
        run.err = ReadFile(err);
        return run;
    }

    // A hive file of the folder as UTF-8 text.
    std::string Hive(const std::string& name) {
        const std::string bytes = ReadFile(folder_ + "/" + name + ".reg");
        if (bytes.size() < 2 || bytes.compare(0, 2, "\xFF\xFE") != 0) return std::string();
        std::u16string wide;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            wide += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8));
        return qz::Utf16ToUtf8(wide);
    }

    std::string scratch_;
    std::string folder_;
    // An installation of the modelling system for the pass to find.
    const std::string installation_ = std::string("--import '") + QZ_SOURCE_DIR + "/scripts/demo-installation.reg' ";
};

TEST_F(QzregTest, RegistersIntoAFreshFolderAndPrintsWhatItWrote) {
    const CommandRun run = Qzreg(installation_ + "--registry '" + folder_ + "' register");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.rfind("Windows Registry Editor Version 5.00\n", 0), 0u) << run.out;
    EXPECT_NE(run.out.find("[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Options]\n\"ovx\"=\"Orvantis\""),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("[HKEY_CLASSES_ROOT\\OVX Application\\CurVer]\n@=\"OVX Application 3800\""),
              std::string::npos)
        << run.out;
    EXPECT_EQ(run.err.find("Registration Error"), std::string::npos) << run.err;

    // The module records its own full path: the shared library it was loaded from.
    char* library = realpath((std::string(QZ_BINARY_DIR) + "/bin/libqzproduct.so").c_str(), nullptr);
    ASSERT_NE(library, nullptr);
    const std::string machine = Hive("HKEY_LOCAL_MACHINE");
    EXPECT_NE(machine.find("\"DLL\"=\"" + std::string(library) + "\""), std::string::npos) << machine;
    std::free(library);
    EXPECT_NE(Hive("HKEY_CURRENT_USER").find("\"whatsnew_ovx\"=dword:00000000"), std::string::npos);

    // The saved hive is the .reg form regedit and Wine read: UTF-16LE with a BOM and CRLF line ends.
    const std::string raw = ReadFile(folder_ + "/HKEY_LOCAL_MACHINE.reg");
    EXPECT_NE(raw.find(std::string("\r\0\n\0", 4)), std::string::npos);
}

TEST_F(QzregTest, WithoutAnInstallationTheRegistrationIsWrittenButFails) {
    const CommandRun run = Qzreg("--registry '" + folder_ + "' register");
    EXPECT_EQ(run.exitCode, 5);
    EXPECT_NE(run.err.find("Registration Error: The installation directory of the modelling system was not found: "
                           "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Dir, value help (the key is missing)"),
              std::string::npos)
        << run.err;
    // Shown once however many steps look for the installation.
    EXPECT_EQ(run.err.find("Registration Error", run.err.find("Registration Error") + 1), std::string::npos) << run.err;
    // The keys are written all the same, ready for an installation to be repaired.
    EXPECT_NE(Hive("HKEY_LOCAL_MACHINE").find("@=\"\\\"\\\\Tessaryn.exe\\\" /ovx /Automation\""), std::string::npos);
}

TEST_F(QzregTest, UnregisteringAfterARegistrationListsTheRemovedKeys) {
    ASSERT_EQ(Qzreg(installation_ + "-q --registry '" + folder_ + "' register").exitCode, 0);
    const CommandRun run = Qzreg("--registry='" + folder_ + "' unregister");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("[-HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0]"), std::string::npos) << run.out;
    const std::string machine = Hive("HKEY_LOCAL_MACHINE");
    EXPECT_EQ(machine.find("Orvantis\\38.0"), std::string::npos) << machine;
    EXPECT_NE(machine.find("[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis]"), std::string::npos) << machine;
}

TEST_F(QzregTest, ASecondRegistrationChangesNothing) {
    ASSERT_EQ(Qzreg(installation_ + "-q --registry '" + folder_ + "' register").exitCode, 0);
    const std::string first = Hive("HKEY_LOCAL_MACHINE");
    const CommandRun again = Qzreg("--registry '" + folder_ + "' register");
    ASSERT_EQ(again.exitCode, 0);
    EXPECT_EQ(Hive("HKEY_LOCAL_MACHINE"), first);
    EXPECT_EQ(again.out.find('['), std::string::npos) << again.out;
}

TEST_F(QzregTest, AMalformedHiveFailsThePassAndIsLeftAsItWas) {
    ASSERT_EQ(mkdir(folder_.c_str(), 0755), 0);
    const std::string hive = folder_ + "/HKEY_LOCAL_MACHINE.reg";
    const std::string broken = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\X]\r\n\"v\"=dword:zz\r\n";
    std::ofstream(hive, std::ios::binary) << broken;
    const CommandRun run = Qzreg("--registry '" + folder_ + "' register");
    EXPECT_EQ(run.exitCode, 5);
    EXPECT_NE(run.err.find("line 4"), std::string::npos) << run.err;
    EXPECT_EQ(ReadFile(hive), broken);
}

TEST_F(QzregTest, ImportedFilesAreInPlaceBeforeThePassAndAreNotListedAsItsChanges) {
    const std::string seed = scratch_ + "/installation.reg";
    std::ofstream(seed, std::ios::binary)
        << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Dir]\r\n"
           "\"bin\"=\"C:\\\\ZURedore V12\\\\bin\"\r\n\"help\"=\"C:\\\\ZURedore V12\\\\help\"\r\n"
           "\"lib\"=\"C:\\\\ZURedore V12\\\\lib\"\r\n";
    const CommandRun run = Qzreg("--registry '" + folder_ + "' --import '" + seed + "' register");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("[HKEY_CLASSES_ROOT\\Orvantis Language\\shell\\Open Orvantis V12\\command]\n"
                           "@=\"\\\"C:\\\\ZURedore V12\\\\bin\\\\Tessaryn.exe\\\" /ovx \\\"%1\\\"\""),
              std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find("\"bin\"="), std::string::npos) << run.out;

    std::ofstream(seed, std::ios::binary) << "REGEDIT4\r\n\"orphan\"=\"value\"\r\n";
    const CommandRun broken = Qzreg("--registry '" + folder_ + "' --import '" + seed + "' register");
    EXPECT_EQ(broken.exitCode, 5);
    EXPECT_NE(broken.err.find("line 2"), std::string::npos) << broken.err;
}

TEST_F(QzregTest, ExitCodesFollowRegsvr32) {
    EXPECT_EQ(Qzreg("--help").exitCode, 0);
    EXPECT_EQ(Qzreg("").exitCode, 1);
    EXPECT_EQ(Qzreg("register --bogus").exitCode, 1);
    EXPECT_EQ(Qzreg("--registry '" + folder_ + "' --module /nonexistent/libx.so register").exitCode, 3);
    EXPECT_EQ(Qzreg("--registry '" + folder_ + "' --module libm.so.6 register").exitCode, 4);
    // A registry folder that cannot be created: a file stands in its place.
    std::ofstream(scratch_ + "/file") << "x";
    EXPECT_EQ(Qzreg("--registry '" + scratch_ + "/file' register").exitCode, 5);
}

}  // namespace
