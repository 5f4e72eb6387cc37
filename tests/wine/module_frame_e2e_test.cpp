// The real DLL under Wine: loaded by regsvr32 from a folder whose path has
// spaces, its boxes seen through the relay trace and through the hook host.
#include <gtest/gtest.h>

#include <windows.h>

#include "tests/support/module_e2e.h"
#include "tests/support/test_services.h"
#include "tests/support/windows_commands.h"

namespace qz::test {
namespace {

constexpr long kSelfRegClassFailure = static_cast<long>(0x80040201u);

bool KeyExists(HKEY root, const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

std::string StringValue(HKEY root, const char* path, const char* name) {
    char data[4096] = {};
    DWORD size = sizeof data - 1;
    if (RegGetValueA(root, path, name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS) return "<missing>";
    return data;
}

// Every test but the one about a missing installation registers over an
// installation of the modelling system, as a real machine has one.
class ModuleFrameUnderWine : public ::testing::Test {
protected:
    void SetUp() override {
        ResetProductRegistry();
        ImportRegFixture("tests/e2e/fixtures/installation.reg");
    }
};

TEST_F(ModuleFrameUnderWine, RegistersOnAWritableRegistryWithoutABox) {
    const std::string dll = InstallModuleCopy();
    std::vector<RecordedBox> boxes;
    EXPECT_EQ(RunRegsvr32Traced(dll, false, &boxes), 0);
    EXPECT_TRUE(boxes.empty()) << boxes.front().text;

    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Corvalen\\Orvantis"));
    EXPECT_EQ(StringValue(HKEY_LOCAL_MACHINE, "Software\\Corvalen\\ZURedore\\38.0\\Options", "ovx"), "Orvantis");

    boxes.clear();
    EXPECT_EQ(RunRegsvr32Traced(dll, true, &boxes), 0);
    EXPECT_TRUE(boxes.empty()) << boxes.front().text;
    EXPECT_EQ(StringValue(HKEY_LOCAL_MACHINE, "Software\\Corvalen\\ZURedore\\38.0\\Options", "ovx"), "<missing>");
}

TEST_F(ModuleFrameUnderWine, WithoutAnInstallationTheRegistrationIsWrittenShowsOneBoxAndFails) {
    RunWindowsCommand("reg delete \"HKLM\\Software\\Corvalen\\ZURedore\\38.0\\Dir\" /f");
    const std::string dll = InstallModuleCopy();
    std::vector<RecordedBox> boxes;
    EXPECT_EQ(RunRegsvr32Traced(dll, false, &boxes), 5);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, MissingInstallationBox("help"));
    // What needs no directory is written as always; command lines without one.
    EXPECT_EQ(StringValue(HKEY_CLASSES_ROOT, "CLSID\\{FDE14674-8E3D-0380-878A-2E97C127D967}\\LocalServer32", nullptr),
              "\"\\Tessaryn.exe\" /ovx /Automation");
    // An unregistration after the system is gone finds nothing to complain about.
    boxes.clear();
    EXPECT_EQ(RunRegsvr32Traced(dll, true, &boxes), 0);
    EXPECT_TRUE(boxes.empty()) << boxes.front().text;
}

TEST_F(ModuleFrameUnderWine, UnregisteringFirstInAFreshProcessSucceeds) {
    const std::string dll = InstallModuleCopy();
    const HookedPass pass = RunHookedPass(dll, true);
    EXPECT_EQ(pass.result, 0);
    EXPECT_TRUE(pass.boxes.empty());
}

TEST_F(ModuleFrameUnderWine, AnUnwritableCompanyKeyShowsBoxesRunsEveryStepAndFails) {
    const std::string dll = InstallModuleCopy();
    // Only a key that does not exist yet can be made volatile: no installation here.
    RunWindowsCommand("reg delete \"HKLM\\Software\\Corvalen\" /f");
    MakeVolatileKey(HKEY_LOCAL_MACHINE, "Software\\Corvalen");

    std::vector<RecordedBox> boxes;
    EXPECT_EQ(RunRegsvr32Traced(dll, false, &boxes), 5);
    ASSERT_GE(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "Unable to create Application Name key");
    EXPECT_EQ(boxes[1].text, "Unable to open modeler options key");
    for (const RecordedBox& box : boxes) {
        EXPECT_EQ(box.caption, "Registration Error");
        EXPECT_EQ(box.style, 0x10010u);
        EXPECT_EQ(box.language, static_cast<unsigned>(GetSystemDefaultLangID()));
    }
    // The last step still ran: the classes root lies outside the unwritable key.
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "OVX Application\\CurVer"));
}

TEST_F(ModuleFrameUnderWine, AFailedCompanyKeyEndsThePreStepWithOneBox) {
    const std::string dll = InstallModuleCopy();
    const HookedPass pass =
        RunHookedPass(dll, false, {"RegCreateKeyExW:HKEY_LOCAL_MACHINE\\Software\\Corvalen"});
    EXPECT_EQ(pass.result, kSelfRegClassFailure);
    // Only the pre-step opens the company key itself; the steps create their full paths.
    EXPECT_EQ(BoxTexts(pass.boxes), std::vector<std::string>{"Unable to open HKEY_LOCAL_MACHINE"});
    EXPECT_EQ(StringValue(HKEY_LOCAL_MACHINE, "Software\\Corvalen\\ZURedore\\38.0\\Options", "ovx"), "<missing>");
}

TEST_F(ModuleFrameUnderWine, AFailedOptionsValueIsReportedAndThePassFails) {
    const std::string dll = InstallModuleCopy();
    const HookedPass pass = RunHookedPass(
        dll, false, {"RegSetValueExW:HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Options"});
    EXPECT_EQ(pass.result, kSelfRegClassFailure);
    ASSERT_EQ(pass.boxes.size(), 1u);
    EXPECT_EQ(pass.boxes[0].text, "Unable to enter value in modeler options key");
    EXPECT_EQ(pass.boxes[0].caption, "Registration Error");
    EXPECT_EQ(pass.boxes[0].style, 0x10010u);
}

TEST_F(ModuleFrameUnderWine, RecordsTheModulesFullPathHoweverLong) {
    // A folder path well past MAX_PATH (260): the recorded path must not be cut.
    InstallModuleCopy();
    // The \\?\ form lifts MAX_PATH for the wide file functions (and for LoadLibrary).
    std::wstring folder = L"\\\\?\\C:\\Program Files\\Orvantis Test";
    while (folder.size() < 300) {
        folder += L"\\A rather long folder name for the module path";
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    }
    const std::wstring wideDll = folder + L"\\qzproduct.dll";
    ASSERT_TRUE(CopyFileW(L"C:\\Program Files\\Orvantis Test\\qzproduct.dll", wideDll.c_str(), FALSE))
        << GetLastError();
    const std::string dll(wideDll.begin(), wideDll.end());  // ASCII only
    ASSERT_GT(dll.size(), 300u);

    const HookedPass pass = RunHookedPass(dll, false);
    EXPECT_EQ(pass.result, 0);
    // The loader records the path without the \\?\ prefix.
    EXPECT_EQ(StringValue(HKEY_LOCAL_MACHINE, "Software\\Corvalen\\Orvantis\\38.0\\Customization", "DLL"),
              dll.substr(4));
}

}  // namespace
}  // namespace qz::test
