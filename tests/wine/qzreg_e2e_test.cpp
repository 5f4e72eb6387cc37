// qzreg.exe with the real DLL under Wine, beside regsvr32: a dry run prints
// what a registration does and changes nothing, check finds exactly the drift
// that reg made and a registration mends it, and an unregistration's preview
// lists what regsvr32 /u then removes; check tells nothing it cannot stand
// behind, and every message names the problem.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/module_e2e.h"
#include "tests/support/qzreg_json_outputs.h"
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

    QzregRun Qzreg(const std::string& arguments, const std::string& workingDirectory = {}) {
        QzregRun run;
        const std::string out = ScratchFilePath("qzreg", "out");
        const std::string err = ScratchFilePath("qzreg", "err");
        run.exitCode = RunWindowsCommand("\"" + qzreg_ + "\" " + arguments, out, err, workingDirectory);
        run.out = ReadWholeFile(out);
        run.err = ReadWholeFile(err);
        KeepQzregJsonOutput(arguments, run.exitCode, run.out);
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
    const QzregRun json = Qzreg("register --dry-run --format json");
    ASSERT_EQ(json.exitCode, 0) << json.err;
    const nlohmann::json changes = nlohmann::json::parse(json.out);
    EXPECT_NE(std::find(changes.begin(), changes.end(),
                        nlohmann::json{{"change", "set-value"},
                                       {"hive", "HKEY_CLASSES_ROOT"},
                                       {"key", "OVX Application\\CurVer"},
                                       {"name", ""},
                                       {"type", "REG_SZ"},
                                       {"old", nullptr},
                                       {"new", "OVX Application 3800"}}),
              changes.end())
        << json.out;
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
    QzregRun json = Qzreg("check --format json");
    EXPECT_EQ(json.exitCode, 0) << json.err;
    EXPECT_EQ(nlohmann::json::parse(json.out)["intact"], true) << json.out;

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
    json = Qzreg("check --format json");
    EXPECT_EQ(json.exitCode, 6) << json.err;
    const nlohmann::json verdict = nlohmann::json::parse(json.out);
    EXPECT_EQ(verdict["intact"], false) << json.out;
    EXPECT_EQ(verdict["drift"].size(), 2u) << json.out;
    EXPECT_EQ(verdict["machine_state"].size(), 1u) << "the What's new switch: " << json.out;

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
    EXPECT_EQ(nlohmann::json::parse(Qzreg("unregister --dry-run --format json").out), nlohmann::json::array());
}

TEST_F(QzregUnderWine, AnUnregistrationsPreviewAsJsonListsTheKeysToRemove) {
    ASSERT_EQ(RunRegsvr32(dll_, false), 0);
    const QzregRun preview = Qzreg("unregister --dry-run --format json");
    ASSERT_EQ(preview.exitCode, 0) << preview.err;
    const nlohmann::json changes = nlohmann::json::parse(preview.out);
    EXPECT_NE(std::find(changes.begin(), changes.end(),
                        nlohmann::json{{"change", "remove-key"}, {"hive", "HKEY_CLASSES_ROOT"}, {"key", "OVX Application"}}),
              changes.end())
        << preview.out;
}

// The modelling system's Dir key gone: a registration would fail, and what it
// would write (command lines built from empty directories) is no measure of
// the registration. check says it cannot tell, lists nothing, changes nothing.
TEST_F(QzregUnderWine, CheckWhileTheModellingSystemIsMissingListsNoDrift) {
    ASSERT_EQ(RunRegsvr32(dll_, false), 0);
    ASSERT_EQ(RunWindowsCommand("reg delete \"HKLM\\Software\\Corvalen\\ZURedore\\38.0\\Dir\" /f"), 0);
    const std::string before = ExportProductRegistry();
    const char kMissing[] = "The installation directory of the modelling system was not found: "
                            "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Dir";
    const char kCannotTell[] = "a registration would fail here, so the check cannot tell whether the registration "
                               "is intact (the system registry)";

    const QzregRun check = Qzreg("check");
    EXPECT_EQ(check.exitCode, 5);
    EXPECT_EQ(check.out, "") << "no drift listed";
    const std::vector<std::string> lines = Lines(check.err);
    ASSERT_EQ(lines.size(), 2u) << check.err;
    EXPECT_EQ(lines[0].rfind(std::string("Registration Error: ") + kMissing, 0), 0u) << check.err;
    EXPECT_EQ(lines[1], std::string("qzreg: ") + kCannotTell);

    const QzregRun json = Qzreg("check --format json");
    EXPECT_EQ(json.exitCode, 5);
    const nlohmann::json verdict = nlohmann::json::parse(json.out);
    EXPECT_TRUE(verdict["intact"].is_null()) << json.out;
    EXPECT_EQ(verdict["drift"], nlohmann::json::array());
    ASSERT_EQ(verdict["messages"].size(), 1u) << json.out;
    EXPECT_EQ(verdict["messages"][0].get<std::string>().rfind(kMissing, 0), 0u) << json.out;
    EXPECT_EQ(verdict["error"], kCannotTell);
    EXPECT_EQ(ExportProductRegistry(), before) << "check changed the registry";
}

// What a message must hold: its start, and pieces that follow in order.
struct MessageCase {
    const char* name;
    std::string arguments;
    std::string workingDirectory;
    int exitCode;
    std::vector<std::string> pieces;  // in stderr, in this order; the first at its start
    bool systemText;                  // a Windows error: its number with the system's text
};

TEST_F(QzregUnderWine, MessagesNameTheProblemAndTheWayOut) {
    const std::string emptyFolder = "C:\\Program Files\\Orvantis Empty";
    ASSERT_TRUE(CreateDirectoryA(emptyFolder.c_str(), nullptr)) << GetLastError();
    const std::string malformed = emptyFolder + "\\machine.reg";
    std::ofstream(malformed, std::ios::binary) << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\X]\r\n\"v\"=dword:zz\r\n";
    const std::string before = ExportProductRegistry();
    const MessageCase cases[] = {
        {"a misspelt subcommand", "regster", "", 1,
         {"qzreg: 'regster' is not a qzreg subcommand; did you mean 'register'? The subcommands are register, "
          "unregister, check and harvest"},
         false},
        {"no subcommand", "--quiet", "", 1, {"qzreg: a subcommand is required: register, unregister, check or harvest"},
         false},
        {"a module that is not there", "--module \"C:\\nowhere\\qzproduct.dll\" check", "", 3,
         {"qzreg: cannot load C:\\nowhere\\qzproduct.dll (error "}, true},
        {"a file that is no module", "--module C:\\windows\\win.ini check", "", 3,
         {"qzreg: cannot load C:\\windows\\win.ini (error 193: "}, true},
        // A bare name is the file in the current folder, never the system's copy of that name.
        {"a bare name missing from the current folder", "--module kernel32.dll check", emptyFolder, 3,
         {"qzreg: cannot load " + emptyFolder + "\\kernel32.dll (error 126: "}, true},
        {"an import that is not there", "--import C:\\nowhere.reg harvest", "", 1,
         {"--import: File does not exist: C:\\nowhere.reg"}, false},
        {"a malformed import", "--import \"" + malformed + "\" harvest --format json", "", 5,
         {"qzreg: " + malformed + ": line 4"}, false},
    };
    const std::regex systemText(R"(\(error [0-9]+: [^)\r\n]+\)\r?\n)");
    for (const MessageCase& c : cases) {
        const QzregRun run = Qzreg(c.arguments, c.workingDirectory);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.name << ": " << run.err;
        std::size_t at = run.err.find(c.pieces.front());
        EXPECT_EQ(at, 0u) << c.name << ": " << run.err;
        for (std::size_t i = 1; i < c.pieces.size() && at != std::string::npos; ++i) {
            at = run.err.find(c.pieces[i], at + c.pieces[i - 1].size());
            EXPECT_NE(at, std::string::npos) << c.name << ": " << c.pieces[i] << " in " << run.err;
        }
        if (c.systemText) {
            EXPECT_TRUE(std::regex_search(run.err, systemText)) << c.name << ": " << run.err;
        }
        EXPECT_EQ(run.out, "") << c.name;
    }
    EXPECT_EQ(ExportProductRegistry(), before);

    const QzregRun help = Qzreg("check --help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("  6  drifted: the differences are listed"), std::string::npos) << help.out;
    EXPECT_EQ(help.out.find("QZ_REGISTRY_DIR"), std::string::npos) << "no registry folder on Windows";
}

// A bare module name loads the file of that name in the current folder, not
// the copy beside qzreg.exe that the system's search would find first.
TEST_F(QzregUnderWine, ABareModuleNameIsTheFileInTheCurrentFolder) {
    const std::string other = InstallModuleCopyIn("Orvantis Other");
    const std::string folder = other.substr(0, other.find_last_of('\\'));
    const QzregRun preview = Qzreg("--module qzproduct.dll register --dry-run", folder);
    ASSERT_EQ(preview.exitCode, 0) << preview.err;
    EXPECT_NE(preview.out.find("@=\"C:\\\\Program Files\\\\Orvantis Other\\\\qzproduct.dll,0\""), std::string::npos)
        << preview.out;
    EXPECT_EQ(preview.out.find("Orvantis Test"), std::string::npos) << preview.out;
}

TEST_F(QzregUnderWine, HarvestAsJsonGivesReferences) {
    const QzregRun harvest = Qzreg("harvest --format json");
    ASSERT_EQ(harvest.exitCode, 0) << harvest.err;
    const nlohmann::json changes = nlohmann::json::parse(harvest.out);
    EXPECT_NE(harvest.out.find("[#qzproduct.dll],0"), std::string::npos) << harvest.out;
    EXPECT_EQ(harvest.out.find("Orvantis Test"), std::string::npos) << harvest.out;
    EXPECT_FALSE(changes.empty());
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
