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

#include <nlohmann/json.hpp>

#include <sstream>
#include <vector>

#include "registry/reg_file.h"
#include "registry/registry_folder.h"
#include "text/code_page.h"
#include "tests/support/folder_files.h"
#include "text/utf16_data.h"

namespace {

struct CommandRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

class QzregTest : public ::testing::Test {
protected:
    CommandRun Qzreg(const std::string& arguments) {
        const std::string out = scratch_ + "/out.txt", err = scratch_ + "/err.txt";
        const std::string command = std::string(QZ_BINARY_DIR) + "/bin/qzreg " + arguments + " </dev/null >'" +
                                    out + "' 2>'" + err + "'";
        const int status = std::system(command.c_str());
        CommandRun run;
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = qz::test::ReadBytes(out);
        run.err = qz::test::ReadBytes(err);
        return run;
    }

    // A hive file of the folder as UTF-8 text.
    std::string Hive(const std::string& name) { return qz::test::HiveText(folder_ + "/" + name + ".reg"); }

    const qz::test::ScratchFolder scratchFolder_{"qzreg-test."};
    const std::string scratch_ = scratchFolder_.path();
    const std::string folder_ = scratch_ + "/registry";
    // Changes the folder as another program would: a .reg text imported and saved, no pass of the module.
    void ChangeFolder(const std::string& regText) {
        std::string error;
        std::unique_ptr<qz::RegistryFolder> folder = qz::RegistryFolder::Open(folder_, error);
        ASSERT_TRUE(folder) << error;
        ASSERT_TRUE(qz::ImportRegText(qz::Utf8ToUtf16("REGEDIT4\r\n\r\n" + regText), folder->registry(), error))
            << error;
        ASSERT_TRUE(folder->Save(error)) << error;
    }

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
    const std::string raw = qz::test::ReadBytes(folder_ + "/HKEY_LOCAL_MACHINE.reg");
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
    const std::string broken = qz::EncodeUtf16LeWithBom(
        u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\X]\r\n\"v\"=dword:zz\r\n");
    std::ofstream(hive, std::ios::binary) << broken;
    const CommandRun run = Qzreg("--registry '" + folder_ + "' register");
    EXPECT_EQ(run.exitCode, 5);
    EXPECT_NE(run.err.find("line 4"), std::string::npos) << run.err;
    EXPECT_EQ(qz::test::ReadBytes(hive), broken);
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

// The hive files byte for byte, to tell a command that changed nothing.
std::string Files(const std::string& folder) {
    return qz::test::ReadBytes(folder + "/HKEY_LOCAL_MACHINE.reg") + "|" + qz::test::ReadBytes(folder + "/HKEY_CURRENT_USER.reg");
}

TEST_F(QzregTest, ADryRunPrintsWhatThePassThenDoesAndChangesNothing) {
    ASSERT_EQ(Qzreg(installation_ + "-q --registry '" + folder_ + "' register --dry-run").exitCode, 0);
    ASSERT_EQ(Qzreg("-q --registry '" + folder_ + "' --import '" + QZ_SOURCE_DIR +
                    "/scripts/demo-installation.reg' unregister")
                  .exitCode,
              0);  // the installation only, saved
    const std::string before = Files(folder_);

    const CommandRun preview = Qzreg("--registry '" + folder_ + "' register --dry-run");
    ASSERT_EQ(preview.exitCode, 0) << preview.err;
    EXPECT_EQ(Files(folder_), before) << "a dry run writes nothing";
    const CommandRun real = Qzreg("--registry '" + folder_ + "' register");
    ASSERT_EQ(real.exitCode, 0) << real.err;
    EXPECT_NE(preview.out.find("[HKEY_CLASSES_ROOT\\OVX Application\\CurVer]"), std::string::npos) << preview.out;
    EXPECT_EQ(preview.out, real.out);

    const std::string registered = Files(folder_);
    const CommandRun unpreview = Qzreg("--registry '" + folder_ + "' unregister --dry-run");
    EXPECT_EQ(Files(folder_), registered);
    const CommandRun unreal = Qzreg("--registry '" + folder_ + "' unregister");
    ASSERT_EQ(unreal.exitCode, 0) << unreal.err;
    EXPECT_NE(unpreview.out.find("[-HKEY_CLASSES_ROOT\\OVX Application]"), std::string::npos) << unpreview.out;
    EXPECT_EQ(unpreview.out, unreal.out);
}

TEST_F(QzregTest, ChangesAsJsonCarryHiveKeyNameTypeAndBothData) {
    ASSERT_EQ(Qzreg(installation_ + "-q --registry '" + folder_ + "' register").exitCode, 0);
    const std::string change = scratch_ + "/change.reg";
    std::ofstream(change, std::ios::binary) << "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Corvalen\\Orvantis\\38.0\\"
                                               "IniSettings]\r\n\"whatsnew_ovx\"=dword:00000001\r\n";
    const CommandRun run =
        Qzreg("--registry '" + folder_ + "' --import '" + change + "' register --dry-run --format json");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const nlohmann::json changes = nlohmann::json::parse(run.out);
    ASSERT_EQ(changes.size(), 1u) << run.out;
    EXPECT_EQ(changes[0]["change"], "set-value");
    EXPECT_EQ(changes[0]["hive"], "HKEY_CURRENT_USER");
    EXPECT_EQ(changes[0]["key"], "Software\\Corvalen\\Orvantis\\38.0\\IniSettings");
    EXPECT_EQ(changes[0]["name"], "whatsnew_ovx");
    EXPECT_EQ(changes[0]["type"], "REG_DWORD");
    EXPECT_EQ(changes[0]["old"], 1);
    EXPECT_EQ(changes[0]["new"], 0);
}

struct CheckCase {
    const char* name;
    const char* change;  // .reg lines applied after a registration
    int exitCode;
    std::vector<std::string> lines;  // check's output, in order
};
void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.name; }

const char kLocalServer[] = "HKEY_CLASSES_ROOT\\CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}\\LocalServer32";

const CheckCase kCheckCases[] = {
    {"Intact", "", 0, {"The registration is intact ("}},
    {"OneKeyDeletedOneValueChanged",
     "[-HKEY_CLASSES_ROOT\\CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}\\LocalServer32]\r\n"
     "[HKEY_CLASSES_ROOT\\.ovxf]\r\n@=\"Notepad.Document\"\r\n",
     6,
     {"different value  [HKEY_CLASSES_ROOT\\.ovxf] @=\"Notepad.Document\"  (registration writes @=\"Orvantis "
      "Language\")",
      std::string("missing key      [") + kLocalServer + "]"}},
    {"MissingValue", "[HKEY_CLASSES_ROOT\\.ovxl]\r\n@=-\r\n", 6,
     {"missing value    [HKEY_CLASSES_ROOT\\.ovxl] @=\"Tavrin Model Library\""}},
    // The host application turns the What's new switch on after its first start.
    {"WhatsNewSwitchChangedByTheHost",
     "[HKEY_CURRENT_USER\\Software\\Corvalen\\Orvantis\\38.0\\IniSettings]\r\n\"whatsnew_ovx\"=dword:00000001\r\n", 0,
     {"The registration is intact ("}},
    {"WhatsNewSwitchMissing",
     "[HKEY_CURRENT_USER\\Software\\Corvalen\\Orvantis\\38.0\\IniSettings]\r\n\"whatsnew_ovx\"=-\r\n", 6,
     {"missing value    [HKEY_CURRENT_USER\\Software\\Corvalen\\Orvantis\\38.0\\IniSettings] "
      "\"whatsnew_ovx\"=dword:00000000"}},
    // Another version made itself current: its ProgID rows are its own.
    {"AnotherVersionCurrent",
     "[HKEY_CLASSES_ROOT\\OVX Application\\CurVer]\r\n@=\"OVX Application 3900\"\r\n"
     "[HKEY_CLASSES_ROOT\\OVX Application\\CLSID]\r\n@=\"{00000000-0000-0000-0000-000000003900}\"\r\n",
     0,
     {"The registration is intact ("}},
    // Not the version-independent ProgID: this version's own keys still count.
    {"AnotherVersionCurrentButOwnClassBroken",
     "[HKEY_CLASSES_ROOT\\OVX Application\\CurVer]\r\n@=\"OVX Application 3900\"\r\n"
     "[HKEY_CLASSES_ROOT\\OVX Application 3800\\CLSID]\r\n@=\"{00000000-0000-0000-0000-000000003900}\"\r\n",
     6,
     {"different value  [HKEY_CLASSES_ROOT\\OVX Application 3800\\CLSID] "
      "@=\"{00000000-0000-0000-0000-000000003900}\"  (registration writes @=\"{FDE14674-8E3D-0380-878A-2E97C127D967}\")"}},
};

class QzregCheck : public QzregTest, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(QzregCheck, ListsExactlyWhatDiffersAndNothingTheMachineOwns) {
    const CheckCase& c = GetParam();
    ASSERT_EQ(Qzreg(installation_ + "-q --registry '" + folder_ + "' register").exitCode, 0);
    ChangeFolder(c.change);
    const std::string before = Files(folder_);
    const CommandRun run = Qzreg("--registry '" + folder_ + "' check");
    EXPECT_EQ(run.exitCode, c.exitCode) << run.out << run.err;
    std::vector<std::string> lines;
    std::istringstream in(run.out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), c.lines.size()) << run.out;
    for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i].rfind(c.lines[i], 0), 0u) << lines[i];
    EXPECT_EQ(Files(folder_), before) << "check changes nothing";

    // A registration mends the drift; the machine's own state stays as the machine has it.
    ASSERT_EQ(Qzreg("-q --registry '" + folder_ + "' register").exitCode, 0);
    EXPECT_EQ(Qzreg("-q --registry '" + folder_ + "' check").exitCode, 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, QzregCheck, ::testing::ValuesIn(kCheckCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(QzregTest, CheckAsJsonSaysIntactOrListsTheDrift) {
    ASSERT_EQ(Qzreg(installation_ + "-q --registry '" + folder_ + "' register").exitCode, 0);
    CommandRun run = Qzreg("--registry '" + folder_ + "' check --format json");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(nlohmann::json::parse(run.out)["intact"], true);

    ChangeFolder("[HKEY_CLASSES_ROOT\\.ovxf]\r\n@=\"Other\"\r\n");
    run = Qzreg("--registry '" + folder_ + "' check --format json");
    EXPECT_EQ(run.exitCode, 6);
    const nlohmann::json check = nlohmann::json::parse(run.out);
    EXPECT_EQ(check["intact"], false);
    ASSERT_EQ(check["drift"].size(), 1u);
    EXPECT_EQ(check["drift"][0]["kind"], "different-value");
    EXPECT_EQ(check["drift"][0]["key"], ".ovxf");
    EXPECT_EQ(check["drift"][0]["found"], "Other");
    EXPECT_EQ(check["drift"][0]["expected"], "Orvantis Language");
}

TEST_F(QzregTest, CheckWhereARegistrationWouldFailSaysSoWithExitFive) {
    // No installation of the modelling system: a registration would fail, so nothing can be called intact.
    ASSERT_EQ(Qzreg("-q --registry '" + folder_ + "' register").exitCode, 5);
    const CommandRun run = Qzreg("--registry '" + folder_ + "' check");
    EXPECT_EQ(run.exitCode, 5);
    EXPECT_NE(run.err.find("Registration Error: The installation directory of the modelling system was not found"),
              std::string::npos)
        << run.err;
}

TEST_F(QzregTest, HarvestGivesTheRegistrationWithReferencesAndTouchesNoRegistry) {
    const CommandRun run = Qzreg("--registry '" + folder_ + "' --import '" + std::string(QZ_SOURCE_DIR) +
                                 "/scripts/demo-installation.reg' harvest");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("[HKEY_CLASSES_ROOT\\CLSID\\{3209ADC4-9264-11D1-B147-00A024F1AC65}\\DefaultIcon]\n"
                           "@=\"[#qzproduct.dll],0\""),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("@=\"\\\"[ZUREDOREBIN]\\\\Tessaryn.exe\\\" /ovx /Automation\""), std::string::npos)
        << run.out;
    // The versioned verb of the installed version, with the directory as a reference.
    EXPECT_NE(run.out.find("[HKEY_CLASSES_ROOT\\Orvantis Language\\shell\\Open Orvantis V12\\command]\n"
                           "@=\"\\\"[ZUREDOREBIN]\\\\Tessaryn.exe\\\" /ovx \\\"%1\\\"\""),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("\"whatsnew_ovx\"=dword:00000000"), std::string::npos) << "types kept";
    EXPECT_EQ(run.out.find("Program Files"), std::string::npos) << "no machine text left";
    EXPECT_EQ(access(folder_.c_str(), F_OK), -1) << "no registry folder was opened";

    const CommandRun bare = Qzreg("harvest --format json");
    ASSERT_EQ(bare.exitCode, 0) << bare.err;
    const nlohmann::json changes = nlohmann::json::parse(bare.out);
    EXPECT_FALSE(changes.empty());
    for (const auto& change : changes) EXPECT_NE(change["change"], "remove-key");
}

TEST_F(QzregTest, ConcurrentPassesPrintOnlyTheirOwnChanges) {
    // Eight processes at once, each importing a key of its own and registering.
    constexpr int kProcesses = 8;
    std::vector<std::string> imports;
    for (int i = 0; i < kProcesses; ++i) {
        imports.push_back(scratch_ + "/import" + std::to_string(i) + ".reg");
        std::ofstream(imports.back(), std::ios::binary)
            << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\QzConcurrent\\P" << i << "]\r\n\"v\"=\"x\"\r\n";
    }
    const std::string script = scratch_ + "/concurrent.sh";
    std::ofstream(script) << "cd '" << scratch_ << "' && for i in 0 1 2 3 4 5 6 7; do " << QZ_BINARY_DIR
                          << "/bin/qzreg --registry '" << folder_ << "' --import import$i.reg " << installation_
                          << "register >out$i.txt 2>err$i.txt & done; wait\n";
    ASSERT_EQ(std::system(("bash '" + script + "'").c_str()), 0);
    int registrations = 0;
    for (int i = 0; i < kProcesses; ++i) {
        const std::string out = qz::test::ReadBytes(scratch_ + "/out" + std::to_string(i) + ".txt");
        EXPECT_EQ(out.find("QzConcurrent"), std::string::npos) << "imports are not the pass's changes:\n" << out;
        if (out.find("[HKEY_CLASSES_ROOT\\OVX Application\\CurVer]") != std::string::npos) ++registrations;
    }
    EXPECT_EQ(registrations, 1) << "one pass registered; the others found nothing left to change";
    const std::string machine = Hive("HKEY_LOCAL_MACHINE");
    for (int i = 0; i < kProcesses; ++i)
        EXPECT_NE(machine.find("[HKEY_LOCAL_MACHINE\\Software\\QzConcurrent\\P" + std::to_string(i) + "]"),
                  std::string::npos);
}

TEST_F(QzregTest, BehindAnotherHolderItSaysWhoAndGivesUpAtItsLimit) {
    std::string error;
    std::unique_ptr<qz::RegistryFolder> held = qz::RegistryFolder::Open(folder_, error);
    ASSERT_TRUE(held) << error;
    const CommandRun run = Qzreg("--lock-timeout 2 --registry '" + folder_ + "' check");
    EXPECT_EQ(run.exitCode, 5);
    const std::string holder = "in use by process " + std::to_string(getpid());
    EXPECT_NE(run.err.find("qzreg: the registry folder " + folder_ + " is " + holder + "; waiting up to 2 s"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("still " + holder + " after waiting 2 s"), std::string::npos) << run.err;
    EXPECT_EQ(Qzreg("--lock-timeout -1 --registry '" + folder_ + "' check").exitCode, 1);
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
