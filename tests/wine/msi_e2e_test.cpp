// The package against the module's own registration, under Wine: one package
// for every machine. In this program's prefix, every machine state of a table
// is played twice from the same seed, once with regsvr32 of the DLL at the path
// the package installs it to, once with msiexec and the package. The product's
// keys are exported after each step and compared line by line: the
// installations must be equal, the removals may differ only by the lines a
// state lists (each one listed in docs/differences.md with its reason).
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "product_version.h"
#include "tests/support/module_e2e.h"
#include "tests/support/windows_commands.h"

namespace qz::test {
namespace {

// Where the package installs the module: Program Files (64-bit), then the
// package's folder. regsvr32 registers a copy at the same path, so that the
// texts that carry the module's path are the same in both exports.
const char kInstallFolder[] = "C:\\Program Files\\Corvalen\\Orvantis " QZ_VERSION_TEXT;
const char kInstalledModule[] = "C:\\Program Files\\Corvalen\\Orvantis " QZ_VERSION_TEXT "\\qzproduct.dll";
// qzreg, installed beside the module for deployment tools: "qzreg.exe check" exits
// 0 while the registration is intact and 6 when it has drifted.
const char kInstalledHost[] = "C:\\Program Files\\Corvalen\\Orvantis " QZ_VERSION_TEXT "\\qzreg.exe";
constexpr int kCheckIntact = 0;
constexpr int kCheckDrift = 6;

// Every key the registration writes or an unregistration may leave, and the
// neighbours a scenario seeds (another application version, the 32-bit view).
// Windows Installer's own bookkeeping lies elsewhere and is not compared.
const char* const kComparedKeys[] = {
    "HKEY_LOCAL_MACHINE\\Software\\Corvalen",
    "HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Corvalen",
    "HKEY_CURRENT_USER\\Software\\Corvalen",
    "HKEY_CLASSES_ROOT\\.ovxf",
    "HKEY_CLASSES_ROOT\\.ovxl",
    "HKEY_CLASSES_ROOT\\Orvantis Language",
    "HKEY_CLASSES_ROOT\\Tavrin Model Library",
    "HKEY_CLASSES_ROOT\\OVX Application",
    "HKEY_CLASSES_ROOT\\OVX Application 3700",
    "HKEY_CLASSES_ROOT\\OVX Application 3800",
    "HKEY_CLASSES_ROOT\\CLSID\\{FDE14674-8E3D-0380-878A-2E97C127D967}",
    "HKEY_CLASSES_ROOT\\CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}",
    "HKEY_CLASSES_ROOT\\CLSID\\{3209ADC4-9264-11D1-B147-00A024F1AC65}",
};

const char kRegHeader[] = "Windows Registry Editor Version 5.00\n\n";

// One key and everything below it, read in this process (a reg export per key
// and snapshot made the table of states take minutes): "[key]" lines and
// "name"=type:data lines in .reg order (Wine enumerates sorted), strings as
// text, other data as hex bytes. Empty when the key is not there.
void AppendKeyTree(HKEY root, const std::string& rootName, const std::wstring& path, std::string& text) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    text += "[" + rootName + "\\" + Utf8FromWide(path) + "]\n";
    std::vector<wchar_t> name(16384);
    std::vector<BYTE> data(1 << 16);
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD size = static_cast<DWORD>(data.size());
        DWORD type = 0;
        if (RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) break;
        const std::wstring valueName(name.data(), nameLength);
        text += valueName.empty() ? "@" : "\"" + Utf8FromWide(valueName) + "\"";
        if (type == REG_SZ || type == REG_EXPAND_SZ) {
            std::wstring value(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t));
            while (!value.empty() && value.back() == L'\0') value.pop_back();
            text += (type == REG_SZ ? "=sz:\"" : "=expand:\"") + Utf8FromWide(value) + "\"\n";
        } else {
            char byte[4];
            text += "=type" + std::to_string(type) + ":";
            for (DWORD b = 0; b < size; ++b) {
                std::snprintf(byte, sizeof byte, b == 0 ? "%02x" : ",%02x", data[b]);
                text += byte;
            }
            text += "\n";
        }
    }
    std::vector<std::wstring> subkeys;
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        if (RegEnumKeyExW(key, i, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        subkeys.emplace_back(name.data(), nameLength);
    }
    RegCloseKey(key);
    text += "\n";
    for (const std::wstring& subkey : subkeys) AppendKeyTree(root, rootName, path + L"\\" + subkey, text);
}

// All compared keys as one text.
std::string ExportComparedKeys() {
    std::string text = kRegHeader;
    for (const char* key : kComparedKeys) {
        const std::string full = key;
        const std::size_t slash = full.find('\\');
        const std::string rootName = full.substr(0, slash);
        const HKEY root = rootName == "HKEY_LOCAL_MACHINE"  ? HKEY_LOCAL_MACHINE
                          : rootName == "HKEY_CURRENT_USER" ? HKEY_CURRENT_USER
                                                            : HKEY_CLASSES_ROOT;
        AppendKeyTree(root, rootName, WideFromUtf8(full.substr(slash + 1)), text);
    }
    return text;
}

// An export as lines that each say where they belong: "[key]" for a key,
// "[key] name=data" for a value.
std::vector<std::string> KeyedLines(const std::string& exported) {
    std::vector<std::string> lines;
    std::istringstream in(exported);
    std::string line;
    std::string key;
    while (std::getline(in, line)) {
        if (line.empty() || line == "Windows Registry Editor Version 5.00") continue;
        if (line[0] == '[') {
            key = line;
            lines.push_back(line);
        } else {
            lines.push_back(key + " " + line);
        }
    }
    return lines;
}

struct Differences {
    std::vector<std::string> onlyRegsvr32;  // in the regsvr32 export, not in the package's
    std::vector<std::string> onlyPackage;
};

Differences Compare(const std::string& regsvr32, const std::string& package) {
    std::vector<std::string> a = KeyedLines(regsvr32);
    std::vector<std::string> b = KeyedLines(package);
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    Differences d;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(d.onlyRegsvr32));
    std::set_difference(b.begin(), b.end(), a.begin(), a.end(), std::back_inserter(d.onlyPackage));
    return d;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// The package msiexec /i installed last, until msiexec /x removes it.
std::string installedPackage;

// msiexec /i or /x of a package, silent, with a verbose log; its exit code.
// The log's end is printed when a run that should succeed fails.
int Msiexec(const std::string& action, const std::string& package, bool expectSuccess = true,
            const std::string& properties = {}) {
    const std::string log = ScratchFilePath("msiexec", ".log");
    const DWORD start = GetTickCount();
    const int exitCode = RunWindowsCommand("msiexec " + action + " " + Quoted(WindowsPath(package)) + " /qn /l*v " +
                                           Quoted(log) + (properties.empty() ? "" : " " + properties));
    std::cout << "msiexec " << action << " " << properties << ": " << GetTickCount() - start << " ms\n";
    if (exitCode == 0 && action == "/i") installedPackage = package;
    if (exitCode == 0 && action == "/x") installedPackage.clear();
    if (exitCode != 0 && expectSuccess) {
        const std::string text = ReadWholeFile(log);
        std::cout << "msiexec " << action << " exited with " << exitCode << "; its log ends:\n"
                  << text.substr(text.size() > 4000 ? text.size() - 4000 : 0) << "\n";
    }
    DeleteFileA(log.c_str());
    return exitCode;
}

// Back to a prefix without the product: neither package installed, no product
// keys, no installed module.
void RemoveProduct() {
    if (!installedPackage.empty()) Msiexec("/x", installedPackage);
    ResetProductRegistry();
    RegDeleteTreeA(HKEY_CLASSES_ROOT, "OVX Application 3700");
    DeleteFileA(kInstalledModule);
    DeleteFileA(kInstalledHost);
    RemoveDirectoryA(kInstallFolder);
    RemoveDirectoryA("C:\\Program Files\\Corvalen");
    ASSERT_EQ(ExportComparedKeys(), kRegHeader);
}

std::string InstallModuleCopyAtThePackagesPath() {
    CreateDirectoryA("C:\\Program Files\\Corvalen", nullptr);
    CreateDirectoryA(kInstallFolder, nullptr);
    EXPECT_TRUE(CopyFileA(WindowsPath(QZ_MODULE_FILE).c_str(), kInstalledModule, FALSE));
    return kInstalledModule;
}

struct Scenario {
    const char* name;
    std::vector<const char*> seeds;                // .reg files of the source tree, imported in order
    bool registeredBefore;                         // regsvr32 registered this version before the installation
    std::vector<const char*> changeBeforeRemoval;  // imported between installation and removal
    // Where the removals differ: keyed lines only regsvr32 /u leaves, and only msiexec /x leaves.
    std::vector<std::string> leftOnlyByRegsvr32;
    std::vector<std::string> leftOnlyByPackage;
};

// Windows Installer removes a key that its removal leaves empty, and every
// empty key above it; the unregistration keeps the product key and the Options key.
const char kEmptyProductKey[] = "[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis]";
const char kEmptyOptionsKey[] = "[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Options]";

const char kDemo[] = "scripts/demo-installation.reg";

// Machine states unlike the one the package was built on: the package must be
// right on each of them.
const Scenario kScenarios[] = {
    {"DemoInstallation", {kDemo}, false, {}, {kEmptyProductKey}, {}},
    {"OtherVersionIn32BitViewElsewhere", {kDemo, "tests/e2e/fixtures/msi_states/other_views.reg"}, false, {},
     {kEmptyProductKey}, {}},
    {"NoOtherVersion", {"tests/e2e/fixtures/msi_states/no_other_version.reg"}, false, {},
     {kEmptyProductKey, kEmptyOptionsKey}, {}},
    {"DirValuesExpandable", {"tests/e2e/fixtures/msi_states/expand_dirs.reg"}, false, {}, {kEmptyProductKey}, {}},
    // Other system versions in both views, other versions of the product, and
    // another application version current at the removal: the shared classes stay.
    {"OtherVersionCurrent", {"tests/e2e/fixtures/documents_seed.reg"}, false,
     {"tests/e2e/fixtures/documents_other_version_current.reg"}, {}, {}},
    {"CurVerWithoutDefault", {"tests/e2e/fixtures/documents_seed.reg"}, false,
     {"tests/e2e/fixtures/msi_states/curver_without_default.reg"}, {}, {}},
    {"OvxfTakenByAnotherProgram", {kDemo}, false, {"tests/e2e/fixtures/msi_states/ovxf_changed.reg"},
     {kEmptyProductKey}, {}},
    {"VerbsOfVersionsNoLongerInstalled", {kDemo, "tests/e2e/fixtures/msi_states/stale_verbs.reg"}, false, {},
     {kEmptyProductKey}, {}},
    {"AlreadyRegisteredByRegsvr32", {"tests/e2e/fixtures/documents_seed.reg"}, true, {}, {}, {}},
};

struct Exports {
    std::string installed;
    std::string removed;
};

void Seed(const Scenario& s) {
    for (const char* seed : s.seeds) ImportRegFixture(seed);
}

void ChangeBeforeRemoval(const Scenario& s) {
    for (const char* change : s.changeBeforeRemoval) ImportRegFixture(change);
}

Exports WithRegsvr32(const Scenario& s) {
    Exports e;
    RemoveProduct();
    Seed(s);
    const std::string dll = InstallModuleCopyAtThePackagesPath();
    if (s.registeredBefore) {
        EXPECT_EQ(RunRegsvr32(dll, false), 0);
    }
    EXPECT_EQ(RunRegsvr32(dll, false), 0);
    e.installed = ExportComparedKeys();
    ChangeBeforeRemoval(s);
    EXPECT_EQ(RunRegsvr32(dll, true), 0);
    e.removed = ExportComparedKeys();
    return e;
}

Exports WithThePackage(const Scenario& s) {
    Exports e;
    RemoveProduct();
    Seed(s);
    if (s.registeredBefore) {
        EXPECT_EQ(RunRegsvr32(InstallModuleCopyAtThePackagesPath(), false), 0);
        DeleteFileA(kInstalledModule);
    }
    EXPECT_EQ(Msiexec("/i", QZ_MSI_PACKAGE), 0);
    // The installed module is the built one.
    EXPECT_EQ(ReadWholeFile(kInstalledModule), ReadWholeFile(WindowsPath(QZ_MODULE_FILE)));
    e.installed = ExportComparedKeys();
    EXPECT_EQ(RunWindowsCommand(Quoted(kInstalledHost) + " check"), kCheckIntact);
    ChangeBeforeRemoval(s);
    EXPECT_EQ(Msiexec("/x", QZ_MSI_PACKAGE), 0);
    for (const char* file : {kInstalledModule, kInstalledHost})
        EXPECT_EQ(GetFileAttributesA(file), INVALID_FILE_ATTRIBUTES) << file << " stayed installed";
    e.removed = ExportComparedKeys();
    return e;
}

std::size_t LineCount(const std::string& text) { return KeyedLines(text).size(); }

class PackageAgainstRegsvr32 : public ::testing::TestWithParam<Scenario> {};

TEST_P(PackageAgainstRegsvr32, InstallsWhatTheRegistrationWritesAndRemovesAllButTheListedKeys) {
    const Scenario& s = GetParam();
    const Exports regsvr32 = WithRegsvr32(s);
    const Exports package = WithThePackage(s);

    const Differences installed = Compare(regsvr32.installed, package.installed);
    std::cout << "[" << s.name << "] installed: " << LineCount(regsvr32.installed) << " lines after regsvr32, "
              << LineCount(package.installed) << " after msiexec /i, "
              << installed.onlyRegsvr32.size() + installed.onlyPackage.size() << " differ\n";
    ASSERT_NE(LineCount(regsvr32.installed), 0u);
    EXPECT_EQ(package.installed, regsvr32.installed);

    const Differences removed = Compare(regsvr32.removed, package.removed);
    std::cout << "[" << s.name << "] removed: " << LineCount(regsvr32.removed) << " lines after regsvr32 /u, "
              << LineCount(package.removed) << " after msiexec /x, "
              << removed.onlyRegsvr32.size() + removed.onlyPackage.size() << " differ\n";
    for (const std::string& line : removed.onlyRegsvr32) std::cout << "  only regsvr32 /u leaves " << line << "\n";
    for (const std::string& line : removed.onlyPackage) std::cout << "  only msiexec /x leaves  " << line << "\n";
    const auto sorted = [](std::vector<std::string> lines) {
        std::sort(lines.begin(), lines.end());
        return lines;
    };
    EXPECT_EQ(removed.onlyRegsvr32, sorted(s.leftOnlyByRegsvr32));
    EXPECT_EQ(removed.onlyPackage, sorted(s.leftOnlyByPackage));
}

INSTANTIATE_TEST_SUITE_P(Scenarios, PackageAgainstRegsvr32, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<Scenario>& info) { return info.param.name; });

// The module's pass fails without the modelling system's directories (and
// writes what it can); the package's installation fails and writes nothing.
TEST(Package, WithoutTheModellingSystemDoesNotInstall) {
    RemoveProduct();
    EXPECT_NE(Msiexec("/i", QZ_MSI_PACKAGE, false), 0);
    EXPECT_EQ(ExportComparedKeys(), kRegHeader);
    EXPECT_EQ(GetFileAttributesA(kInstalledModule), INVALID_FILE_ATTRIBUTES);
}

// The detection rule of a deployment tool and the repair it then runs: a
// value taken away is drift; msiexec's repair of the registry entries mends it.
TEST(Package, DriftIsDetectedByTheInstalledCheckAndRepairedByMsiexec) {
    RemoveProduct();
    ImportRegFixture("tests/e2e/fixtures/documents_seed.reg");
    ASSERT_EQ(Msiexec("/i", QZ_MSI_PACKAGE), 0);
    const std::string installed = ExportComparedKeys();
    ASSERT_EQ(RunWindowsCommand(Quoted(kInstalledHost) + " check"), kCheckIntact);

    ASSERT_EQ(RunWindowsCommand("reg delete \"HKCR\\Orvantis Language\\shell\\Open\\command\" /ve /f"), 0);
    ASSERT_EQ(RunWindowsCommand("reg delete \"HKLM\\Software\\Corvalen\\Orvantis\\38.0\\GUIDefaults\" /f"), 0);
    EXPECT_EQ(RunWindowsCommand(Quoted(kInstalledHost) + " check"), kCheckDrift);

    // A repair of the registry entries, as a deployment tool's remediation runs it.
    EXPECT_EQ(Msiexec("/i", QZ_MSI_PACKAGE, true, "REINSTALL=ALL REINSTALLMODE=omus"), 0);
    EXPECT_EQ(RunWindowsCommand(Quoted(kInstalledHost) + " check"), kCheckIntact);
    EXPECT_EQ(ExportComparedKeys(), installed);
    EXPECT_EQ(Msiexec("/x", QZ_MSI_PACKAGE), 0);
}

// An installation that fails after its registry rows were written (a deferred
// action that the test property makes fail) leaves the registry as it was.
TEST(Package, AFailedInstallationLeavesTheRegistryAsItWas) {
    RemoveProduct();
    ImportRegFixture(kDemo);
    const std::string before = ExportComparedKeys();
    EXPECT_NE(Msiexec("/i", QZ_MSI_PACKAGE, false, "QZ_TEST_FAIL_AFTER_REGISTRY=1"), 0);
    EXPECT_EQ(ExportComparedKeys(), before);
    EXPECT_EQ(GetFileAttributesA(kInstalledModule), INVALID_FILE_ATTRIBUTES);
}

// What the installation removes (the verbs of versions no longer installed,
// RemoveRegistry rows) Wine's rollback does not put back; Windows Installer's
// does. Everything the installation wrote is rolled back here too.
TEST(Package, AFailedInstallationUnderWineLosesOnlyTheKeysItRemoved) {
    RemoveProduct();
    ImportRegFixture(kDemo);
    ImportRegFixture("tests/e2e/fixtures/msi_states/stale_verbs.reg");
    const std::string before = ExportComparedKeys();
    EXPECT_NE(Msiexec("/i", QZ_MSI_PACKAGE, false, "QZ_TEST_FAIL_AFTER_REGISTRY=1"), 0);
    const Differences d = Compare(before, ExportComparedKeys());
    EXPECT_EQ(d.onlyPackage, std::vector<std::string>{}) << "nothing the installation wrote stays";
    // The verbs, and the language key they were all that was left of once the rollback took
    // the installation's values away.
    for (const char* verb : {"[HKEY_CLASSES_ROOT\\Orvantis Language\\shell\\Open Orvantis V7]",
                             "[HKEY_CLASSES_ROOT\\Orvantis Language\\shell\\Open Orvantis V9\\command]"})
        EXPECT_NE(std::find(d.onlyRegsvr32.begin(), d.onlyRegsvr32.end(), verb), d.onlyRegsvr32.end()) << verb;
    for (const std::string& line : d.onlyRegsvr32)
        EXPECT_EQ(line.rfind("[HKEY_CLASSES_ROOT\\Orvantis Language", 0), 0u) << "lost by the rollback: " << line;
}

}  // namespace
}  // namespace qz::test
