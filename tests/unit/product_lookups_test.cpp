// The product lookups the steps share: the installation directories, the
// number of products in the system's Options key, whether this version is the
// current one. Run against the in-memory registry and (under Wine) against
// advapi32, each behind the fault injector.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "registration/product_lookups.h"
#include "resources/resource_ids.h"
#include "tests/support/module_registry_fixture.h"

namespace qz {
namespace {

constexpr const char* kDir = "Software\\Corvalen\\ZURedore\\38.0\\Dir";
constexpr const char* kOptions = "Software\\Corvalen\\ZURedore\\38.0\\Options";
constexpr const char* kCurVer = "OVX Application\\CurVer";

using ProductLookups = test::ModuleRegistryTest;

TEST_P(ProductLookups, GetInstallDirectoryOfAnUnknownKindOpensNoKey) {
    SetText(HKEY_LOCAL_MACHINE, kDir, "bin", "C:\\ZU\\bin");
    EXPECT_EQ(GetInstallDirectory(static_cast<InstallDirectoryKind>(5)), "");
    EXPECT_EQ(GetInstallDirectory(static_cast<InstallDirectoryKind>(-1)), "");
    EXPECT_TRUE(registry().Calls().empty()) << registry().FormatCalls();
}

TEST_P(ProductLookups, GetInstallDirectoryReadsEachKindAsText) {
    SetText(HKEY_LOCAL_MACHINE, kDir, "help", "C:\\ZU\\help");
    SetText(HKEY_LOCAL_MACHINE, kDir, "LIB", "C:\\ZU\\lib");
    SetText(HKEY_LOCAL_MACHINE, kDir, "lic", "C:\\ZU\\lic");
    SetText(HKEY_LOCAL_MACHINE, kDir, "root", "C:\\ZU");
    EXPECT_EQ(GetInstallDirectory(InstallDirectoryKind::Help), "C:\\ZU\\help");
    EXPECT_EQ(GetInstallDirectory(InstallDirectoryKind::Lib), "C:\\ZU\\lib");
    EXPECT_EQ(GetInstallDirectory(InstallDirectoryKind::Lic), "C:\\ZU\\lic");
    EXPECT_EQ(GetInstallDirectory(InstallDirectoryKind::Root), "C:\\ZU");
    EXPECT_EQ(GetInstallDirectory(InstallDirectoryKind::Bin), "") << "no bin value";
    // The key is only read, and closed each time.
    EXPECT_EQ(registry().CountCalls(RegOp::OpenKey), 5u);
    EXPECT_EQ(registry().CountCalls(RegOp::CloseKey), 5u);
    EXPECT_EQ(registry().CountCalls(RegOp::SetValue) + registry().CountCalls(RegOp::CreateKey), 0u);
}

TEST_P(ProductLookups, GetInstallDirectoryWithoutTheDirKeyIsEmpty) {
    EXPECT_EQ(GetInstallDirectory(InstallDirectoryKind::Bin), "");
}

TEST_P(ProductLookups, GetInstallDirectoryTakesAnyTypeAsTextAndReadsNoFurtherThanTheData) {
    struct Case {
        const char* what;
        DWORD type;
        std::string stored;
        std::string expected;
        std::vector<std::string> boxes;
        bool storedWide = false;  // through the wide call, else the narrow one
    };
    const std::string exactString(4095, 's');
    const std::string fullBinary(4096, 'b');
    const std::string dir = "HKEY_LOCAL_MACHINE\\" + std::string(kDir);
    const std::string notFound = "The installation directory of the modelling system was not found: " + dir + ", value bin ";
    const Case cases[] = {
        // A reference to a variable the process does not have is no directory.
        {"expand string naming an unset variable", REG_EXPAND_SZ, std::string("%ZU%\\bin\0", 9), "",
         {"The value bin of " + dir + " cannot be a directory path: %ZU%\\bin"}},
        {"binary with NUL", REG_BINARY, std::string("C:\\bin\0junk", 11), "C:\\bin", {notFound + "(the value is not text)"}},
        {"binary without NUL", REG_BINARY, "C:\\bin", "C:\\bin", {notFound + "(the value is not text)"}},
        {"string filling the buffer", REG_SZ, exactString + '\0', exactString, {}},
        {"binary filling the buffer", REG_BINARY, fullBinary, fullBinary, {notFound + "(the value is not text)"}},
        {"one byte too many", REG_BINARY, std::string(4097, 'x'), "", {notFound + "(the value is too long)"}},
        {"string too long", REG_SZ, std::string(5000, 'y') + '\0', "", {notFound + "(the value is too long)"}},
        // UTF-16 with a high surrogate that no low one follows: no text at all.
        {"string that is not valid UTF-16", REG_SZ, std::string("C\0:\0\\\0\x00\xD8" "b\0\0\0", 12), "",
         {"The value bin of " + dir + " is not a valid directory path"}, true},
    };
    for (const Case& c : cases) {
        if (c.storedWide)
            SetRawWide(HKEY_LOCAL_MACHINE, kDir, "bin", c.type, c.stored);
        else
            SetRaw(HKEY_LOCAL_MACHINE, kDir, "bin", c.type, c.stored);
        reporter_.messages.clear();
        ResetReportedFailureCount();
        EXPECT_EQ(GetInstallDirectory(InstallDirectoryKind::Bin), c.expected) << c.what;
        EXPECT_EQ(reporter_.messages, c.boxes) << c.what;
    }
}

// A directory goes into quoted command lines and into values: a text that
// cannot be a Windows path gives empty and a box; anything a path may hold,
// in any script, comes back exactly.
TEST_P(ProductLookups, GetInstallDirectoryRefusesTextsThatCannotBePaths) {
    struct Case {
        const char* text;
        bool usable;
    };
    const Case cases[] = {
        {"C:\\ZU\\bin\" /x \"", false},
        {"C:\\ZU\\bin\tx", false},
        {"C:\\ZU\\bin\r\nx", false},
        {"C:\\ZU\\<bin>", false},
        {"C:\\ZU\\bin|more", false},
        {"C:\\ZU\\bin\x7F", false},
        {"C:\\\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB3\xD1\x80\xD0\xB0\xD0\xBC\xD0\xBC\xD1\x8B\\ZU\\bin", true},  // Программы
        {"C:\\Mod\xC3\xA8le \xE6\xA8\xA1\xE5\x9E\x8B\\bin", true},                                        // Modèle 模型
        {"C:\\100% sure\\bin", true},
        {"\\\\server\\share\\ZU (x86)\\bin", true},
    };
    for (const Case& c : cases) {
        SetWideText(HKEY_LOCAL_MACHINE, kDir, "bin", REG_SZ, c.text);
        reporter_.messages.clear();
        ResetReportedFailureCount();
        EXPECT_EQ(GetInstallDirectory(InstallDirectoryKind::Bin), c.usable ? c.text : "") << c.text;
        const std::vector<std::string> expected =
            c.usable ? std::vector<std::string>{}
                     : std::vector<std::string>{"The value bin of HKEY_LOCAL_MACHINE\\" + std::string(kDir) +
                                                " cannot be a directory path: " + c.text};
        EXPECT_EQ(reporter_.messages, expected);
    }
}

// Several steps of one pass ask for the same directory: an unusable value shows
// one box for the pass, each unusable value its own, and the next pass again.
TEST_P(ProductLookups, AnUnusableDirectoryShowsOneBoxPerValueAndPass) {
    SetText(HKEY_LOCAL_MACHINE, kDir, "bin", "C:\\ZU\\bin\" /x");
    SetText(HKEY_LOCAL_MACHINE, kDir, "help", "C:\\ZU\\help|x");
    SetText(HKEY_LOCAL_MACHINE, kDir, "lib", "C:\\ZU\\lib");
    ResetReportedFailureCount();
    for (int step = 0; step < 3; ++step) {
        EXPECT_EQ(GetInstallDirectory(InstallDirectoryKind::Bin), "");
        EXPECT_EQ(GetInstallDirectory(InstallDirectoryKind::Help), "");
        EXPECT_EQ(GetInstallDirectory(InstallDirectoryKind::Lib), "C:\\ZU\\lib");
    }
    const std::string dir = "HKEY_LOCAL_MACHINE\\" + std::string(kDir);
    EXPECT_EQ(reporter_.messages,
              (std::vector<std::string>{"The value bin of " + dir + " cannot be a directory path: C:\\ZU\\bin\" /x",
                                        "The value help of " + dir + " cannot be a directory path: C:\\ZU\\help|x"}));
    EXPECT_EQ(ReportedFailureCount(), 2);

    ResetReportedFailureCount();
    EXPECT_EQ(GetInstallDirectory(InstallDirectoryKind::Bin), "");
    EXPECT_EQ(reporter_.messages.size(), 3u);
}

TEST_P(ProductLookups, GetInstallDirectoryReadsAStringWithoutTerminatorThatFillsTheBuffer) {
    // 4096 characters and no NUL: the buffer is full and holds no terminator. (The
    // byte after the counted ones must not be NUL either: Windows would then count
    // it in, as RegSetValueExA does for a caller that forgot the terminator.)
    const std::string text(4097, 'z');
    CreateKey(HKEY_LOCAL_MACHINE, kDir);
    HKEY key = nullptr;
    ASSERT_EQ(NarrowRegistry(registry()).OpenKeyEx(HKEY_LOCAL_MACHINE, kDir, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    ASSERT_EQ(
        NarrowRegistry(registry()).SetValueEx(key, "bin", REG_SZ, reinterpret_cast<const BYTE*>(text.data()), 4096),
        ERROR_SUCCESS);
    registry().CloseKey(key);
    EXPECT_EQ(GetInstallDirectory(InstallDirectoryKind::Bin), std::string(4096, 'z'));
}

TEST_P(ProductLookups, CountSystemOptionsValuesCountsValuesNotSubkeys) {
    EXPECT_EQ(CountSystemOptionsValues(), 0) << "no Options key";
    CreateKey(HKEY_LOCAL_MACHINE, std::string(kOptions) + "\\First");
    CreateKey(HKEY_LOCAL_MACHINE, std::string(kOptions) + "\\Second");
    EXPECT_EQ(CountSystemOptionsValues(), 0);
    SetText(HKEY_LOCAL_MACHINE, kOptions, "OVX", "Orvantis");
    SetText(HKEY_LOCAL_MACHINE, kOptions, "ABC", "Another");
    SetText(HKEY_LOCAL_MACHINE, kOptions, "", "default");
    EXPECT_EQ(CountSystemOptionsValues(), 2) << "a default value is no product";
    registry().Fail(RegOp::QueryInfoKey, std::string("HKLM\\") + kOptions);
    EXPECT_EQ(CountSystemOptionsValues(), -1) << "a failed query is no answer";
}

TEST_P(ProductLookups, IsCurrentApplicationVersionComparesTheWholeProgIdWithoutRegardToCase) {
    EXPECT_EQ(IsCurrentApplicationVersion(), 1) << "no CurVer key";
    struct Case {
        const char* curVer;
        int expected;
    };
    // A newer build of the same major and minor version is another version; a
    // ProgID written in other letter case is this one.
    for (const Case& c : {Case{"OVX Application 3800", 1}, Case{"ovx application 3800", 1},
                          Case{"OVX APPLICATION 3800", 1}, Case{"OVX Application 3805", 0},
                          Case{"OVX Application 38000", 0}, Case{"OVX Application 380", 0},
                          Case{"OVX Application 370", 0}, Case{"OVX Application 3800 ", 0}, Case{"", 0}}) {
        SetText(HKEY_CLASSES_ROOT, kCurVer, "", c.curVer);
        EXPECT_EQ(IsCurrentApplicationVersion(), c.expected) << '"' << c.curVer << '"';
    }
}

TEST_P(ProductLookups, IsCurrentApplicationVersionWithoutADefaultValueIsNotCurrent) {
    SetText(HKEY_CLASSES_ROOT, kCurVer, "named", "OVX Application 3800");
    EXPECT_EQ(IsCurrentApplicationVersion(), 0);
}

TEST_P(ProductLookups, IsCurrentApplicationVersionUsesTheProductStrings) {
    strings_.Set(IDS_APPLICATION_PROGID, "Other App");
    strings_.Set(IDS_VERSION_MAJOR, "12");
    strings_.Set(IDS_VERSION_MINOR, "5");
    SetText(HKEY_CLASSES_ROOT, kCurVer, "", "OVX Application 3800");
    SetText(HKEY_CLASSES_ROOT, "Other App\\CurVer", "", "Other App 1250");
    EXPECT_EQ(IsCurrentApplicationVersion(), 1);
    SetText(HKEY_CLASSES_ROOT, "Other App\\CurVer", "", "Other App 3800");
    EXPECT_EQ(IsCurrentApplicationVersion(), 0);
    EXPECT_EQ(registry().CallsOf(RegOp::OpenKey).front(), "HKEY_CLASSES_ROOT\\Other App\\CurVer");
}

INSTANTIATE_TEST_SUITE_P(Registries, ProductLookups, test::RegistryKinds(), test::RegistryKindName);

}  // namespace
}  // namespace qz
