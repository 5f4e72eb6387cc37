// The package against the module's own registration, under Wine: one package
// for every machine. In this program's prefix, every machine state of a table
// is played twice from the same seed, once with regsvr32 of the DLL at the path
// the package installs it to, once with msiexec and the package. The product's
// keys are exported after each step and compared line by line: the
// installations must be equal, the removals may differ only by the lines a
// state lists (each one listed in docs/differences.md with its reason). The
// package's life (installation, repair, the next build over the installed one,
// an older build refused, removal, an upgrade and a removal while a running host
// holds the module) is a second table, each step against the same regsvr32 twin; the package of the next product version beside this one
// is a third (its own CTest test, which builds that version first).
#include <gtest/gtest.h>
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "product_version.h"
#include "tests/support/module_e2e.h"
#include "tests/support/product_identity.h"
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
// neighbours a scenario seeds (another application version, the 32-bit view),
// for this product version and the next one. Windows Installer's own
// bookkeeping lies elsewhere and is not compared; nor is the package's own key,
// HKLM\Software\Corvalen\Installations (the folder it remembers), which the
// folder test checks.
std::string ApplicationProgId(int build) { return "OVX Application " + std::to_string(build) + "0"; }
std::string ApplicationClass(int build) {
    char clsid[64];
    std::snprintf(clsid, sizeof clsid, "CLSID\\{FDE14674-8E3D-%04d-878A-2E97C127D967}", build);
    return clsid;
}

#ifdef QZ_OTHER_VERSION_BUILD
constexpr int kOtherBuild = QZ_OTHER_VERSION_BUILD;
#else
constexpr int kOtherBuild = QZ_VERSION_BUILD + 10;
#endif

std::vector<std::string> ComparedKeys() {
    // The product's keys (the 32-bit view too: a scenario seeds it), then the versioned ProgId
    // and application class of the other builds a scenario seeds or installs.
    std::vector<std::string> keys;
    for (const ProductKey& key : ProductKeys()) keys.push_back(key.name);
    for (int build : {QZ_VERSION_BUILD - 10, kOtherBuild}) {
        keys.push_back("HKEY_CLASSES_ROOT\\" + ApplicationProgId(build));
        keys.push_back("HKEY_CLASSES_ROOT\\" + ApplicationClass(build));
    }
    return keys;
}

// The package's own key: where it remembers the folder it was installed to.
const char kPackageKey[] = "Software\\Corvalen\\Installations";

// A string value of HKLM in the 64-bit view; empty when it is not there.
std::string ReadMachineString(const std::string& key, const char* name) {
    wchar_t data[4096] = {};
    DWORD size = sizeof data;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, WideFromUtf8(key).c_str(), WideFromUtf8(name).c_str(),
                     RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, data, &size) != ERROR_SUCCESS)
        return {};
    return Utf8FromWide(data);
}

const char kRegHeader[] = "Windows Registry Editor Version 5.00\n\n";

// One key and everything below it, read in this process (a reg export per key
// and snapshot made the table of states take minutes): "[key]" lines and
// "name"=type:data lines in .reg order (Wine enumerates sorted), strings as
// text, other data as hex bytes. Empty when the key is not there.
void AppendKeyTree(HKEY root, const std::string& rootName, const std::wstring& path, std::string& text) {
    if (root == HKEY_LOCAL_MACHINE && lstrcmpiW(path.c_str(), WideFromUtf8(kPackageKey).c_str()) == 0) return;
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
    for (const std::string& full : ComparedKeys()) {
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

// msiexec's success when a file in use is replaced or deleted at the next restart.
constexpr int kRestartRequired = 3010;

// ---- a running host that holds the module, and the restart ---------------------

// The stand-in for the modelling application (tests/hook_host/qz_module_holder.cpp)
// while it holds the installed module; null when none runs.
HANDLE moduleHolder = nullptr;

// Starts the stand-in host on the installed module and waits until it has loaded it.
void HoldModule() {
    const std::string ready = ScratchFilePath("holder", ".ready");
    std::wstring command = WideFromUtf8("\"" + WindowsPath(QZ_MODULE_HOLDER_FILE) + "\" \"" + kInstalledModule +
                                        "\" \"" + ready + "\"");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                               &startup, &process));
    CloseHandle(process.hThread);
    moduleHolder = process.hProcess;
    for (int i = 0; i < 200 && GetFileAttributesA(ready.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) {
        ASSERT_EQ(WaitForSingleObject(moduleHolder, 50), static_cast<DWORD>(WAIT_TIMEOUT)) << "the host could not load "
                                                                                           << kInstalledModule;
    }
    ASSERT_NE(GetFileAttributesA(ready.c_str()), INVALID_FILE_ATTRIBUTES) << "the host did not load the module";
    DeleteFileA(ready.c_str());
}

// The machine restarts: the host ends with the session, and Wine's boot does
// what was scheduled for the restart (PendingFileRenameOperations).
void Restart() {
    if (moduleHolder != nullptr) {
        TerminateProcess(moduleHolder, 0);
        WaitForSingleObject(moduleHolder, 10000);
        CloseHandle(moduleHolder);
        moduleHolder = nullptr;
    }
    EXPECT_EQ(RunWindowsCommand("wineboot.exe -r"), 0);
}

const char kSessionManager[] = "System\\CurrentControlSet\\Control\\Session Manager";

// The file operations waiting for the restart, as "source -> target" lines
// ("-> (delete)" for a deletion), without the \??\ prefixes.
std::vector<std::string> PendingRenames() {
    std::vector<std::string> lines;
    std::vector<wchar_t> data(1 << 16);
    DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_LOCAL_MACHINE, WideFromUtf8(kSessionManager).c_str(), L"PendingFileRenameOperations",
                     RRF_RT_REG_MULTI_SZ, nullptr, data.data(), &size) != ERROR_SUCCESS)
        return lines;
    std::vector<std::string> names;
    for (const wchar_t* at = data.data(); at < data.data() + size / sizeof(wchar_t); at += wcslen(at) + 1) {
        std::string name = Utf8FromWide(at);
        if (name.rfind("\\??\\", 0) == 0) name.erase(0, 4);
        names.push_back(name);
    }
    for (std::size_t i = 0; i + 1 < names.size(); i += 2) {
        if (names[i].empty() && names[i + 1].empty()) break;
        lines.push_back(names[i] + " -> " + (names[i + 1].empty() ? "(delete)" : names[i + 1]));
    }
    return lines;
}


// msiexec /i or /x of a package, silent, with a verbose log; its exit code.
// The log's end is printed when a run that should succeed fails.
int Msiexec(const std::string& action, const std::string& package, bool expectSuccess = true,
            const std::string& properties = {}) {
    const std::string log = ScratchFilePath("msiexec", ".log");
    const DWORD start = GetTickCount();
    const int exitCode = RunWindowsCommand("msiexec " + action + " " + Quoted(WindowsPath(package)) + " /qn /l*v " +
                                           Quoted(log) + (properties.empty() ? "" : " " + properties));
    std::cout << "msiexec " << action << " " << properties << ": exit " << exitCode << ", " << GetTickCount() - start
              << " ms\n";
    const bool succeeded = exitCode == 0 || exitCode == kRestartRequired;
    if (succeeded && action == "/i") installedPackage = package;
    if (succeeded && action == "/x") installedPackage.clear();
    if (!succeeded && expectSuccess) {
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
    if (moduleHolder != nullptr) Restart();
    if (!installedPackage.empty()) Msiexec("/x", installedPackage);
    ResetProductRegistry();
    for (int build : {QZ_VERSION_BUILD - 10, kOtherBuild}) {
        RegDeleteTreeA(HKEY_CLASSES_ROOT, ApplicationProgId(build).c_str());
        RegDeleteTreeA(HKEY_CLASSES_ROOT, ApplicationClass(build).c_str());
    }
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
const std::string kEmptyOptionsKey = "[" + std::string(kSystemOptionsKey) + "]";

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

// The detection lines of docs/deployment.md, run as printed (cmd.exe, as a prompt runs them): the
// package's key names this build, and the for /f line runs the installed qzreg.exe check, 0 while
// intact and 6 after drift. The codes the document gives are this build's.
TEST(Package, TheDeploymentDocsDetectionLinesWorkAsPrinted) {
    const std::string docs = ReadWholeFile(WindowsPath(std::string(QZ_SOURCE_DIR) + "/docs/deployment.md"));
    const auto printedLine = [&](const std::string& start) {
        const std::size_t at = docs.find("\n  " + start);
        if (at == std::string::npos) return std::string();
        return docs.substr(at + 3, docs.find('\n', at + 3) - at - 3);
    };
    const std::string versionQuery = printedLine("reg query ");
    const std::string check = printedLine("for /f ");
    ASSERT_FALSE(versionQuery.empty());
    ASSERT_FALSE(check.empty());
    EXPECT_NE(docs.find(QZ_MSI_UPGRADE_CODE), std::string::npos) << "the document's UpgradeCode is not this build's";
    EXPECT_NE(docs.find(QZ_MSI_ACTIVE_SETUP_CODE), std::string::npos) << "the document's Active Setup entry is not this build's";

    RemoveProduct();
    ImportRegFixture(kDemo);
    ASSERT_EQ(Msiexec("/i", QZ_MSI_PACKAGE), 0);
    const std::string out = ScratchFilePath("detection", ".txt");
    EXPECT_EQ(RunWindowsCommand("cmd.exe /d /c " + versionQuery, out), 0) << versionQuery;
    EXPECT_NE(ReadWholeFile(out).find("ProductVersion    REG_SZ    " QZ_MSI_PRODUCT_VERSION), std::string::npos)
        << ReadWholeFile(out);
    const std::string errors = ScratchFilePath("detection", ".err");
    EXPECT_EQ(RunWindowsCommand("cmd.exe /d /c " + check, out, errors), kCheckIntact) << check;
    EXPECT_NE(ReadWholeFile(out).find("The registration is intact"), std::string::npos) << ReadWholeFile(out);
    EXPECT_EQ(ReadWholeFile(errors), "") << "the line runs something else too";
    DeleteFileA(errors.c_str());
    ASSERT_EQ(RunWindowsCommand("reg delete \"HKLM\\Software\\Corvalen\\Orvantis\\" QZ_VERSION_TEXT "\\GUIDefaults\" /f"), 0);
    EXPECT_EQ(RunWindowsCommand("cmd.exe /d /c " + check, out), kCheckDrift) << check;
    DeleteFileA(out.c_str());
    EXPECT_EQ(Msiexec("/x", QZ_MSI_PACKAGE), 0);
}

// An installation that fails after its registry rows were written leaves the
// registry as it was. The product has no test hook: the rollback package is a
// copy of the package with a failing deferred action after WriteRegistryValues
// (cmake/msi.cmake adds it with msibuild).
TEST(Package, AFailedInstallationLeavesTheRegistryAsItWas) {
    RemoveProduct();
    ImportRegFixture(kDemo);
    const std::string before = ExportComparedKeys();
    EXPECT_NE(Msiexec("/i", QZ_MSI_ROLLBACK_PACKAGE, false), 0);
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
    EXPECT_NE(Msiexec("/i", QZ_MSI_ROLLBACK_PACKAGE, false), 0);
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


// ---- the package's life, each step against a regsvr32 twin ------------------------------

// The products of this version's UpgradeCode that Windows Installer knows, by version.
std::vector<std::string> InstalledBuilds() {
    std::vector<std::string> versions;
    char product[39];
    for (DWORD i = 0; MsiEnumRelatedProductsA(QZ_MSI_UPGRADE_CODE, 0, i, product) == ERROR_SUCCESS; ++i) {
        char version[64];
        DWORD size = sizeof version;
        versions.push_back(MsiGetProductInfoA(product, "VersionString", version, &size) == ERROR_SUCCESS
                               ? version
                               : std::string("(no version) ") + product);
    }
    return versions;
}

// What a step does to the machine, with regsvr32 on the twin or msiexec with the package.
enum class Op {
    Regsvr32,               // this build's module at the package's path, registered
    Regsvr32NextBuild,      // the next build's module over it, registered
    Regsvr32Unregister,     // regsvr32 /u of the module at the package's path
    Drift,                  // a value and a key of the registration taken away
    Install,                // msiexec /i of this build
    InstallLeavingHeldFiles,  // msiexec /i of this build without QzScheduleHeldFiles (as builds before it)
    InstallNextBuild,       // msiexec /i of the next build, over whatever is installed
    InstallOlderBuild,      // msiexec /i of the build before this one: refused
    InstallSameBuildOfAnotherCommit,  // msiexec /i of another commit's package with this build's number: refused
    Repair,                 // REINSTALL=ALL REINSTALLMODE=omus
    Remove,                 // msiexec /x of what is installed
    HoldModule,             // a stand-in host loads the installed module and keeps it (no-op on the twin)
    Restart,                // the host ends, the machine restarts (wineboot -r)
};

// An installation the package must refuse: exit 1603, and the module, the product's keys and the
// installed builds as they were.
void Refused(const char* package, const char* why) {
    const std::string module = ReadWholeFile(kInstalledModule);
    const std::string registry = ExportComparedKeys();
    const std::vector<std::string> builds = InstalledBuilds();
    EXPECT_EQ(Msiexec("/i", package, false), 1603) << why;
    EXPECT_EQ(ReadWholeFile(kInstalledModule), module) << why << ": the module changed";
    EXPECT_EQ(ExportComparedKeys(), registry) << why << ": the registry changed";
    EXPECT_EQ(InstalledBuilds(), builds) << why;
}

// The next build's package while a host holds the module: the next build's module at once (0),
// or staged by the installer for the restart (3010); never 0 with the old module kept.
void InstallNextBuildOverAHeldModule() {
    const int exitCode = Msiexec("/i", QZ_MSI_NEXT_PACKAGE);
    const std::string next = ReadWholeFile(WindowsPath(QZ_MSI_NEXT_MODULE));
    if (exitCode == 0) {
        EXPECT_EQ(ReadWholeFile(kInstalledModule), next) << "exit 0, and the held module is not the next build's";
        return;
    }
    ASSERT_EQ(exitCode, kRestartRequired);
    const std::vector<std::string> pending = PendingRenames();
    EXPECT_TRUE(std::any_of(pending.begin(), pending.end(), [](const std::string& line) {
        return line.size() > sizeof kInstalledModule && line.compare(line.size() - (sizeof kInstalledModule - 1),
                                                                      std::string::npos, kInstalledModule) == 0 &&
               line.find(" -> (delete)") == std::string::npos;
    })) << "exit 3010, and nothing is staged to become " << kInstalledModule;
}

// Removal while a host holds the module: 0 with the module gone, or 3010 with it gone from its
// path or scheduled for deletion at the restart.
void RemoveWhileHeld() {
    const int exitCode = Msiexec("/x", installedPackage);
    const bool there = GetFileAttributesA(kInstalledModule) != INVALID_FILE_ATTRIBUTES;
    if (exitCode == 0) {
        EXPECT_FALSE(there) << "exit 0, and the held module stayed";
        return;
    }
    ASSERT_EQ(exitCode, kRestartRequired);
    const std::vector<std::string> pending = PendingRenames();
    const std::string folder = std::string(kInstallFolder) + "\\";
    EXPECT_TRUE(std::any_of(pending.begin(), pending.end(), [&](const std::string& line) {
        return line.rfind(there ? std::string(kInstalledModule) : folder, 0) == 0 &&
               line.find(" -> (delete)") != std::string::npos;
    })) << "exit 3010, and no deletion of the module is scheduled";
}

void Drift() {
    ASSERT_EQ(RunWindowsCommand("reg delete \"HKCR\\Orvantis Language\\shell\\Open\\command\" /ve /f"), 0);
    ASSERT_EQ(RunWindowsCommand("reg delete \"HKLM\\Software\\Corvalen\\Orvantis\\" QZ_VERSION_TEXT "\\GUIDefaults\" /f"), 0);
    // The installed check sees it (the twin has no qzreg.exe).
    if (GetFileAttributesA(kInstalledHost) != INVALID_FILE_ATTRIBUTES) {
        EXPECT_EQ(RunWindowsCommand(Quoted(kInstalledHost) + " check"), kCheckDrift);
    }
}

void Play(Op op) {
    switch (op) {
        case Op::Regsvr32: EXPECT_EQ(RunRegsvr32(InstallModuleCopyAtThePackagesPath(), false), 0); break;
        case Op::Regsvr32NextBuild:
            ASSERT_TRUE(CopyFileA(WindowsPath(QZ_MSI_NEXT_MODULE).c_str(), kInstalledModule, FALSE));
            EXPECT_EQ(RunRegsvr32(kInstalledModule, false), 0);
            break;
        case Op::Regsvr32Unregister: EXPECT_EQ(RunRegsvr32(kInstalledModule, true), 0); break;
        case Op::Drift: Drift(); break;
        case Op::Install: EXPECT_EQ(Msiexec("/i", QZ_MSI_PACKAGE), 0); break;
        case Op::InstallLeavingHeldFiles: EXPECT_EQ(Msiexec("/i", QZ_MSI_LEAVES_HELD_PACKAGE), 0); break;
        case Op::InstallNextBuild:
            if (moduleHolder != nullptr)
                InstallNextBuildOverAHeldModule();
            else
                EXPECT_EQ(Msiexec("/i", QZ_MSI_NEXT_PACKAGE), 0);
            break;
        case Op::InstallOlderBuild: Refused(QZ_MSI_OLDER_PACKAGE, "the older build"); break;
        case Op::InstallSameBuildOfAnotherCommit: Refused(QZ_MSI_SAME_BUILD_PACKAGE, "another commit's build"); break;
        case Op::Repair: EXPECT_EQ(Msiexec("/i", installedPackage, true, "REINSTALL=ALL REINSTALLMODE=omus"), 0); break;
        case Op::Remove:
            if (moduleHolder != nullptr)
                RemoveWhileHeld();
            else
                EXPECT_EQ(Msiexec("/x", installedPackage), 0);
            break;
        case Op::HoldModule: HoldModule(); break;
        case Op::Restart:
            Restart();
            EXPECT_EQ(PendingRenames(), std::vector<std::string>{}) << "the restart left work undone";
            break;
    }
}

struct LifeStep {
    const char* name;
    std::vector<Op> twin;     // with regsvr32
    std::vector<Op> package;  // with msiexec
    // After the package's steps: the versions Windows Installer lists (none after a removal),
    // and the module file installed (empty: none).
    std::vector<std::string> installedBuilds;
    const char* installedModule;
    // Keyed lines only the twin has (a removal: the keys regsvr32 /u keeps empty).
    std::vector<std::string> onlyTwin;
};

const char kThisBuildModule[] = QZ_MODULE_FILE;
const char kNextBuildModule[] = QZ_MSI_NEXT_MODULE;

const LifeStep kLife[] = {
    {"Install", {Op::Regsvr32}, {Op::Install}, {QZ_MSI_PRODUCT_VERSION}, kThisBuildModule, {}},
    {"InstallOverARegsvr32Registration", {Op::Regsvr32, Op::Regsvr32}, {Op::Regsvr32, Op::Install},
     {QZ_MSI_PRODUCT_VERSION}, kThisBuildModule, {}},
    {"RepairAfterDrift", {Op::Regsvr32, Op::Drift, Op::Regsvr32}, {Op::Install, Op::Drift, Op::Repair},
     {QZ_MSI_PRODUCT_VERSION}, kThisBuildModule, {}},
    {"NextBuildOverTheInstalledOne", {Op::Regsvr32, Op::Regsvr32NextBuild}, {Op::Install, Op::InstallNextBuild},
     {QZ_MSI_NEXT_PRODUCT_VERSION}, kNextBuildModule, {}},
    {"OlderBuildRefused", {Op::Regsvr32}, {Op::Install, Op::InstallOlderBuild}, {QZ_MSI_PRODUCT_VERSION},
     kThisBuildModule, {}},
    {"SameBuildOfAnotherCommitRefused", {Op::Regsvr32}, {Op::Install, Op::InstallSameBuildOfAnotherCommit},
     {QZ_MSI_PRODUCT_VERSION}, kThisBuildModule, {}},
    {"NextBuildWhileAHostHoldsTheModule", {Op::Regsvr32, Op::Regsvr32NextBuild},
     {Op::Install, Op::HoldModule, Op::InstallNextBuild, Op::Restart}, {QZ_MSI_NEXT_PRODUCT_VERSION},
     kNextBuildModule, {}},
    // The installed build's removal leaves the held module in place: the next build's module,
    // newer by the File table's version, is staged for the restart.
    {"NextBuildOverAHeldModuleTheRemovalLeft", {Op::Regsvr32, Op::Regsvr32NextBuild},
     {Op::InstallLeavingHeldFiles, Op::HoldModule, Op::InstallNextBuild, Op::Restart}, {QZ_MSI_NEXT_PRODUCT_VERSION},
     kNextBuildModule, {}},
    {"Removal", {Op::Regsvr32, Op::Regsvr32Unregister}, {Op::Install, Op::Remove}, {}, nullptr, {kEmptyProductKey}},
    {"RemovalOfTheNextBuild", {Op::Regsvr32, Op::Regsvr32NextBuild, Op::Regsvr32Unregister},
     {Op::Install, Op::InstallNextBuild, Op::Remove}, {}, nullptr, {kEmptyProductKey}},
    {"RemovalWhileAHostHoldsTheModule", {Op::Regsvr32, Op::Regsvr32Unregister},
     {Op::Install, Op::HoldModule, Op::Remove, Op::Restart}, {}, nullptr, {kEmptyProductKey}},
};

class PackageLife : public ::testing::TestWithParam<LifeStep> {};

TEST_P(PackageLife, EachStepLeavesWhatRegsvr32LeavesOnATwin) {
    const LifeStep& step = GetParam();
    if (std::string(QZ_MSI_OLDER_PACKAGE).empty() &&
        std::find(step.package.begin(), step.package.end(), Op::InstallOlderBuild) != step.package.end())
        GTEST_SKIP() << "build number 0 has no older build";
    RemoveProduct();
    ImportRegFixture(kDemo);
    for (Op op : step.twin) Play(op);
    const std::string twin = ExportComparedKeys();

    RemoveProduct();
    ImportRegFixture(kDemo);
    for (Op op : step.package) {
        Play(op);
        const bool installed = GetFileAttributesA(kInstalledHost) != INVALID_FILE_ATTRIBUTES;
        if (op == Op::Install || op == Op::InstallLeavingHeldFiles || op == Op::InstallNextBuild || op == Op::InstallOlderBuild ||
            op == Op::InstallSameBuildOfAnotherCommit || op == Op::Repair || (op == Op::Restart && installed)) {
            EXPECT_EQ(RunWindowsCommand(Quoted(kInstalledHost) + " check"), kCheckIntact) << "after step " << int(op);
        }
    }
    const std::string package = ExportComparedKeys();

    EXPECT_EQ(InstalledBuilds(), step.installedBuilds);
    if (step.installedModule != nullptr) {
        EXPECT_EQ(ReadWholeFile(kInstalledModule), ReadWholeFile(WindowsPath(step.installedModule)));
    } else {
        for (const char* file : {kInstalledModule, kInstalledHost})
            EXPECT_EQ(GetFileAttributesA(file), INVALID_FILE_ATTRIBUTES) << file << " stayed installed";
    }
    const Differences d = Compare(twin, package);
    std::cout << "[" << step.name << "] " << LineCount(twin) << " lines on the twin, " << LineCount(package)
              << " with the package\n";
    for (const std::string& line : d.onlyRegsvr32) std::cout << "  only the twin has " << line << "\n";
    for (const std::string& line : d.onlyPackage) std::cout << "  only the package leaves " << line << "\n";
    std::vector<std::string> onlyTwin = step.onlyTwin;
    std::sort(onlyTwin.begin(), onlyTwin.end());
    EXPECT_EQ(d.onlyRegsvr32, onlyTwin);
    EXPECT_EQ(d.onlyPackage, std::vector<std::string>{});
    RemoveProduct();
}

INSTANTIATE_TEST_SUITE_P(Steps, PackageLife, ::testing::ValuesIn(kLife),
                         [](const ::testing::TestParamInfo<LifeStep>& info) { return info.param.name; });

// A folder the administrator chose: the package remembers it, and repair, the next build and
// removal all find the installation there.
TEST(Package, RemembersTheChosenFolderThroughRepairUpgradeAndRemoval) {
    RemoveProduct();
    ImportRegFixture(kDemo);
    const std::string folder = "C:\\Tools\\Orv";
    const std::string module = folder + "\\qzproduct.dll";
    ASSERT_EQ(Msiexec("/i", QZ_MSI_PACKAGE, true, "INSTALLFOLDER=" + Quoted(folder)), 0);
    const auto installedThere = [&](const char* when) {
        EXPECT_NE(GetFileAttributesA(module.c_str()), INVALID_FILE_ATTRIBUTES) << when;
        EXPECT_EQ(GetFileAttributesA(kInstalledModule), INVALID_FILE_ATTRIBUTES) << when;
        EXPECT_NE(ExportComparedKeys().find(module), std::string::npos) << when << ": the registration names "
                                                                        << module;
        EXPECT_EQ(RunWindowsCommand(Quoted(folder + "\\qzreg.exe") + " check"), kCheckIntact) << when;
    };
    installedThere("installed");
    EXPECT_EQ(Msiexec("/i", QZ_MSI_PACKAGE, true, "REINSTALL=ALL REINSTALLMODE=omus"), 0);
    installedThere("repaired");
    EXPECT_EQ(Msiexec("/i", QZ_MSI_NEXT_PACKAGE), 0);
    installedThere("upgraded");
    EXPECT_EQ(ReadWholeFile(module), ReadWholeFile(WindowsPath(QZ_MSI_NEXT_MODULE)));
    // Builds told apart: the package's own key records the installed build beside the folder, and
    // the Uninstall entry names the folder.
    EXPECT_EQ(ReadMachineString(kPackageKey + std::string("\\Orvantis " QZ_VERSION_TEXT), "ProductVersion"),
              QZ_MSI_NEXT_PRODUCT_VERSION);
    char product[39];
    ASSERT_EQ(MsiEnumRelatedProductsA(QZ_MSI_UPGRADE_CODE, 0, 0, product), ERROR_SUCCESS);
    EXPECT_EQ(ReadMachineString(std::string("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + product,
                                "InstallLocation"),
              folder + "\\");
    EXPECT_EQ(Msiexec("/x", QZ_MSI_NEXT_PACKAGE), 0);
    EXPECT_EQ(GetFileAttributesA(module.c_str()), INVALID_FILE_ATTRIBUTES);
    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPackageKey, 0, KEY_READ | KEY_WOW64_64KEY, &key), ERROR_SUCCESS)
        << "the package's own key stayed";
    RemoveDirectoryA(folder.c_str());
    RemoveDirectoryA("C:\\Tools");
}

// Every user's part of the registration at logon: the Active Setup entry's StubPath, run as a
// logon runs it (Wine runs no Active Setup), writes under HKEY_CURRENT_USER exactly what
// regsvr32's registration writes there, for a user who has nothing and for one whose value
// changed; its Version is this build's; the removal takes the entry away.
TEST(Package, EveryUsersLogonGetsWhatTheRegistrationWritesForTheUser) {
    const std::string userKeys = "Software\\Corvalen";
    RemoveProduct();
    ImportRegFixture(kDemo);
    RegDeleteTreeA(HKEY_CURRENT_USER, userKeys.c_str());
    ASSERT_EQ(RunRegsvr32(InstallModuleCopyAtThePackagesPath(), false), 0);
    std::string registered;
    AppendKeyTree(HKEY_CURRENT_USER, "HKEY_CURRENT_USER", WideFromUtf8(userKeys), registered);
    ASSERT_FALSE(registered.empty());
    ASSERT_EQ(RunRegsvr32(kInstalledModule, true), 0);

    RemoveProduct();
    ImportRegFixture(kDemo);
    ASSERT_EQ(Msiexec("/i", QZ_MSI_PACKAGE), 0);
    const std::string entry = "Software\\Microsoft\\Active Setup\\Installed Components\\" QZ_MSI_ACTIVE_SETUP_CODE;
    EXPECT_EQ(ReadMachineString(entry, "Version"), QZ_MSI_ACTIVE_SETUP_VERSION);
    const std::string stubPath = ReadMachineString(entry, "StubPath");
    std::cout << "StubPath: " << stubPath << "\n";
    ASSERT_FALSE(stubPath.empty());

    struct User {
        const char* name;
        std::function<void()> before;
    };
    const User users[] = {
        {"a user with nothing", [&] { RegDeleteTreeA(HKEY_CURRENT_USER, userKeys.c_str()); }},
        {"a user whose value changed", [] {
             ASSERT_EQ(RunWindowsCommand("reg add \"HKCU\\Software\\Corvalen\\Orvantis\\" QZ_VERSION_TEXT
                                         "\\IniSettings\" /v whatsnew_ovx /t REG_DWORD /d 5 /f"),
                       0);
         }},
    };
    for (const User& user : users) {
        user.before();
        EXPECT_EQ(RunWindowsCommand(stubPath), 0) << user.name;
        std::string logon;
        AppendKeyTree(HKEY_CURRENT_USER, "HKEY_CURRENT_USER", WideFromUtf8(userKeys), logon);
        EXPECT_EQ(logon, registered) << user.name;
    }
    EXPECT_EQ(Msiexec("/x", QZ_MSI_PACKAGE), 0);
    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, entry.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key), ERROR_SUCCESS)
        << "the Active Setup entry stayed";
}

// An install folder on a network share, or a relative one, is refused before anything changes,
// with the reason in the log; the machine has no product afterwards.
TEST(Package, RefusesANetworkOrRelativeFolderBeforeAnythingChanges) {
    struct Folder {
        const char* folder;
        const char* reason;  // in the log
    };
    const Folder folders[] = {
        {"\\\\server\\share\\Orv\\", "is a network folder"},
        {"//server/share/Orv", "is a network folder"},
        {"\\\\?\\UNC\\server\\share\\Orv", "is a network folder"},
        {"Orv", "is a relative folder"},
        {"..\\Orv", "is a relative folder"},
        {"C:Orv", "is a relative folder"},
        {"\\Tools\\Orv", "is a relative folder"},
    };
    RemoveProduct();
    ImportRegFixture(kDemo);
    const std::string before = ExportComparedKeys();
    for (const Folder& f : folders) {
        const std::string log = ScratchFilePath("refused", ".log");
        EXPECT_EQ(RunWindowsCommand("msiexec /i " + Quoted(WindowsPath(QZ_MSI_PACKAGE)) + " /qn /l*v " + Quoted(log) +
                                    " INSTALLFOLDER=" + Quoted(f.folder)),
                  1603)
            << f.folder;
        const std::string text = ReadWholeFile(log);
        EXPECT_NE(text.find("INSTALLFOLDER \"" + std::string(f.folder) + "\" " + f.reason), std::string::npos)
            << f.folder << ": the log does not say why";
        EXPECT_EQ(text.find("RemoveExistingProducts"), std::string::npos) << f.folder << ": refused too late";
        DeleteFileA(log.c_str());
        EXPECT_EQ(ExportComparedKeys(), before) << f.folder;
        EXPECT_EQ(InstalledBuilds(), std::vector<std::string>{}) << f.folder;
    }
}

// The File table states the build in the third field of the product's files' versions, where
// their own version blocks state 0: every build's files are newer than the ones before, so that
// Windows Installer replaces a module a running host holds. qzevents.dll, shared by every
// version, states its own.
TEST(Package, FileTableVersionsStateTheBuild) {
    MSIHANDLE database = 0;
    ASSERT_EQ(MsiOpenDatabaseA(WindowsPath(QZ_MSI_PACKAGE).c_str(), MSIDBOPEN_READONLY, &database), ERROR_SUCCESS);
    const struct {
        const char* file;
        const char* tableVersion;
    } files[] = {{"qzproduct.dll", QZ_MSI_PACKAGE_FILE_VERSION}, {"qzreg.exe", QZ_MSI_PACKAGE_FILE_VERSION},
                 {"qzevents.dll", QZ_MSI_FILE_VERSION}};
    for (const auto& f : files) {
        MSIHANDLE view = 0;
        MSIHANDLE record = 0;
        const std::string query = std::string("SELECT `Version` FROM `File` WHERE `File` = '") + f.file + "'";
        ASSERT_EQ(MsiDatabaseOpenViewA(database, query.c_str(), &view), ERROR_SUCCESS);
        ASSERT_EQ(MsiViewExecute(view, 0), ERROR_SUCCESS);
        ASSERT_EQ(MsiViewFetch(view, &record), ERROR_SUCCESS) << f.file;
        char version[64];
        DWORD size = sizeof version;
        ASSERT_EQ(MsiRecordGetStringA(record, 1, version, &size), ERROR_SUCCESS);
        MsiCloseHandle(record);
        MsiCloseHandle(view);
        EXPECT_EQ(std::string(version), f.tableVersion) << f.file;
        // The file's own version block, read by Windows' version functions: the product's version.
        const std::string path = WindowsPath(std::string(QZ_BINARY_DIR) + "/bin/" + f.file);
        char fileVersion[64] = {};
        DWORD fileSize = sizeof fileVersion;
        EXPECT_EQ(MsiGetFileVersionA(path.c_str(), fileVersion, &fileSize, nullptr, nullptr), ERROR_SUCCESS) << path;
        EXPECT_EQ(std::string(fileVersion), QZ_MSI_FILE_VERSION) << f.file;
    }
    MsiCloseHandle(database);
    // The same file of the next build's package states a higher version.
    ASSERT_EQ(MsiOpenDatabaseA(WindowsPath(QZ_MSI_NEXT_PACKAGE).c_str(), MSIDBOPEN_READONLY, &database), ERROR_SUCCESS);
    MSIHANDLE view = 0;
    MSIHANDLE record = 0;
    ASSERT_EQ(MsiDatabaseOpenViewA(database, "SELECT `Version` FROM `File` WHERE `File` = 'qzproduct.dll'", &view),
              ERROR_SUCCESS);
    ASSERT_EQ(MsiViewExecute(view, 0), ERROR_SUCCESS);
    ASSERT_EQ(MsiViewFetch(view, &record), ERROR_SUCCESS);
    char next[64];
    DWORD size = sizeof next;
    ASSERT_EQ(MsiRecordGetStringA(record, 1, next, &size), ERROR_SUCCESS);
    MsiCloseHandle(record);
    MsiCloseHandle(view);
    MsiCloseHandle(database);
    int a[4] = {}, b[4] = {};
    ASSERT_EQ(std::sscanf(next, "%d.%d.%d.%d", &a[0], &a[1], &a[2], &a[3]), 4);
    ASSERT_EQ(std::sscanf(QZ_MSI_PACKAGE_FILE_VERSION, "%d.%d.%d.%d", &b[0], &b[1], &b[2], &b[3]), 4);
    EXPECT_TRUE(std::lexicographical_compare(b, b + 4, a, a + 4)) << next << " is not above " << QZ_MSI_PACKAGE_FILE_VERSION;
}


// ---- the package of the next product version beside this version's ------------------------
// Run by its own CTest test (msi_other_version_test), after a second build folder made the
// other version's package and module; it names that folder in QZ_OTHER_VERSION_DIR. Everything
// about the other version is read from that build's own product_version.h.

struct OtherVersion {
    std::string dir;      // the other build folder (Unix path)
    std::string text;     // "39.0"
    std::string label;    // "V13"
    int build = 0;        // 390
    std::string folder;   // where its package installs
    std::string module;   // its module there
};

std::string DefinedText(const std::string& header, const std::string& name) {
    const std::string line = "#define " + name + " ";
    const std::size_t at = header.find(line);
    if (at == std::string::npos) return {};
    std::string value = header.substr(at + line.size(), header.find('\n', at) - at - line.size());
    if (!value.empty() && value.front() == '"') value = value.substr(1, value.size() - 2);
    return value;
}

OtherVersion ReadOtherVersion() {
    OtherVersion other;
    const char* dir = std::getenv("QZ_OTHER_VERSION_DIR");
    if (dir == nullptr) return other;
    other.dir = dir;
    const std::string header = ReadWholeFile(WindowsPath(other.dir + "/generated/product_version.h"));
    other.text = DefinedText(header, "QZ_VERSION_TEXT");
    other.label = DefinedText(header, "QZ_VERSION_LABEL");
    other.build = std::atoi(DefinedText(header, "QZ_VERSION_BUILD").c_str());
    other.folder = "C:\\Program Files\\Corvalen\\Orvantis " + other.text;
    other.module = other.folder + "\\qzproduct.dll";
    return other;
}

// The modelling system of the other version beside this one's: its Dir key.
void SeedOtherSystemVersion(const OtherVersion& other) {
    const std::string key = "HKLM\\Software\\Corvalen\\ZURedore\\" + other.text + "\\Dir";
    for (const char* directory : {"bin", "help", "lib"})
        ASSERT_EQ(RunWindowsCommand("reg add " + Quoted(key) + " /v " + directory + " /d " +
                                    Quoted("C:\\Program Files\\Corvalen\\ZURedore " + other.label + "\\" + directory) +
                                    " /f /reg:64"),
                  0);
}

TEST(OtherVersion, InstallsAndRemovesBesideThisVersionAsRegsvr32Does) {
    const OtherVersion other = ReadOtherVersion();
    if (other.dir.empty()) GTEST_SKIP() << "run by msi_other_version_test, which builds the other version first";
    ASSERT_EQ(other.build, kOtherBuild) << "the other version's build number is this one's plus 10";
    const std::string otherPackage = other.dir + "/bin/qzproduct.msi";
    const auto seed = [&] {
        RemoveProduct();
        ImportRegFixture(kDemo);
        SeedOtherSystemVersion(other);
        ASSERT_EQ(Msiexec("/i", QZ_MSI_PACKAGE), 0);
    };

    // The twin: this version's package, then regsvr32 of the other version's module where its
    // package would put it.
    seed();
    CreateDirectoryA(other.folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(WindowsPath(other.dir + "/bin/qzproduct.dll").c_str(), other.module.c_str(), FALSE));
    ASSERT_EQ(RunRegsvr32(other.module, false), 0);
    const std::string twinInstalled = ExportComparedKeys();
    ASSERT_EQ(RunRegsvr32(other.module, true), 0);
    const std::string twinRemoved = ExportComparedKeys();
    DeleteFileA(other.module.c_str());
    RemoveDirectoryA(other.folder.c_str());

    // The package of the other version, installed and removed beside this version's.
    seed();
    const std::string before = ExportComparedKeys();
    ASSERT_EQ(Msiexec("/i", otherPackage), 0);
    const std::string installed = ExportComparedKeys();
    EXPECT_EQ(RunWindowsCommand(Quoted(other.folder + "\\qzreg.exe") + " check"), kCheckIntact);
    // This version's registration beside the other, now current, version's: intact too, although the
    // classes the versions share hold the other version's module.
    EXPECT_EQ(RunWindowsCommand(Quoted(kInstalledHost) + " check"), kCheckIntact);
    ASSERT_EQ(Msiexec("/x", otherPackage), 0);
    const std::string removed = ExportComparedKeys();
    installedPackage = QZ_MSI_PACKAGE;

    EXPECT_EQ(installed, twinInstalled);
    // Windows Installer removes the key its removal empties (docs/differences.md): the other
    // system version's Options key, which held only the product's value.
    const Differences d = Compare(twinRemoved, removed);
    EXPECT_EQ(d.onlyRegsvr32,
              std::vector<std::string>{"[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\" + other.text + "\\Options]"});
    EXPECT_EQ(d.onlyPackage, std::vector<std::string>{});
    // Nothing of the other version is left but the user's own switch, which regsvr32 /u keeps too.
    char clsidPart[16];
    std::snprintf(clsidPart, sizeof clsidPart, "-%04d-", other.build);
    for (const std::string& line : KeyedLines(removed)) {
        if (line.rfind("[HKEY_CURRENT_USER\\Software\\Corvalen\\Orvantis\\" + other.text + "]", 0) == 0 ||
            line.rfind("[HKEY_CURRENT_USER\\Software\\Corvalen\\Orvantis\\" + other.text + "\\", 0) == 0)
            continue;
        for (const std::string& trace : {"Orvantis\\" + other.text, ApplicationProgId(other.build),
                                         std::string(clsidPart), "Orvantis " + other.label})
            EXPECT_EQ(line.find(trace), std::string::npos) << "left of " << other.text << ": " << line;
    }
    // Everything that is this version's own is as it was.
    const auto own = [](const std::string& exported) {
        std::vector<std::string> lines;
        for (const std::string& line : KeyedLines(exported)) {
            const std::string key = line.substr(0, line.find(']') + 1);
            if (key.find("Orvantis\\" QZ_VERSION_TEXT) != std::string::npos ||
                key.find(ApplicationProgId(QZ_VERSION_BUILD)) != std::string::npos ||
                key.find(ApplicationClass(QZ_VERSION_BUILD).substr(6)) != std::string::npos ||
                line.find("\\Options] \"ovx\"=") != std::string::npos)
                lines.push_back(line);
        }
        return lines;
    };
    EXPECT_FALSE(own(before).empty());
    EXPECT_EQ(own(removed), own(before));
}


// ---- what the requesting user can write steers nothing the package writes ----------------
// The package's action runs as the user who started the installation, and what it computes
// is written for every user of the machine. Each case plants what that user, or a program of
// theirs, could write, and the package must write what regsvr32 writes on a twin without it,
// or stop and say why.

const char kSystemDirKey[] = "Software\\Corvalen\\ZURedore\\" QZ_VERSION_TEXT "\\Dir";
const char kMachineEnvironmentKey[] = "System\\CurrentControlSet\\Control\\Session Manager\\Environment";
const char kLanguageKey[] = "Software\\Classes\\Orvantis Language";

void SetText(HKEY root, const std::string& key, const std::string& name, DWORD type, const std::string& text) {
    HKEY opened = nullptr;
    ASSERT_EQ(RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &opened,
                              nullptr),
              ERROR_SUCCESS)
        << key;
    EXPECT_EQ(RegSetValueExA(opened, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>(text.size() + 1)),
              ERROR_SUCCESS)
        << key << " " << name;
    RegCloseKey(opened);
}

void DeleteValue(HKEY root, const std::string& key, const std::string& name) {
    HKEY opened = nullptr;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &opened) != ERROR_SUCCESS) return;
    RegDeleteValueA(opened, name.c_str());
    RegCloseKey(opened);
}

// msiexec whose verbose log is kept, as text (Wine writes it in UTF-16 or ANSI: NULs dropped).
int MsiexecKeepingTheLog(const std::string& action, const std::string& package, const std::string& properties,
                         std::string& logText) {
    const std::string log = ScratchFilePath("msiexec", ".log");
    const int exitCode = RunWindowsCommand("msiexec " + action + " " + Quoted(WindowsPath(package)) + " /qn /l*v " +
                                           Quoted(log) + " " + properties);
    logText = ReadWholeFile(log);
    logText.erase(std::remove(logText.begin(), logText.end(), '\0'), logText.end());
    DeleteFileA(log.c_str());
    return exitCode;
}

// The variable the modelling system's expandable directories name, set for the machine,
// and maybe overridden by the user (HKCU\Environment and the environment msiexec starts
// with, as a user's session has it). Everything is taken away again at the end.
class ZuredoreHome {
public:
    ~ZuredoreHome() {
        DeleteValue(HKEY_LOCAL_MACHINE, kMachineEnvironmentKey, kName);
        DeleteValue(HKEY_CURRENT_USER, "Environment", kName);
        SetEnvironmentVariableA(kName, nullptr);
    }
    void SetForTheMachine(const std::string& value) {
        SetText(HKEY_LOCAL_MACHINE, kMachineEnvironmentKey, kName, REG_SZ, value);
    }
    void RemoveForTheMachine() { DeleteValue(HKEY_LOCAL_MACHINE, kMachineEnvironmentKey, kName); }
    void SetForTheUser(const std::string& value) {
        SetText(HKEY_CURRENT_USER, "Environment", kName, REG_SZ, value);
        SetEnvironmentVariableA(kName, value.c_str());
    }
    // The modelling system's directories, each %ZUREDORE_HOME%\name (REG_EXPAND_SZ).
    static void SeedDirectories() {
        RemoveProduct();
        ImportRegFixture("tests/e2e/fixtures/msi_states/expand_dirs.reg");
        for (const char* directory : {"bin", "help", "lib"})
            SetText(HKEY_LOCAL_MACHINE, kSystemDirKey, directory, REG_EXPAND_SZ,
                    std::string("%ZUREDORE_HOME%\\") + directory);
    }

private:
    static constexpr const char* kName = "ZUREDORE_HOME";
};

TEST(PackageOfTheMachine, AUsersVariableDoesNotChooseTheDirectories) {
    const std::string machineHome = "C:\\Program Files\\Corvalen\\ZURedore V12";
    const std::string plantedHome = "C:\\users\\Public\\planted\\ZURedore V12";
    ZuredoreHome home;
    home.SetForTheMachine(machineHome);

    // The twin: regsvr32 in an environment that has the machine's value.
    ZuredoreHome::SeedDirectories();
    ASSERT_TRUE(SetEnvironmentVariableA("ZUREDORE_HOME", machineHome.c_str()));
    ASSERT_EQ(RunRegsvr32(InstallModuleCopyAtThePackagesPath(), false), 0);
    const std::string twin = ExportComparedKeys();
    ASSERT_NE(twin.find(machineHome + "\\bin"), std::string::npos);

    // The package, installed by a user who set the variable to a folder of their own.
    ZuredoreHome::SeedDirectories();
    home.SetForTheUser(plantedHome);
    ASSERT_EQ(Msiexec("/i", QZ_MSI_PACKAGE), 0);
    const std::string installed = ExportComparedKeys();
    EXPECT_EQ(installed, twin);
    EXPECT_EQ(installed.find("planted"), std::string::npos);
    // A repair by the same user, too.
    ASSERT_EQ(Msiexec("/i", QZ_MSI_PACKAGE, true, "REINSTALL=ALL REINSTALLMODE=omus"), 0);
    EXPECT_EQ(ExportComparedKeys(), twin);
    EXPECT_EQ(Msiexec("/x", QZ_MSI_PACKAGE), 0);

    // Where the machine does not set it, the user's value does not stand in: the installation
    // fails as it does without the variable at all, and writes nothing.
    home.RemoveForTheMachine();
    ZuredoreHome::SeedDirectories();
    const std::string before = ExportComparedKeys();
    EXPECT_NE(Msiexec("/i", QZ_MSI_PACKAGE, false), 0);
    EXPECT_EQ(ExportComparedKeys(), before);

    // The planted value does reach what the user starts: the module's own DllRegisterServer,
    // which reads its process's environment as regsvr32 gives it, writes it.
    ASSERT_EQ(RunRegsvr32(InstallModuleCopyAtThePackagesPath(), false), 0);
    EXPECT_NE(ExportComparedKeys().find(plantedHome + "\\bin"), std::string::npos);
    RemoveProduct();
}

// A value named "-" under the language type: the RemoveRegistry table would read its removal as
// the removal of the whole key (the type and its verbs). The repair stops instead, names the
// value in its log, and changes nothing.
TEST(PackageOfTheMachine, AValueNamedMinusStopsTheRepairInsteadOfRemovingTheKey) {
    RemoveProduct();
    ImportRegFixture(kDemo);
    ASSERT_EQ(Msiexec("/i", QZ_MSI_PACKAGE), 0);
    SetText(HKEY_LOCAL_MACHINE, kLanguageKey, "-", REG_SZ, "planted");
    const std::string planted = ExportComparedKeys();
    ASSERT_NE(planted.find("[HKEY_CLASSES_ROOT\\Orvantis Language\\shell\\Open]"), std::string::npos);

    std::string log;
    EXPECT_EQ(MsiexecKeepingTheLog("/i", QZ_MSI_PACKAGE, "REINSTALL=ALL REINSTALLMODE=omus", log), 1603);
    EXPECT_EQ(ExportComparedKeys(), planted) << "the repair changed the registry";
    EXPECT_NE(log.find("Orvantis Language, value \"-\""), std::string::npos)
        << "the log names the value; it ends:\n" << log.substr(log.size() > 3000 ? log.size() - 3000 : 0);

    DeleteValue(HKEY_LOCAL_MACHINE, kLanguageKey, "-");
    RemoveProduct();
}

// A key named {} beside the verbs: formatted text would read it as an empty group, and its
// removal as the removal of the shell key with every verb. The repair takes what regsvr32
// takes on a twin.
TEST(PackageOfTheMachine, AKeyNamedBracesUnderTheVerbsIsRepairedAsRegsvr32RepairsIt) {
    const std::string plantedKey = std::string(kLanguageKey) + "\\shell\\{}";
    RemoveProduct();
    ImportRegFixture(kDemo);
    ASSERT_EQ(RunRegsvr32(InstallModuleCopyAtThePackagesPath(), false), 0);
    SetText(HKEY_LOCAL_MACHINE, plantedKey, "", REG_SZ, "planted");
    ASSERT_EQ(RunRegsvr32(kInstalledModule, false), 0);
    const std::string twin = ExportComparedKeys();

    RemoveProduct();
    ImportRegFixture(kDemo);
    ASSERT_EQ(Msiexec("/i", QZ_MSI_PACKAGE), 0);
    SetText(HKEY_LOCAL_MACHINE, plantedKey, "", REG_SZ, "planted");
    EXPECT_EQ(Msiexec("/i", QZ_MSI_PACKAGE, true, "REINSTALL=ALL REINSTALLMODE=omus"), 0);
    const std::string repaired = ExportComparedKeys();
    EXPECT_EQ(repaired, twin);
    EXPECT_NE(repaired.find("[HKEY_CLASSES_ROOT\\Orvantis Language\\shell\\Open]"), std::string::npos);
    EXPECT_EQ(RunWindowsCommand(Quoted(kInstalledHost) + " check"), kCheckIntact);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, plantedKey.c_str());
    RemoveProduct();
}

// The modelling system under a folder whose name holds braces and brackets: its directories go
// into command lines as written, on installation and removal alike.
TEST(PackageOfTheMachine, AFolderNameWithBracesAndBracketsIsWrittenAsItIs) {
    const Scenario braces{"BracesInFolder", {"tests/e2e/fixtures/msi_states/braces_in_folder.reg"}, false, {},
                          {kEmptyProductKey}, {}};
    const Exports regsvr32 = WithRegsvr32(braces);
    const Exports package = WithThePackage(braces);
    ASSERT_NE(regsvr32.installed.find("ZURedore V12 {[ProgramFilesFolder]} {}\\bin"), std::string::npos);
    EXPECT_EQ(package.installed, regsvr32.installed);
    const Differences removed = Compare(regsvr32.removed, package.removed);
    EXPECT_EQ(removed.onlyRegsvr32, braces.leftOnlyByRegsvr32);
    EXPECT_EQ(removed.onlyPackage, braces.leftOnlyByPackage);
}

}  // namespace
}  // namespace qz::test
