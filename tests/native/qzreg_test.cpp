// The native registration host end to end: qzreg loads libqzproduct.so, which
// runs a pass into a registry folder of the test's own.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <link.h>
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

#include "registry/reg_file/reg_file.h"
#include "registry/folder/registry_folder.h"
#include "text/code_page.h"
#include "tests/support/folder_files.h"
#include "tests/support/qzreg_json_outputs.h"
#include "text/utf16_data.h"

namespace {

struct CommandRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

class QzregTest : public ::testing::Test {
protected:
    // The test's registry folder exists, as one a user names does.
    void SetUp() override { ASSERT_EQ(mkdir(folder_.c_str(), 0755), 0); }

    // qzreg with environment assignments before it, in a folder of its own when
    // given one; the default registry folder is the scratch folder's
    // (defaultFolder_), QZ_REGISTRY_DIR unset unless the environment sets it.
    CommandRun Qzreg(const std::string& arguments, const std::string& environment = "",
                     const std::string& directory = "") {
        const std::string out = scratch_ + "/out.txt", err = scratch_ + "/err.txt";
        const std::string command = (directory.empty() ? "" : "cd '" + directory + "' && ") +
                                    "env -u QZ_REGISTRY_DIR XDG_STATE_HOME='" + scratch_ + "/state' " + environment +
                                    " " + QZ_BINARY_DIR + "/bin/qzreg " + arguments + " </dev/null >'" + out +
                                    "' 2>'" + err + "'";
        const int status = std::system(command.c_str());
        CommandRun run;
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = qz::test::ReadBytes(out);
        run.err = qz::test::ReadBytes(err);
        qz::test::KeepQzregJsonOutput(arguments, run.exitCode, run.out);
        return run;
    }

    // A hive file of the folder as UTF-8 text.
    std::string Hive(const std::string& name) { return qz::test::HiveText(folder_ + "/" + name + ".reg"); }

    const qz::test::ScratchFolder scratchFolder_{"qzreg-test."};
    const std::string scratch_ = scratchFolder_.path();
    const std::string folder_ = scratch_ + "/registry";
    const std::string defaultFolder_ = scratch_ + "/state/orvantis/registry";
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
    ASSERT_EQ(rmdir(folder_.c_str()), 0);
    const CommandRun run = Qzreg(installation_ + "--registry '" + folder_ + "' register --create");
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

// Every file of a folder, name and bytes (the lock file too), or "absent".
std::string FolderState(const std::string& folder) {
    struct stat info {};
    if (lstat(folder.c_str(), &info) != 0) return "absent";
    std::string state = "folder:";
    for (const std::string& name : qz::test::FileNames(folder))
        state += name + "=" + qz::test::ReadBytes(folder + "/" + name) + "|";
    return state;
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

    const std::string registered = FolderState(folder_);
    const CommandRun unpreview = Qzreg("--registry '" + folder_ + "' unregister --dry-run");
    const CommandRun unpreviewJson = Qzreg("--registry '" + folder_ + "' unregister --dry-run --format json");
    EXPECT_EQ(FolderState(folder_), registered) << "a dry run writes nothing, not even into the lock file";
    ASSERT_EQ(unpreviewJson.exitCode, 0) << unpreviewJson.err;
    EXPECT_NE(unpreviewJson.out.find("\"change\": \"remove-key\",\n    \"hive\": \"HKEY_CLASSES_ROOT\",\n    \"key\": "
                                     "\"OVX Application\""),
              std::string::npos)
        << unpreviewJson.out;
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
    // Another version registered last: the classes and document types the versions share hold its
    // module, directories and name.
    {"AnotherVersionCurrentWroteTheSharedClasses",
     "[HKEY_CLASSES_ROOT\\OVX Application\\CurVer]\r\n@=\"OVX Application 3900\"\r\n"
     "[HKEY_CLASSES_ROOT\\CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}\\LocalServer32]\r\n"
     "@=\"\\\"C:\\\\Program Files\\\\Corvalen\\\\ZURedore V13\\\\bin\\\\Tessaryn.exe\\\" /ovx\"\r\n"
     "[HKEY_CLASSES_ROOT\\CLSID\\{3209ADC4-9264-11D1-B147-00A024F1AC65}\\DefaultIcon]\r\n@=\"C:\\\\Orvantis 39.0\\\\qzproduct.dll,0\"\r\n"
     "[HKEY_CLASSES_ROOT\\Orvantis Language\\Application]\r\n\"ApplicationName\"=\"Orvantis V13\"\r\n",
     0,
     {"The registration is intact ("}},
    // This version's own application class still counts, and so does a shared value that is missing.
    {"AnotherVersionCurrentButOwnApplicationClassChanged",
     "[HKEY_CLASSES_ROOT\\OVX Application\\CurVer]\r\n@=\"OVX Application 3900\"\r\n"
     "[HKEY_CLASSES_ROOT\\CLSID\\{FDE14674-8E3D-0380-878A-2E97C127D967}\\LocalServer32]\r\n@=\"other.exe\"\r\n",
     6,
     {"different value  [HKEY_CLASSES_ROOT\\CLSID\\{FDE14674-8E3D-0380-878A-2E97C127D967}\\LocalServer32] "
      "@=\"other.exe\"  (registration writes "}},
    {"AnotherVersionCurrentButASharedValueMissing",
     "[HKEY_CLASSES_ROOT\\OVX Application\\CurVer]\r\n@=\"OVX Application 3900\"\r\n"
     "[HKEY_CLASSES_ROOT\\Orvantis Language\\DefaultIcon]\r\n@=-\r\n",
     6,
     {"missing value    [HKEY_CLASSES_ROOT\\Orvantis Language\\DefaultIcon] @="}},
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

// CurVer naming this very version in any spelling the module reads as its own makes no other version current:
// a tampered value in a class the versions share is drift then, as it is with CurVer untouched.
struct OwnCurVerSpelling {
    const char* name;
    DWORD type;
    std::vector<BYTE> data;
    const char* line;  // how check shows the spelling, which a registration rewrites
};
void PrintTo(const OwnCurVerSpelling& c, std::ostream* os) { *os << c.name; }

std::vector<BYTE> Utf16Bytes(const std::u16string& text) {
    std::vector<BYTE> bytes;
    for (const char16_t c : text) {
        bytes.push_back(static_cast<BYTE>(c & 0xFF));
        bytes.push_back(static_cast<BYTE>(c >> 8));
    }
    return bytes;
}

const OwnCurVerSpelling kOwnCurVerSpellings[] = {
    {"Untouched", REG_SZ, Utf16Bytes(std::u16string(u"OVX Application 3800") + u'\0'), nullptr},
    {"LowerCase", REG_SZ, Utf16Bytes(std::u16string(u"ovx application 3800") + u'\0'), "@=\"ovx application 3800\""},
    {"UpperCase", REG_SZ, Utf16Bytes(std::u16string(u"OVX APPLICATION 3800") + u'\0'), "@=\"OVX APPLICATION 3800\""},
    {"Expandable", REG_EXPAND_SZ, Utf16Bytes(std::u16string(u"Ovx Application 3800") + u'\0'),
     "@=hex(2):4f,00,76,00,78,00,"},
    {"MultiString", REG_MULTI_SZ, Utf16Bytes(std::u16string(u"OVX Application 3800") + u'\0' + u'\0'),
     "@=hex(7):4f,00,56,00,58,00,"},
    {"WithoutTerminator", REG_SZ, Utf16Bytes(u"OVX application 3800"), "@=hex(1):4f,00,56,00,58,00,"},
    {"BytesInTheCodePage", REG_BINARY, {'o', 'v', 'x', ' ', 'A', 'p', 'p', 'l', 'i', 'c', 'a', 't', 'i', 'o', 'n', ' ',
                                        '3', '8', '0', '0'},
     "@=hex:6f,76,78,20,"},
};

class QzregCheckOwnCurVer : public QzregTest, public ::testing::WithParamInterface<OwnCurVerSpelling> {};

TEST_P(QzregCheckOwnCurVer, ATamperedSharedClassValueIsDrift) {
    const OwnCurVerSpelling& c = GetParam();
    ASSERT_EQ(Qzreg(installation_ + "-q --registry '" + folder_ + "' register").exitCode, 0);
    {
        std::string error;
        std::unique_ptr<qz::RegistryFolder> folder = qz::RegistryFolder::Open(folder_, error);
        ASSERT_TRUE(folder) << error;
        qz::RegistryApi& registry = folder->registry();
        qz::UniqueKey key(registry);
        ASSERT_EQ(registry.CreateKeyExW(HKEY_CLASSES_ROOT, u"OVX Application\\CurVer", 0, KEY_ALL_ACCESS, key.put()),
                  ERROR_SUCCESS);
        ASSERT_EQ(registry.SetValueExW(key.get(), u"", c.type, c.data.data(), static_cast<DWORD>(c.data.size())),
                  ERROR_SUCCESS);
        key.reset();
        ASSERT_TRUE(folder->Save(error)) << error;
    }
    ChangeFolder("[HKEY_CLASSES_ROOT\\CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}\\DefaultIcon]\r\n"
                 "@=\"C:\\\\evil.dll,1\"\r\n");

    const CommandRun run = Qzreg("--registry '" + folder_ + "' check");
    EXPECT_EQ(run.exitCode, 6) << run.out << run.err;
    std::vector<std::string> lines;  // one a difference: hex data goes on in lines of its own
    std::istringstream in(run.out);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("  ", 0) != 0) lines.push_back(line);
    ASSERT_EQ(lines.size(), c.line != nullptr ? 2u : 1u) << run.out;
    EXPECT_EQ(lines[0].rfind("different value  [HKEY_CLASSES_ROOT\\CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}"
                             "\\DefaultIcon] @=\"C:\\\\evil.dll,1\"  (registration writes @=\"",
                             0),
              0u)
        << lines[0];
    if (c.line != nullptr) {
        EXPECT_EQ(lines[1].rfind(std::string("different value  [HKEY_CLASSES_ROOT\\OVX Application\\CurVer] ") + c.line, 0),
                  0u)
            << lines[1];
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, QzregCheckOwnCurVer, ::testing::ValuesIn(kOwnCurVerSpellings),
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

TEST_F(QzregTest, CheckWhereARegistrationWouldFailListsNoDriftAndSaysItCannotTell) {
    // No installation of the modelling system: a registration would fail, and what it would write (command
    // lines built from empty directories) is no measure of the registration. Both a folder the failing pass
    // wrote into and an empty one.
    const char kMissing[] = "The installation directory of the modelling system was not found: "
                            "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Dir, value help (the key is missing)";
    for (const bool registered : {true, false}) {
        if (registered) {
            ASSERT_EQ(Qzreg("-q --registry '" + folder_ + "' register").exitCode, 5);
        }
        const std::string before = FolderState(folder_);
        const CommandRun run = Qzreg("--registry '" + folder_ + "' check");
        EXPECT_EQ(run.exitCode, 5);
        EXPECT_EQ(run.out, "") << "no drift listed";
        EXPECT_EQ(run.err, std::string("Registration Error: ") + kMissing +
                               "\nqzreg: a registration would fail here, so the check cannot tell whether the "
                               "registration is intact (registry folder " + folder_ + ")\n");

        const CommandRun json = Qzreg("--registry '" + folder_ + "' check --format json");
        EXPECT_EQ(json.exitCode, 5);
        const nlohmann::json verdict = nlohmann::json::parse(json.out);
        EXPECT_TRUE(verdict["intact"].is_null()) << json.out;
        EXPECT_EQ(verdict["drift"], nlohmann::json::array());
        EXPECT_EQ(verdict["machine_state"], nlohmann::json::array());
        EXPECT_EQ(verdict["messages"], nlohmann::json::array({kMissing}));
        EXPECT_EQ(verdict["error"], "a registration would fail here, so the check cannot tell whether the "
                                    "registration is intact (registry folder " + folder_ + ")");
        EXPECT_EQ(FolderState(folder_), before) << "check wrote nothing";
        ASSERT_EQ(std::system(("rm -rf '" + folder_ + "' && mkdir '" + folder_ + "'").c_str()), 0);
    }
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
    EXPECT_EQ(qz::test::FileNames(folder_), std::vector<std::string>{}) << "nothing written into the folder";

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
    const CommandRun negative = Qzreg("--lock-timeout -1 --registry '" + folder_ + "' check");
    EXPECT_EQ(negative.exitCode, 1);
    EXPECT_EQ(negative.err.rfind(
                  "--lock-timeout: the lock timeout must be a number of seconds from 0 to 86400, not \"-1\"\n", 0),
              0u)
        << negative.err;
}

// The full path of a system library that lacks the module's entry point.
std::string SystemLibraryPath(const char* name) {
    void* handle = dlopen(name, RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) handle = dlopen(name, RTLD_NOW);
    link_map* map = nullptr;
    std::string path = handle != nullptr && dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 ? map->l_name : "";
    if (handle != nullptr) dlclose(handle);
    return path;
}

TEST_F(QzregTest, ExitCodesFollowRegsvr32) {
    EXPECT_EQ(Qzreg("--help").exitCode, 0);
    EXPECT_EQ(Qzreg("").exitCode, 1);
    EXPECT_EQ(Qzreg("register --bogus").exitCode, 1);
    EXPECT_EQ(Qzreg("--registry '" + folder_ + "' --module /nonexistent/libx.so register").exitCode, 3);
    const std::string libm = SystemLibraryPath("libm.so.6");
    ASSERT_FALSE(libm.empty());
    EXPECT_EQ(Qzreg("--registry '" + folder_ + "' --module '" + libm + "' register").exitCode, 4);
    // Imports: a missing file is a bad argument, a malformed one fails the pass; both are named.
    const CommandRun missing = Qzreg("--registry '" + folder_ + "' --import '" + scratch_ + "/none.reg' check");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find(scratch_ + "/none.reg"), std::string::npos) << missing.err;
    std::ofstream(scratch_ + "/bad.reg", std::ios::binary) << "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\X]\r\n\"v\"=dword:zz\r\n";
    const CommandRun malformed = Qzreg("--registry '" + folder_ + "' --import '" + scratch_ + "/bad.reg' check");
    EXPECT_EQ(malformed.exitCode, 5);
    EXPECT_NE(malformed.err.find(scratch_ + "/bad.reg: line 4"), std::string::npos) << malformed.err;
    // A registry folder that cannot be created: a file stands in its place.
    std::ofstream(scratch_ + "/file") << "x";
    EXPECT_EQ(Qzreg("--registry '" + scratch_ + "/file' register").exitCode, 5);

    // A harvest that cannot be made fails as a pass does, with nothing harvested: a machine state it cannot
    // read, and one on which the registration reports a failure (a bin directory no path can be).
    const CommandRun unreadable = Qzreg("--import '" + scratch_ + "/bad.reg' harvest");
    EXPECT_EQ(unreadable.exitCode, 5);
    EXPECT_NE(unreadable.err.find(scratch_ + "/bad.reg: line 4"), std::string::npos) << unreadable.err;
    EXPECT_EQ(unreadable.out, "");
    std::ofstream(scratch_ + "/quote.reg", std::ios::binary)
        << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Dir]\r\n"
           "\"bin\"=\"C:\\\\a\\\"b\"\r\n";
    const CommandRun failing = Qzreg("--import '" + scratch_ + "/quote.reg' harvest");
    EXPECT_EQ(failing.exitCode, 5);
    EXPECT_NE(failing.err.find("qzreg: the registration reported failures; nothing harvested"), std::string::npos)
        << failing.err;
    EXPECT_EQ(failing.out, "");
}


// Which registry folder a command works on, and what it leaves there: only the
// default folder is made on demand, a named one must exist (register --create
// makes it), and a check, a dry run or a harvest writes nothing anywhere.
enum class Start { Missing, DefaultMissing, Empty, Registered, Corrupt, Journal };

struct FolderCase {
    const char* name;
    Start start;
    std::string environment;  // "@" stands for the folder's path
    std::string arguments;    // "@" as above; the installation import is added when installation is set
    bool installation;
    int exitCode;
    std::string message;  // a line of stderr, "@" as above
    bool madeOrUnchanged; // for a missing folder: it is made; for an existing one: its files are as they were
};
void PrintTo(const FolderCase& c, std::ostream* os) { *os << c.name; }

const std::string kNotThere = "qzreg: the registry folder @ does not exist (named by --registry)";
const FolderCase kFolderCases[] = {
    // A named folder that is not there: every command refuses it, and nothing is made.
    {"MissingRegister", Start::Missing, "", "--registry @ register", true, 1,
     kNotThere + "; register --create makes a new registry there", false},
    {"MissingUnregister", Start::Missing, "", "--registry @ unregister", false, 1, kNotThere, false},
    {"MissingRegisterDryRun", Start::Missing, "", "--registry @ register --dry-run", true, 1,
     kNotThere + "; register --create makes a new registry there", false},
    {"MissingUnregisterDryRun", Start::Missing, "", "--registry @ unregister --dry-run", false, 1, kNotThere, false},
    {"MissingCheck", Start::Missing, "", "--registry @ check", false, 1, kNotThere, false},
    {"MissingCheckJson", Start::Missing, "", "--registry @ check --format json", false, 1, kNotThere, false},
    {"MissingHarvest", Start::Missing, "", "--registry @ harvest", true, 1, kNotThere, false},
    {"MissingFromTheEnvironment", Start::Missing, "QZ_REGISTRY_DIR=@", "check", false, 1,
     "qzreg: the registry folder @ does not exist (named by QZ_REGISTRY_DIR)", false},
    {"MisspeltSubcommandMakesNothing", Start::Missing, "", "--registry @ regster", false, 1,
     "qzreg: 'regster' is not a qzreg subcommand; did you mean 'register'? The subcommands are register, "
     "unregister, check and harvest (qzreg SUBCOMMAND --help tells more).",
     false},
    // --create makes it, parents and all; with --dry-run nothing is made.
    {"CreateWithDryRunMakesNothing", Start::Missing, "", "--registry @ register --create --dry-run", true, 0,
     "qzreg: registration by " QZ_BINARY_DIR "/bin/libqzproduct.so previewed, nothing changed (registry folder @, "
     "which does not exist)",
     false},
    {"CreateMakesIt", Start::Missing, "", "--registry @ register --create", true, 0,
     "qzreg: registration by " QZ_BINARY_DIR "/bin/libqzproduct.so done (registry folder @)", true},
    {"CreateFromTheEnvironment", Start::Missing, "QZ_REGISTRY_DIR=@", "register --create", true, 0, "", true},
    // An empty name (a script's unset variable) is an error, never the default folder.
    {"EmptyOption", Start::DefaultMissing, "", "--registry '' unregister", false, 1,
     "qzreg: --registry is empty: name an existing registry folder, or leave the option out for the default one",
     false},
    {"EmptyVariable", Start::DefaultMissing, "QZ_REGISTRY_DIR=", "unregister", false, 1,
     "qzreg: QZ_REGISTRY_DIR is set but empty: name an existing registry folder in it, or unset it for the "
     "default folder",
     false},
    {"EmptyModule", Start::DefaultMissing, "", "--module '' register", true, 1,
     "qzreg: --module is empty: name the module file, or leave the option out for the one installed with qzreg",
     false},
    // The default folder is made by a command that writes, and only by one.
    {"DefaultCheck", Start::DefaultMissing, "", "check", false, 5,
     "qzreg: a registration would fail here, so the check cannot tell whether the registration is intact "
     "(registry folder @, which does not exist)",
     false},
    {"DefaultCheckWithAnInstallation", Start::DefaultMissing, "", "check", true, 6,
     "qzreg: the registration has drifted: 10 differences (registry folder @, which does not exist)", false},
    {"DefaultDryRun", Start::DefaultMissing, "", "register --dry-run", true, 0, "", false},
    {"DefaultHarvest", Start::DefaultMissing, "", "harvest", true, 0, "", false},
    {"DefaultRegisterMakesIt", Start::DefaultMissing, "", "register", true, 0, "", true},
    // An existing folder is only read by check and a dry run: not even a lock file appears.
    {"EmptyFolderCheck", Start::Empty, "", "--registry @ check", true, 6, "", true},
    {"EmptyFolderDryRun", Start::Empty, "", "--registry @ register --dry-run", true, 0, "", true},
    {"RegisteredCheck", Start::Registered, "", "--registry @ check --format json", false, 0, "", true},
    {"RegisteredUnregisterDryRun", Start::Registered, "", "--registry @ unregister --dry-run", false, 0, "", true},
    // A folder it cannot read is refused, as it was.
    {"CorruptCheck", Start::Corrupt, "", "--registry @ check", false, 5, "qzreg: @/HKEY_LOCAL_MACHINE.reg: line 4",
     true},
    {"CorruptDryRun", Start::Corrupt, "", "--registry @ register --dry-run", false, 5,
     "qzreg: @/HKEY_LOCAL_MACHINE.reg: line 4", true},
    {"CorruptRegister", Start::Corrupt, "", "--registry @ register", false, 5,
     "qzreg: @/HKEY_LOCAL_MACHINE.reg: line 4", true},
    {"InterruptedSaveCheck", Start::Journal, "", "--registry @ check", false, 5,
     "qzreg: the registry folder @ holds a save that was interrupted (@/journal), which the next command that "
     "writes to the folder completes; until then it is not read",
     true},
};

class QzregFolders : public QzregTest, public ::testing::WithParamInterface<FolderCase> {};

std::string WithPath(std::string text, const std::string& path) {
    for (std::size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at + path.size()))
        text.replace(at, 1, path);
    return text;
}

TEST_P(QzregFolders, EachCommandGivesItsExitCodeAndLeavesTheFolderAsItWas) {
    const FolderCase& c = GetParam();
    std::string folder = folder_;
    std::string watched = folder_;  // what must stay as it was (for a missing folder, its first missing parent)
    switch (c.start) {
        case Start::Missing:
            folder = scratch_ + "/missing/a/b";
            watched = scratch_ + "/missing";
            break;
        case Start::DefaultMissing:
            folder = defaultFolder_;
            watched = scratch_ + "/state";
            break;
        case Start::Empty: break;
        case Start::Registered:
        case Start::Corrupt:
        case Start::Journal:
            ASSERT_EQ(Qzreg(installation_ + "-q --registry '" + folder_ + "' register").exitCode, 0);
            if (c.start == Start::Corrupt)
                qz::test::WriteBytes(folder_ + "/HKEY_LOCAL_MACHINE.reg",
                                     qz::EncodeUtf16LeWithBom(u"Windows Registry Editor Version 5.00\r\n\r\n"
                                                              u"[HKEY_LOCAL_MACHINE\\Software\\X]\r\n\"v\"=dword:zz\r\n"));
            if (c.start == Start::Journal) qz::test::WriteBytes(folder_ + "/journal", "qz registry folder journal 1\n");
            break;
    }
    const std::string before = FolderState(watched);
    const std::string quoted = "'" + folder + "'";
    const CommandRun run = Qzreg((c.installation ? installation_ : "") + WithPath(c.arguments, quoted),
                                 WithPath(c.environment, quoted));
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    if (!c.message.empty()) {
        EXPECT_NE(("\n" + run.err).find("\n" + WithPath(c.message, folder)), std::string::npos) << run.err;
    }
    if (c.exitCode == 1) {
        EXPECT_EQ(run.out, "") << "bad arguments print nothing on stdout";
    }

    const bool existed = before != "absent";
    if (existed || !c.madeOrUnchanged) {
        EXPECT_EQ(FolderState(watched), before) << (existed ? "the folder changed" : "something was made");
    } else {
        EXPECT_NE(qz::test::HiveText(folder + "/HKEY_LOCAL_MACHINE.reg").find("OVX Application"), std::string::npos)
            << "the folder was made and registered into";
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, QzregFolders, ::testing::ValuesIn(kFolderCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(QzregTest, AnUnknownSubcommandIsNamedWithTheNearestKnownOne) {
    const struct {
        std::string arguments;
        std::string message;
    } cases[] = {
        {"regster", "'regster' is not a qzreg subcommand; did you mean 'register'?"},
        {"-q unregster --dry-run", "'unregster' is not a qzreg subcommand; did you mean 'unregister'?"},
        {"chekc --format json", "'chekc' is not a qzreg subcommand; did you mean 'check'?"},
        {"HARVEST", "'HARVEST' is not a qzreg subcommand; did you mean 'harvest'?"},
        {"", "a subcommand is required: register, unregister, check or harvest (qzreg --help tells more)"},
        {"-q", "a subcommand is required: register, unregister, check or harvest (qzreg --help tells more)"},
    };
    for (const auto& c : cases) {
        const CommandRun run = Qzreg(c.arguments);
        EXPECT_EQ(run.exitCode, 1) << c.arguments;
        EXPECT_EQ(run.err.rfind("qzreg: " + c.message, 0), 0u) << c.arguments << ": " << run.err;
        EXPECT_EQ(run.out, "") << c.arguments;
    }
}

TEST_F(QzregTest, ABareModuleNameIsTheFileInTheCurrentFolder) {
    const std::string modules = scratch_ + "/modules";
    ASSERT_EQ(mkdir(modules.c_str(), 0755), 0);
    qz::test::WriteBytes(modules + "/libqzproduct.so", qz::test::ReadBytes(std::string(QZ_BINARY_DIR) + "/bin/libqzproduct.so"));
    const CommandRun run = Qzreg(installation_ + "--module libqzproduct.so --registry '" + folder_ + "' register", "", modules);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    char* copy = realpath((modules + "/libqzproduct.so").c_str(), nullptr);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(Hive("HKEY_LOCAL_MACHINE").find("\"DLL\"=\"" + std::string(copy) + "\""), std::string::npos)
        << "the copy in the current folder was registered";
    std::free(copy);

    // Not a library of the system's search, though one of that name is there.
    const CommandRun system = Qzreg("--module libm.so.6 --registry '" + folder_ + "' check", "", modules);
    EXPECT_EQ(system.exitCode, 3);
    EXPECT_EQ(system.err.rfind("qzreg: cannot load ./libm.so.6: ./libm.so.6: cannot open shared object file", 0), 0u)
        << system.err;
}

TEST_F(QzregTest, EveryCommandsHelpListsItsExitStatuses) {
    const std::string common[] = {"Exit status (0 to 5 as regsvr32's):\n", "\n  1  bad arguments: ",
                                  "\n  3  the module could not be loaded", "\n  4  the module lacks its registration "
                                                                           "entry point"};
    for (const std::string subcommand : {"", "register", "unregister", "check", "harvest"}) {
        const CommandRun run = Qzreg(subcommand + " --help");
        EXPECT_EQ(run.exitCode, 0) << subcommand;
        for (const std::string& line : common) EXPECT_NE(run.out.find(line), std::string::npos) << subcommand << ": " << line;
        EXPECT_NE(run.out.find("\n  0  "), std::string::npos) << subcommand;
        EXPECT_NE(run.out.find("\n  5  "), std::string::npos) << subcommand;
        EXPECT_EQ(run.out.find("reg (default: text)"), std::string::npos) << subcommand;
    }
    const CommandRun check = Qzreg("check --help");
    for (const char* line : {"  0  intact: a registration would change nothing here (JSON: \"intact\": true)",
                             "  5  the check cannot tell: a registration would fail here",
                             "  6  drifted: the differences are listed; a registration repairs them",
                             "text (the default: the differences, one a line) or json"})
        EXPECT_NE(check.out.find(line), std::string::npos) << line << "\n" << check.out;
    EXPECT_NE(Qzreg("register --help").out.find("--create"), std::string::npos);
    EXPECT_NE(Qzreg("--help").out.find("a number of seconds from 0 (fail at once) to 86400 (a day)"), std::string::npos);
}

}  // namespace
