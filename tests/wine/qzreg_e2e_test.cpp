// qzreg.exe with the real DLL under Wine, beside regsvr32: a dry run prints
// what a registration does and changes nothing, check finds exactly the drift
// that reg made and a registration mends it, and an unregistration's preview
// lists what regsvr32 /u then removes.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/module_e2e.h"
#include "tests/support/windows_commands.h"

namespace qz::test {
namespace {

const char kInstallFolder[] = "C:\\Program Files\\Orvantis Test";

struct QzregRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

class QzregUnderWine : public ::testing::Test {
protected:
    void SetUp() override {
        ResetProductRegistry();
        ImportRegFixture("tests/e2e/fixtures/documents_seed.reg");
        dll_ = InstallModuleCopy();
        // qzreg.exe beside the DLL it registers, as an installation has them: it
        // loads that DLL, so the paths it records are the ones regsvr32 records.
        qzreg_ = std::string(kInstallFolder) + "\\qzreg.exe";
        ASSERT_TRUE(CopyFileA(WindowsPath(QZ_QZREG_FILE).c_str(), qzreg_.c_str(), FALSE)) << GetLastError();
    }

    QzregRun Qzreg(const std::string& arguments) {
        QzregRun run;
        const std::string out = ScratchFilePath("qzreg", "out");
        const std::string err = ScratchFilePath("qzreg", "err");
        run.exitCode = RunWindowsCommand("\"" + qzreg_ + "\" " + arguments, out, err);
        run.out = ReadWholeFile(out);
        run.err = ReadWholeFile(err);
        return run;
    }

    std::string dll_;
    std::string qzreg_;
};

TEST_F(QzregUnderWine, ADryRunPrintsTheRegistrationAndTheRealOneMatchesRegsvr32) {
    const std::string before = ExportProductRegistry();
    const QzregRun preview = Qzreg("register --dry-run");
    ASSERT_EQ(preview.exitCode, 0) << preview.err;
    EXPECT_NE(preview.out.find("[HKEY_CLASSES_ROOT\\OVX Application\\CurVer]\r\n@=\"OVX Application 3800\""),
              std::string::npos)
        << preview.out;
    EXPECT_NE(preview.out.find("[HKEY_CLASSES_ROOT\\CLSID\\{3209ADC4-9264-11D1-B147-00A024F1AC65}\\DefaultIcon]\r\n"
                               "@=\"C:\\\\Program Files\\\\Orvantis Test\\\\qzproduct.dll,0\""),
              std::string::npos)
        << preview.out;
    EXPECT_EQ(ExportProductRegistry(), before) << "the dry run changed the registry";

    const QzregRun real = Qzreg("register");
    ASSERT_EQ(real.exitCode, 0) << real.err;
    EXPECT_EQ(real.out, preview.out);
    // What qzreg.exe registered is exactly what regsvr32 registers.
    const std::string registered = ExportProductRegistry();
    ResetProductRegistry();
    ImportRegFixture("tests/e2e/fixtures/documents_seed.reg");
    ASSERT_EQ(RunRegsvr32(dll_, false), 0);
    EXPECT_EQ(ExportProductRegistry(), registered);
}

TEST_F(QzregUnderWine, CheckFindsExactlyTheDriftAndARegistrationMendsIt) {
    ASSERT_EQ(RunRegsvr32(dll_, false), 0);
    const std::string registered = ExportProductRegistry();
    QzregRun check = Qzreg("check");
    EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
    EXPECT_EQ(Lines(check.out), std::vector<std::string>{"The registration is intact (the system registry)."});

    ASSERT_EQ(RunWindowsCommand(
                  "reg delete \"HKCR\\CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}\\LocalServer32\" /f"),
              0);
    ASSERT_EQ(RunWindowsCommand("reg add \"HKCR\\.ovxf\" /ve /d \"Notepad.Document\" /f"), 0);
    // The host application's own switch, changed after its first start: not drift.
    ASSERT_EQ(RunWindowsCommand("reg add \"HKCU\\Software\\Corvalen\\Orvantis\\38.0\\IniSettings\" /v whatsnew_ovx "
                                "/t REG_DWORD /d 1 /f"),
              0);
    check = Qzreg("check");
    EXPECT_EQ(check.exitCode, 6) << check.err;
    EXPECT_EQ(Lines(check.out),
              (std::vector<std::string>{
                  "different value  [HKEY_CLASSES_ROOT\\.ovxf] @=\"Notepad.Document\"  (registration writes "
                  "@=\"Orvantis Language\")",
                  "missing key      [HKEY_CLASSES_ROOT\\CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}\\LocalServer32]",
              }));

    const QzregRun repair = Qzreg("register");
    ASSERT_EQ(repair.exitCode, 0) << repair.err;
    check = Qzreg("check");
    EXPECT_EQ(check.exitCode, 0) << check.out;
    // Repaired to the registration, the switch back at 0 as a registration sets it.
    EXPECT_EQ(ExportProductRegistry(), registered);
}

TEST_F(QzregUnderWine, AnUnregistrationsPreviewListsWhatRegsvr32URemoves) {
    ASSERT_EQ(RunRegsvr32(dll_, false), 0);
    const QzregRun preview = Qzreg("unregister --dry-run");
    ASSERT_EQ(preview.exitCode, 0) << preview.err;
    std::vector<std::string> removedKeys;
    for (const std::string& line : Lines(preview.out)) {
        if (line.rfind("[-", 0) == 0) removedKeys.push_back(line.substr(2, line.size() - 3));
    }
    EXPECT_NE(std::find(removedKeys.begin(), removedKeys.end(), "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0"),
              removedKeys.end())
        << preview.out;
    EXPECT_NE(std::find(removedKeys.begin(), removedKeys.end(), "HKEY_CLASSES_ROOT\\OVX Application"), removedKeys.end())
        << preview.out;

    std::vector<std::string> present;
    for (const std::string& key : removedKeys) {
        if (!ExportKey(key).empty()) present.push_back(key);
    }
    EXPECT_EQ(present, removedKeys) << "the keys to remove are there before";
    ASSERT_EQ(RunRegsvr32(dll_, true), 0);
    for (const std::string& key : removedKeys) EXPECT_EQ(ExportKey(key), "") << key << " stayed";
    // And nothing more went: a second preview finds nothing to remove.
    EXPECT_EQ(Qzreg("unregister --dry-run").out, "");
}

TEST_F(QzregUnderWine, ExitCodesFollowRegsvr32) {
    EXPECT_EQ(Qzreg("").exitCode, 1);
    EXPECT_EQ(Qzreg("check --bogus").exitCode, 1);
    EXPECT_EQ(Qzreg("--module \"C:\\nowhere\\qzproduct.dll\" check").exitCode, 3);
    EXPECT_EQ(Qzreg("--module C:\\windows\\system32\\kernel32.dll check").exitCode, 4);
    EXPECT_EQ(Qzreg("--import C:\\windows\\win.ini register").exitCode, 5) << "no imports into the system registry";
}

}  // namespace
}  // namespace qz::test
