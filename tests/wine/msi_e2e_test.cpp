// The package against the module's own registration, under Wine: in this
// program's prefix, every scenario is played twice from the same seeded
// registry, once with regsvr32 of the DLL at the path the package installs it
// to, once with msiexec and the package built from the harvest. The product's
// keys are exported after each step and compared line by line: the
// installations must be equal, the removals may differ only by the keys this
// file lists, each a choice that removes nobody else's data.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/module_e2e.h"
#include "tests/support/windows_commands.h"

namespace qz::test {
namespace {

// Where the package installs the module: Program Files (64-bit), then the
// package's folder. regsvr32 registers a copy at the same path, so that the
// texts that carry the module's path are the same in both exports.
const char kInstallFolder[] = "C:\\Program Files\\Corvalen\\Orvantis 38.0";
const char kInstalledModule[] = "C:\\Program Files\\Corvalen\\Orvantis 38.0\\qzproduct.dll";
// qzreg, installed beside the module for deployment tools: "qzreg.exe check" exits
// 0 while the registration is intact and 6 when it has drifted.
const char kInstalledHost[] = "C:\\Program Files\\Corvalen\\Orvantis 38.0\\qzreg.exe";
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

// The exports of all compared keys as one .reg text.
std::string ExportComparedKeys() {
    std::string text = kRegHeader;
    for (const char* key : kComparedKeys) {
        const std::string exported = ExportKey(key);
        if (exported.empty()) continue;
        EXPECT_EQ(exported.compare(0, sizeof kRegHeader - 1, kRegHeader), 0) << exported;
        text += exported.substr(sizeof kRegHeader - 1);
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
    const int exitCode = RunWindowsCommand("msiexec " + action + " " + Quoted(WindowsPath(package)) + " /qn /l*v " +
                                           Quoted(log) + (properties.empty() ? "" : " " + properties));
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
    const char* package;                 // built from the harvest against the seed
    const char* seed;                    // a .reg file of the source tree
    const char* changeBeforeRemoval;     // imported between installation and removal, or null
    bool removeOtherProduct;             // the other product's Options value goes before the removal
    // Where the removals differ: keyed lines only regsvr32 /u leaves, and only msiexec /x leaves.
    std::vector<std::string> leftOnlyByRegsvr32;
    std::vector<std::string> leftOnlyByPackage;
};

// Windows Installer removes a key that its removal leaves empty, and every
// empty key above it; the unregistration keeps the product key and the Options key.
const char kEmptyProductKey[] = "[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis]";
const char kEmptyOptionsKey[] = "[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Options]";

const Scenario kScenarios[] = {
    // The demo's installation: the system's Dir key and another product under Options.
    {"Installation", QZ_MSI_INSTALLATION_PACKAGE, "scripts/demo-installation.reg", nullptr, false,
     {kEmptyProductKey},
     {}},
    // Other system versions in both registry views and other versions of the
    // product: the versioned Open verbs. This version current, another product left.
    {"ThisVersionCurrent", QZ_MSI_DOCUMENTS_PACKAGE, "tests/e2e/fixtures/documents_seed.reg", nullptr, false, {}, {}},
    // Another application version took CurVer: the shared classes stay.
    {"OtherVersionCurrent", QZ_MSI_DOCUMENTS_PACKAGE, "tests/e2e/fixtures/documents_seed.reg",
     "tests/e2e/fixtures/documents_other_version_current.reg", false, {}, {}},
    // The last product of the modelling system: the unregistration removes the
    // library suffix and type, which the package keeps (it cannot tell whether
    // another product uses them).
    {"LastProduct", QZ_MSI_DOCUMENTS_PACKAGE, "tests/e2e/fixtures/documents_seed.reg", nullptr, true,
     {kEmptyOptionsKey},
     {"[HKEY_CLASSES_ROOT\\.ovxl]",
      "[HKEY_CLASSES_ROOT\\.ovxl] @=\"Tavrin Model Library\"",
      "[HKEY_CLASSES_ROOT\\Tavrin Model Library]",
      "[HKEY_CLASSES_ROOT\\Tavrin Model Library] @=\"Tessaryn Library\"",
      "[HKEY_CLASSES_ROOT\\Tavrin Model Library\\CLSID]",
      "[HKEY_CLASSES_ROOT\\Tavrin Model Library\\CLSID] @=\"{3209ADC4-9264-11D1-B147-00A024F1AC65}\""}},
};

struct Exports {
    std::string installed;
    std::string removed;
};

void ChangeBeforeRemoval(const Scenario& s) {
    if (s.changeBeforeRemoval != nullptr) ImportRegFixture(s.changeBeforeRemoval);
    if (s.removeOtherProduct) {
        ASSERT_EQ(RunWindowsCommand("reg delete \"HKLM\\Software\\Corvalen\\ZURedore\\38.0\\Options\" /v pwk /f"), 0);
    }
}

Exports WithRegsvr32(const Scenario& s) {
    Exports e;
    RemoveProduct();
    ImportRegFixture(s.seed);
    const std::string dll = InstallModuleCopyAtThePackagesPath();
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
    ImportRegFixture(s.seed);
    EXPECT_EQ(Msiexec("/i", s.package), 0);
    // The installed module is the built one.
    EXPECT_EQ(ReadWholeFile(kInstalledModule), ReadWholeFile(WindowsPath(QZ_MODULE_FILE)));
    e.installed = ExportComparedKeys();
    EXPECT_EQ(RunWindowsCommand(Quoted(kInstalledHost) + " check"), kCheckIntact);
    ChangeBeforeRemoval(s);
    EXPECT_EQ(Msiexec("/x", s.package), 0);
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
// writes what it can); the package refuses to install and writes nothing.
TEST(Package, WithoutTheModellingSystemDoesNotInstall) {
    RemoveProduct();
    EXPECT_NE(Msiexec("/i", QZ_MSI_INSTALLATION_PACKAGE, false), 0);
    EXPECT_EQ(ExportComparedKeys(), kRegHeader);
    EXPECT_EQ(GetFileAttributesA(kInstalledModule), INVALID_FILE_ATTRIBUTES);
}

// The detection rule of a deployment tool and the repair it then runs: a
// value taken away is drift; msiexec's repair of the registry entries mends it.
TEST(Package, DriftIsDetectedByTheInstalledCheckAndRepairedByMsiexec) {
    RemoveProduct();
    ImportRegFixture("tests/e2e/fixtures/documents_seed.reg");
    ASSERT_EQ(Msiexec("/i", QZ_MSI_DOCUMENTS_PACKAGE), 0);
    const std::string installed = ExportComparedKeys();
    ASSERT_EQ(RunWindowsCommand(Quoted(kInstalledHost) + " check"), kCheckIntact);

    ASSERT_EQ(RunWindowsCommand("reg delete \"HKCR\\Orvantis Language\\shell\\Open\\command\" /ve /f"), 0);
    ASSERT_EQ(RunWindowsCommand("reg delete \"HKLM\\Software\\Corvalen\\Orvantis\\38.0\\GUIDefaults\" /f"), 0);
    EXPECT_EQ(RunWindowsCommand(Quoted(kInstalledHost) + " check"), kCheckDrift);

    // A repair of the registry entries, as a deployment tool's remediation runs it.
    EXPECT_EQ(Msiexec("/i", QZ_MSI_DOCUMENTS_PACKAGE, true, "REINSTALL=ALL REINSTALLMODE=omu"), 0);
    EXPECT_EQ(RunWindowsCommand(Quoted(kInstalledHost) + " check"), kCheckIntact);
    EXPECT_EQ(ExportComparedKeys(), installed);
    EXPECT_EQ(Msiexec("/x", QZ_MSI_DOCUMENTS_PACKAGE), 0);
}

}  // namespace
}  // namespace qz::test
