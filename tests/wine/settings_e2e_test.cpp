// The product settings and their removal, end to end: the real DLL, copied to a
// path with spaces, registered and unregistered by regsvr32 (or by the hook
// host where the boxes must be recorded exactly), in this program's own Wine
// prefix. The expected machine and user keys are .reg files written by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/module_e2e.h"
#include "tests/support/test_services.h"
#include "tests/support/windows_commands.h"

namespace qz::test {
namespace {

const char kCompanyKey[] = "HKLM\\Software\\Corvalen";
const char kUserCompanyKey[] = "HKCU\\Software\\Corvalen";
const char kSeed[] = "tests/e2e/fixtures/settings_seed.reg";
const char kRegisteredMachine[] = "tests/e2e/fixtures/settings_registered_hklm.reg";
const char kUnregisteredMachine[] = "tests/e2e/fixtures/settings_unregistered_hklm.reg";
const char kRegisteredUser[] = "tests/e2e/fixtures/settings_registered_hkcu.reg";

constexpr int kRegsvr32ExportFailed = 5;
constexpr long kSelfRegClassError = static_cast<long>(0x80040201u);

// Every test program has a prefix of its own, but the tests of one program share
// it: each test starts by removing what an earlier one left behind.
class SettingsEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        RunWindowsCommand("reg delete \"HKLM\\Software\\Corvalen\" /f");
        RunWindowsCommand("reg delete \"HKCU\\Software\\Corvalen\" /f");
        RunWindowsCommand("reg delete \"HKCR\\Orvantis Language\" /f");
        RunWindowsCommand("reg delete \"HKCR\\OVX Application\" /f");
        ASSERT_EQ(ExportKey(kCompanyKey), "");
        dll_ = InstallModuleCopy();
    }

    std::string dll_;
};

TEST_F(SettingsEndToEnd, RegisterWritesExactlyTheProductSettingsAndTheUserSwitch) {
    ImportRegFixture(kSeed);
    ASSERT_EQ(RunRegsvr32(dll_, false), 0);
    EXPECT_EQ(ExportKey(kCompanyKey), ReadRegFixture(kRegisteredMachine));
    EXPECT_EQ(ExportKey(kUserCompanyKey), ReadRegFixture(kRegisteredUser));
}

TEST_F(SettingsEndToEnd, RegisteringTwiceEqualsRegisteringOnce) {
    ImportRegFixture(kSeed);
    ASSERT_EQ(RunRegsvr32(dll_, false), 0);
    const std::string machineOnce = ExportKey(kCompanyKey);
    const std::string userOnce = ExportKey(kUserCompanyKey);
    ASSERT_NE(machineOnce, "");
    ASSERT_EQ(RunRegsvr32(dll_, false), 0);
    EXPECT_EQ(ExportKey(kCompanyKey), machineOnce);
    EXPECT_EQ(ExportKey(kUserCompanyKey), userOnce);
}

TEST_F(SettingsEndToEnd, UnregisterRemovesTheSettingsKeyAndThisProductsOptionsValueOnly) {
    ImportRegFixture(kSeed);
    ASSERT_EQ(RunRegsvr32(dll_, false), 0);
    ASSERT_EQ(RunRegsvr32(dll_, true), 0);
    // The product key itself stays, empty; the other product's key and Options value stay.
    EXPECT_EQ(ExportKey(kCompanyKey), ReadRegFixture(kUnregisteredMachine));
    EXPECT_EQ(ExportKey("HKLM\\Software\\Corvalen\\Orvantis\\38.0"), "");
    // The per-user switch is not the machine's to remove.
    EXPECT_EQ(ExportKey(kUserCompanyKey), ReadRegFixture(kRegisteredUser));
}

TEST_F(SettingsEndToEnd, UnregisterWithNothingRegisteredShowsNothingAndChangesNothing) {
    ImportRegFixture(kSeed);
    const std::string machineBefore = ExportKey(kCompanyKey);
    ASSERT_NE(machineBefore, "");

    const HookedPass pass = RunHookedPass(dll_, true);
    EXPECT_EQ(pass.result, 0);
    EXPECT_EQ(BoxTexts(pass.boxes), std::vector<std::string>{});
    EXPECT_EQ(RunRegsvr32(dll_, true), 0);

    EXPECT_EQ(ExportKey(kCompanyKey), machineBefore);
    EXPECT_EQ(ExportKey(kUserCompanyKey), "");
    EXPECT_EQ(ExportKey("HKCR\\Orvantis Language"), "");
}

// While another version of the application is current, the steps keep the
// language document type key; only this version's own verb goes, command and all.
TEST_F(SettingsEndToEnd, UnregisterRemovesThisVersionsOpenVerbWithItsCommand) {
    ImportRegFixture("tests/e2e/fixtures/settings_other_version_current.reg");
    const std::string verbKey = "HKCR\\Orvantis Language\\shell\\Open Orvantis V12";
    ASSERT_NE(ExportKey(verbKey + "\\command"), "");

    EXPECT_EQ(RunRegsvr32(dll_, true), 0);

    EXPECT_EQ(ExportKey(verbKey), "");
    EXPECT_NE(ExportKey("HKCR\\Orvantis Language\\shell\\Open Orvantis V11\\command"), "");
}

// The boxes of a registration that cannot write below the company key, in the
// order of the pass. The steps that write the classes root show nothing.
const std::vector<std::string> kStepBoxesWithoutCompanyKey = {
    "Unable to open customization  key",        // step 1
    "Unable to create Menu Help key",           // step 2 (the user switch is still written)
    "Unable to create menu customization key",  // step 3
    // step 6: the pass finds no installation of the modelling system either (one box for the pass)
    MissingInstallationBox("bin"),
    "Unable to create default library key",     // step 8
    "Unable to open ZOZ CLSID key",             // step 11
    "Unable to open GUI defaults key",          // step 12
};

TEST_F(SettingsEndToEnd, ReadOnlyCompanyKeyShowsEachStepsBoxAndStillWritesTheUserSwitch) {
    // Nothing non-volatile can be created below a volatile key while this
    // program's wineserver runs: the company key opens, its subkeys cannot be made.
    RunWindowsCommand("reg delete \"HKLM\\Software\\Corvalen\" /f");
    MakeVolatileKey(HKEY_LOCAL_MACHINE, "Software\\Corvalen");

    const HookedPass pass = RunHookedPass(dll_, false);
    std::vector<std::string> expected = {"Unable to create Application Name key",
                                         "Unable to open modeler options key"};
    expected.insert(expected.end(), kStepBoxesWithoutCompanyKey.begin(), kStepBoxesWithoutCompanyKey.end());
    EXPECT_EQ(BoxTexts(pass.boxes), expected);
    for (const RecordedBox& box : pass.boxes) {
        EXPECT_EQ(box.caption, "Registration Error");
        EXPECT_EQ(box.style, 0x10010u);
    }
    EXPECT_EQ(pass.result, kSelfRegClassError);
    EXPECT_EQ(ExportKey(kUserCompanyKey), ReadRegFixture(kRegisteredUser));

    EXPECT_EQ(RunRegsvr32(dll_, false), kRegsvr32ExportFailed);
}

TEST_F(SettingsEndToEnd, RefusedCompanyKeyEndsThePreStepAndEveryMachineSettingIsReported) {
    const HookedPass pass =
        RunHookedPass(dll_, false, {"RegCreateKeyExW:HKEY_LOCAL_MACHINE\\Software\\Corvalen\\*"});
    std::vector<std::string> expected = {"Unable to open HKEY_LOCAL_MACHINE"};
    expected.insert(expected.end(), kStepBoxesWithoutCompanyKey.begin(), kStepBoxesWithoutCompanyKey.end());
    EXPECT_EQ(BoxTexts(pass.boxes), expected);
    EXPECT_EQ(pass.result, kSelfRegClassError);
    EXPECT_EQ(ExportKey(kCompanyKey), "");
    EXPECT_EQ(ExportKey(kUserCompanyKey), ReadRegFixture(kRegisteredUser));
}

// Values the registry refuses below the settings key and in the user's key: one
// box for each value whose step reports it, none for the Help and Tools lines or
// the user switch.
TEST_F(SettingsEndToEnd, RefusedValuesBelowTheSettingsKeyAreReportedAsTheStepsSay) {
    ImportRegFixture(kSeed);
    const HookedPass pass = RunHookedPass(
        dll_, false,
        {"RegSetValueExW:HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\*",
         "RegSetValueExW:HKEY_CURRENT_USER\\Software\\Corvalen\\*"});
    EXPECT_EQ(BoxTexts(pass.boxes), (std::vector<std::string>{
                                        "Unable to enter value customization DLL key",
                                        "Unable to create ASCII document suffix entry in HKLM",
                                        "Unable to create default library entry",
                                        "Unable to create script library entry",
                                        "Unable to enter ZOZ default CLSID key",
                                        "Unable to enter default control stream connection key",
                                        "Unable to enter custom modeling key",
                                    }));
    EXPECT_NE(ExportKey("HKLM\\Software\\Corvalen\\Orvantis\\38.0\\Menus\\Help"), "");
    const std::string userSettings = ExportKey("HKCU\\Software\\Corvalen\\Orvantis\\38.0\\IniSettings");
    EXPECT_NE(userSettings.find("[HKEY_CURRENT_USER\\Software\\Corvalen\\Orvantis\\38.0\\IniSettings]"),
              std::string::npos);
    EXPECT_EQ(userSettings.find("whatsnew_ovx"), std::string::npos);
}

}  // namespace
}  // namespace qz::test
