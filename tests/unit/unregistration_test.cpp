// What an unregistration removes of this product version before the steps run,
// and the whole settings pass (register, then unregister) on a seeded registry.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <tuple>
#include <string>
#include <vector>

#include "module/registration_driver.h"
#include "registration/module_state.h"
#include "registration/registration_steps.h"
#include "registration/product_lookups.h"
#include "tests/support/registry_fixture.h"
#include "text/code_page.h"

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

// ---- classes-root keys go only while this version is current -------------------
//
// One rule over a whole unregistration (RemoveProductKeys, then the steps, as
// DllUnregisterServer runs them): the keys of the classes root that every
// version shares go only while this version is current (CurVer names it, or
// there is no CurVer key); those the products of the family share (the library
// suffix and type) only when, besides, no product is left in Options; those of
// this version alone always. A key that stays is left exactly as it was.

const char kInstallation[] = R"(REGEDIT4
[HKEY_LOCAL_MACHINE\Software\Corvalen\ZURedore\38.0\Dir]
"bin"="C:\\Program Files\\Corvalen\\ZURedore V12\\bin"
"help"="C:\\Program Files\\Corvalen\\ZURedore V12\\help"
"lib"="C:\\Program Files\\Corvalen\\ZURedore V12\\lib"
)";

// A subkey no step writes: a class key goes whole, whatever it holds.
const char kForeignSubkey[] =
    "[HKEY_CLASSES_ROOT\\CLSID\\{3209ADC4-9264-11D1-B147-00A024F1AC65}\\InprocServer32]\n@=\"lib.dll\"\n";

enum class Goes { Always, WhileCurrent, WhileCurrentAndNoProductLeft };

struct ClassesRootKey {
    const char* key;
    Goes goes;
};
const ClassesRootKey kClassesRootKeys[] = {
    {"HKCR\\OVX Application", Goes::WhileCurrent},                                // the readable ProgID
    {"HKCR\\OVX Application 3800", Goes::Always},                                 // this version's ProgID
    {"HKCR\\CLSID\\{FDE14674-8E3D-0380-878A-2E97C127D967}", Goes::Always},        // the application class
    {"HKCR\\CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}", Goes::WhileCurrent},  // the document object class
    {"HKCR\\CLSID\\{3209ADC4-9264-11D1-B147-00A024F1AC65}", Goes::WhileCurrent},  // the library class
    {"HKCR\\Orvantis Language", Goes::WhileCurrent},                              // the language document type
    {"HKCR\\Orvantis Language\\shell\\Open Orvantis V12", Goes::Always},          // this version's verb in it
    {"HKCR\\.ovxf", Goes::WhileCurrent},                                          // its suffix
    {"HKCR\\.ovxl", Goes::WhileCurrentAndNoProductLeft},                          // the library suffix
    {"HKCR\\Tavrin Model Library", Goes::WhileCurrentAndNoProductLeft},           // the library type
};

struct CurVerState {
    const char* name;
    const char* regLines;  // replacing the CurVer the registration wrote; "" keeps it
    bool thisVersionCurrent;
};
const CurVerState kCurVerStates[] = {
    {"ThisVersionCurrent", "", true},
    // Only the whole ProgID names this version; letter case does not matter.
    {"ExactlyMajorMinor", "[HKEY_CLASSES_ROOT\\OVX Application\\CurVer]\n@=\"OVX Application 380\"\n", false},
    {"NewerBuild", "[HKEY_CLASSES_ROOT\\OVX Application\\CurVer]\n@=\"OVX Application 3805\"\n", false},
    {"OtherVersionCurrent", "[HKEY_CLASSES_ROOT\\OVX Application\\CurVer]\n@=\"OVX Application 3700\"\n", false},
    {"OtherLetterCase", "[HKEY_CLASSES_ROOT\\OVX Application\\CurVer]\n@=\"ovx application 3800\"\n", true},
    {"NoCurVerKey", "[-HKEY_CLASSES_ROOT\\OVX Application\\CurVer]\n", true},
    {"CurVerWithoutValue", "[HKEY_CLASSES_ROOT\\OVX Application\\CurVer]\n@=-\n", false},
};

struct OptionsState {
    const char* name;
    const char* regLines;  // added to the Options key the registration wrote (its "ovx" value)
    bool productLeft;      // once the unregistration has removed "ovx"
};
const OptionsState kOptionsStates[] = {
    {"NoOtherProduct", "", false},
    {"AnotherProduct", "[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Options]\n\"pwk\"=\"Pellwick\"\n",
     true},
    {"NoOptionsKey", "[-HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Options]\n", false},
    // Subkeys are not products.
    {"SubkeysOnly",
     "[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Options\\A]\n"
     "[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Options\\B]\n",
     false},
};

bool KeyGoes(Goes goes, bool thisVersionCurrent, bool productLeft) {
    switch (goes) {
        case Goes::Always: return true;
        case Goes::WhileCurrent: return thisVersionCurrent;
        case Goes::WhileCurrentAndNoProductLeft: return thisVersionCurrent && !productLeft;
    }
    return false;
}

class ClassesRootUnregistration : public UnregistrationTest,
                                  public ::testing::WithParamInterface<std::tuple<CurVerState, OptionsState>> {};

TEST_P(ClassesRootUnregistration, SharedKeysGoOnlyWhileThisVersionIsCurrent) {
    const auto& [curVer, options] = GetParam();
    Seed(kInstallation);
    RegisterApplicationName();
    RunRegistrationSteps(kRegister);
    ASSERT_EQ(reporter.messages, Messages{});
    Seed(std::string("REGEDIT4\n") + curVer.regLines + options.regLines + kForeignSubkey);
    // What stays stays as registered, less what always goes (this version's
    // verb inside the document type).
    const MemoryRegistry registered = memory;
    for (const ClassesRootKey& row : kClassesRootKeys) {
        ASSERT_TRUE(KeyExists(row.key)) << row.key << " was not registered";
        if (row.goes == Goes::Always) memory.RemoveTree(Utf8ToUtf16(row.key));
    }
    std::vector<std::string> before;
    for (const ClassesRootKey& row : kClassesRootKeys) before.push_back(Export(row.key));
    memory = registered;
    registry.ClearCalls();

    RemoveProductKeys();
    RunRegistrationSteps(kUnregister);

    for (std::size_t i = 0; i < std::size(kClassesRootKeys); ++i) {
        const ClassesRootKey& row = kClassesRootKeys[i];
        if (KeyGoes(row.goes, curVer.thisVersionCurrent, options.productLeft)) {
            EXPECT_FALSE(KeyExists(row.key)) << row.key;
        } else {
            EXPECT_EQ(Export(row.key), before[i]) << row.key;
        }
    }
    EXPECT_TRUE(KeyExists("HKCR\\CLSID"));
    EXPECT_EQ(reporter.messages, Messages{});
    EXPECT_EQ(registry.CountCalls(RegOp::CreateKey), 0u);
    EXPECT_EQ(registry.CountCalls(RegOp::SetValue), 0u);
}

INSTANTIATE_TEST_SUITE_P(CurVerByOptions, ClassesRootUnregistration,
                         ::testing::Combine(::testing::ValuesIn(kCurVerStates), ::testing::ValuesIn(kOptionsStates)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
                         });

}  // namespace
}  // namespace qz
