// What an unregistration removes of this product version before the steps run,
// and the whole settings pass (register, then unregister) on a seeded registry.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "module/registration_driver.h"
#include "registration/module_state.h"
#include "registration/registration_steps.h"
#include "registration/product_lookups.h"
#include "tests/support/registry_fixture.h"

namespace qz {
namespace {

using Messages = std::vector<std::string>;

const char kSettings[] = "HKLM\\Software\\Corvalen\\Orvantis\\38.0";
const char kOptions[] = "HKLM\\Software\\Corvalen\\ZURedore\\38.0\\Options";
const char kVerbV12[] = "HKCR\\Orvantis Language\\shell\\Open Orvantis V12";

// This version registered, with another version of the product, another
// product and an older verb of the language document type beside it.
const char kRegisteredState[] = R"(Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\Software\Corvalen\Orvantis\37.0\Customization]
"DLL"="C:\\old\\qzproduct.dll"

[HKEY_LOCAL_MACHINE\Software\Corvalen\Orvantis\38.0\Customization]
"DLL"="C:\\new\\qzproduct.dll"

[HKEY_LOCAL_MACHINE\Software\Corvalen\Orvantis\38.0\Menus\Help]
"0"="WINHELP,&Orvantis Contents,\\ovx,Display help topics"

[HKEY_LOCAL_MACHINE\Software\Corvalen\Orvantis\38.0\Menus\Customization]
"0000"="ADD,x"

[HKEY_LOCAL_MACHINE\Software\Corvalen\Orvantis\38.0\Suffix]
"ASCII"="ovxf,Orvantis Language"

[HKEY_LOCAL_MACHINE\Software\Corvalen\Pellwick\38.0\GUIDefaults]
"CustomModelingOn"=dword:00000000

[HKEY_LOCAL_MACHINE\Software\Corvalen\ZURedore\38.0\Options]
"ovx"="Orvantis"
"pwk"="Pellwick"

[HKEY_CURRENT_USER\Software\Corvalen\Orvantis\38.0\IniSettings]
"whatsnew_ovx"=dword:00000000

[HKEY_CLASSES_ROOT\Orvantis Language\shell\Open Orvantis V11\command]
@="\"C:\\ZU V11\\bin\\Tessaryn.exe\" \"%1\""

[HKEY_CLASSES_ROOT\Orvantis Language\shell\Open Orvantis V12\command]
@="\"C:\\ZU V12\\bin\\Tessaryn.exe\" \"%1\""
)";

std::string SourceFile(const std::string& relativePath) {
#ifdef _WIN32
    std::string path = "Z:" + std::string(QZ_SOURCE_DIR) + "/" + relativePath;
#else
    std::string path = std::string(QZ_SOURCE_DIR) + "/" + relativePath;
#endif
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << "cannot read " << path;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class UnregistrationTest : public test::RegistryFixture {
protected:
    void TearDown() override {
        ModulePath().clear();
        RegistryFixture::TearDown();
    }
};

TEST_F(UnregistrationTest, RemovesThisVersionsSettingsVerbAndOptionsValueOnly) {
    Seed(kRegisteredState);
    RemoveProductKeys();

    EXPECT_FALSE(KeyExists(kSettings));
    EXPECT_EQ(Export("HKLM\\Software\\Corvalen\\Orvantis"),
              "Windows Registry Editor Version 5.00\n\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis]\n\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\37.0]\n\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\37.0\\Customization]\n"
              "\"DLL\"=\"C:\\\\old\\\\qzproduct.dll\"\n\n");
    EXPECT_TRUE(KeyExists("HKLM\\Software\\Corvalen\\Pellwick\\38.0\\GUIDefaults"));
    EXPECT_EQ(StringValue(kOptions, "ovx"), std::nullopt);
    EXPECT_EQ(StringValue(kOptions, "pwk"), "Pellwick");
    EXPECT_EQ(CountSystemOptionsValues(), 1);
    // The verb goes with its command; the other version's verb stays.
    EXPECT_FALSE(KeyExists(kVerbV12));
    EXPECT_TRUE(KeyExists("HKCR\\Orvantis Language\\shell\\Open Orvantis V11\\command"));
    EXPECT_EQ(DwordValue("HKCU\\Software\\Corvalen\\Orvantis\\38.0\\IniSettings", "whatsnew_ovx"), 0u);
    EXPECT_EQ(reporter.messages, Messages{});
}

TEST_F(UnregistrationTest, RemovesTheSettingsThenTheVerbThenTheOptionsValue) {
    Seed(kRegisteredState);
    RemoveProductKeys();
    std::vector<std::string> removals;
    for (const RegistryCall& call : registry.Calls()) {
        if (call.op == RegOp::DeleteKey && call.result == ERROR_SUCCESS) removals.push_back(call.keyPath);
        if (call.op == RegOp::DeleteValue) removals.push_back(call.keyPath + " -> " + call.valueName);
    }
    EXPECT_EQ(removals, (std::vector<std::string>{
                            "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\Customization",
                            "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\Menus\\Customization",
                            "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\Menus\\Help",
                            "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\Menus",
                            "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\Suffix",
                            "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0",
                            "HKEY_CLASSES_ROOT\\Orvantis Language\\shell\\Open Orvantis V12\\command",
                            "HKEY_CLASSES_ROOT\\Orvantis Language\\shell\\Open Orvantis V12",
                            "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Options -> ovx",
                        }));
}

TEST_F(UnregistrationTest, RunTwiceTheSecondRunFindsNothingAndShowsNothing) {
    Seed(kRegisteredState);
    RemoveProductKeys();
    const std::string machine = Export("HKLM\\Software");
    const std::string classes = Export("HKCR\\Orvantis Language");
    registry.ClearCalls();

    RemoveProductKeys();
    EXPECT_EQ(Export("HKLM\\Software"), machine);
    EXPECT_EQ(Export("HKCR\\Orvantis Language"), classes);
    EXPECT_EQ(reporter.messages, Messages{});
    EXPECT_EQ(registry.CountCalls(RegOp::CreateKey), 0u);
    EXPECT_EQ(registry.CountCalls(RegOp::SetValue), 0u);
}

TEST_F(UnregistrationTest, WithNothingRegisteredShowsNothingAndCreatesNothing) {
    RemoveProductKeys();
    EXPECT_EQ(reporter.messages, Messages{});
    EXPECT_EQ(registry.CountCalls(RegOp::CreateKey), 0u);
    EXPECT_FALSE(KeyExists("HKLM\\Software\\Corvalen"));
    EXPECT_FALSE(KeyExists("HKCR\\Orvantis Language"));
}

// The settings part of a whole pass, against the same hand-written expectations
// as the end-to-end test of the real DLL.
TEST_F(UnregistrationTest, AWholePassWritesTheExpectedKeysAndTheUnregisterPassRemovesThem) {
    Seed(SourceFile("tests/e2e/fixtures/settings_seed.reg"));
    ModulePath() = "C:\\Program Files\\Orvantis Test\\qzproduct.dll";
    RegisterApplicationName();
    RunRegistrationSteps(kRegister);
    EXPECT_EQ(Export("HKLM\\Software\\Corvalen"), SourceFile("tests/e2e/fixtures/settings_registered_hklm.reg"));
    EXPECT_EQ(Export("HKCU\\Software\\Corvalen"), SourceFile("tests/e2e/fixtures/settings_registered_hkcu.reg"));
    EXPECT_TRUE(KeyExists(std::string(kVerbV12) + "\\command"));
    EXPECT_EQ(reporter.messages, Messages{});

    ModulePath().clear();
    RemoveProductKeys();
    RunRegistrationSteps(kUnregister);
    EXPECT_EQ(Export("HKLM\\Software\\Corvalen"), SourceFile("tests/e2e/fixtures/settings_unregistered_hklm.reg"));
    EXPECT_EQ(Export("HKCU\\Software\\Corvalen"), SourceFile("tests/e2e/fixtures/settings_registered_hkcu.reg"));
    EXPECT_EQ(reporter.messages, Messages{});
}

// A key or value of this version that cannot be removed stays, and says so, so
// that the pass fails; everything else of this version still goes. A key that
// is not there is nothing to say.
TEST_F(UnregistrationTest, WhatCannotBeRemovedShowsABoxAndTheRestStillGoes) {
    Seed(kRegisteredState);
    registry.Fail(RegOp::DeleteKey, std::string(kSettings) + "\\Menus\\Help");
    registry.Fail(RegOp::DeleteKey, std::string(kVerbV12) + "\\command");
    registry.Fail(RegOp::DeleteValue, kOptions).OnValue("ovx");
    RemoveProductKeys();
    EXPECT_EQ(reporter.messages,
              (Messages{"Unable to remove HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0",
                        "Unable to remove HKEY_CLASSES_ROOT\\Orvantis Language\\shell\\Open Orvantis V12",
                        "Unable to remove the value ovx of "
                        "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Options"}));
    EXPECT_TRUE(KeyExists(std::string(kSettings) + "\\Menus\\Help"));
    EXPECT_FALSE(KeyExists(std::string(kSettings) + "\\Customization"));
    EXPECT_FALSE(KeyExists(std::string(kSettings) + "\\Suffix"));
    EXPECT_TRUE(KeyExists(std::string(kVerbV12) + "\\command"));

    // The next pass removes what is left, silently.
    registry.ClearFaults();
    reporter.messages.clear();
    RemoveProductKeys();
    EXPECT_FALSE(KeyExists(kSettings));
    EXPECT_FALSE(KeyExists(kVerbV12));
    EXPECT_EQ(StringValue(kOptions, "ovx"), std::nullopt);
    EXPECT_EQ(reporter.messages, Messages{});
}

}  // namespace
}  // namespace qz
