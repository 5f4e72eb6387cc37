// The customisation module path, the flowsheet view class, the two GUI switches
// and the per-user "What's new" switch.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "registration/registration_steps.h"
#include "registration/settings/gui_defaults.h"
#include "resources/resource_ids.h"
#include "tests/support/registry_fixture.h"

namespace qz {
namespace {

using Messages = std::vector<std::string>;

const char kSettings[] = "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0";
const char kCustomization[] = "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\Customization";
const char kZozView[] = "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\ZOZView";
const char kGuiDefaults[] = "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\GUIDefaults";
const char kIniSettings[] = "HKEY_CURRENT_USER\\Software\\Corvalen\\Orvantis\\38.0\\IniSettings";

struct SwitchCase {
    const char* text;
    DWORD expected;
};

class ProductSwitch : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(ProductSwitch, IsTrueOnlyForTheWordTrueInAnyCaseOrTheDigitOne) {
    EXPECT_EQ(ProductSwitchValue(GetParam().text), GetParam().expected) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(Texts, ProductSwitch,
                         ::testing::Values(SwitchCase{"TRUE", 1}, SwitchCase{"true", 1}, SwitchCase{"True", 1},
                                           SwitchCase{"tRuE", 1}, SwitchCase{"1", 1}, SwitchCase{"FALSE", 0},
                                           SwitchCase{"false", 0}, SwitchCase{"yes", 0}, SwitchCase{"01", 0},
                                           SwitchCase{"0", 0}, SwitchCase{"2", 0}, SwitchCase{" TRUE", 0},
                                           SwitchCase{"TRUE ", 0}, SwitchCase{"1 ", 0}, SwitchCase{"TRU", 0},
                                           SwitchCase{"TRUEE", 0}, SwitchCase{"", 0}));

class CustomizationTest : public test::RegistryFixture {};

TEST_F(CustomizationTest, RegisterWritesTheModulePathClassIdSwitchesAndUserSwitch) {
    RegisterCustomizationKey(kRegister, "C:\\Program Files\\Orvantis\\qzproduct.dll");
    RegisterIniSettings();
    RegisterZozViewClass(kRegister);
    RegisterGuiDefaults(kRegister);

    EXPECT_EQ(StringValue(kCustomization, "DLL"), "C:\\Program Files\\Orvantis\\qzproduct.dll");
    // Named "DLL" although it holds a class id.
    EXPECT_EQ(StringValue(kZozView, "DLL"), "{8B371C12-D457-11d1-8A13-006097549CDB}");
    EXPECT_EQ(ValueType(kGuiDefaults, "CtrlStreamFixedOnly"), static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(DwordValue(kGuiDefaults, "CtrlStreamFixedOnly"), 0u);
    EXPECT_EQ(DwordValue(kGuiDefaults, "CustomModelingOn"), 1u);
    EXPECT_EQ(ValueType(kIniSettings, "whatsnew_ovx"), static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(DwordValue(kIniSettings, "whatsnew_ovx"), 0u);
    EXPECT_EQ(reporter.messages, Messages{});

    // Each key is created, written and closed before the next is touched.
    EXPECT_EQ(registry.FormatCalls(),
              "CreateKey HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\Customization = 0\n"
              "SetValue HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\Customization -> \"DLL\" = 0\n"
              "CloseKey HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\Customization = 0\n"
              "CreateKey HKEY_CURRENT_USER\\Software\\Corvalen\\Orvantis\\38.0\\IniSettings = 0\n"
              "SetValue HKEY_CURRENT_USER\\Software\\Corvalen\\Orvantis\\38.0\\IniSettings -> \"whatsnew_ovx\" = 0\n"
              "CloseKey HKEY_CURRENT_USER\\Software\\Corvalen\\Orvantis\\38.0\\IniSettings = 0\n"
              "CreateKey HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\ZOZView = 0\n"
              "SetValue HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\ZOZView -> \"DLL\" = 0\n"
              "CloseKey HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\ZOZView = 0\n"
              "CreateKey HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\GUIDefaults = 0\n"
              "SetValue HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\GUIDefaults -> "
              "\"CtrlStreamFixedOnly\" = 0\n"
              "SetValue HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\GUIDefaults -> "
              "\"CustomModelingOn\" = 0\n"
              "CloseKey HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\GUIDefaults = 0\n");
}

TEST_F(CustomizationTest, SwitchesFollowTheStringTable) {
    strings.Set(IDS_CTRL_STREAM_FIXED_ONLY, "1");
    strings.Set(IDS_CUSTOM_MODELING_ON, " TRUE");
    RegisterGuiDefaults(kRegister);
    EXPECT_EQ(DwordValue(kGuiDefaults, "CtrlStreamFixedOnly"), 1u);
    EXPECT_EQ(DwordValue(kGuiDefaults, "CustomModelingOn"), 0u);
}

TEST_F(CustomizationTest, AModulePathLongerThanAnOldPathBufferIsStoredWhole) {
    const std::string longPath = "C:\\" + std::string(300, 'd') + "\\qzproduct.dll";
    RegisterCustomizationKey(kRegister, longPath);
    EXPECT_EQ(StringValue(kCustomization, "DLL"), longPath);
}

TEST_F(CustomizationTest, UnregisterModeTouchesNothing) {
    Seed("REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Corvalen\\Orvantis\\38.0\\IniSettings]\n"
         "\"whatsnew_ovx\"=dword:00000001\n");
    RegisterCustomizationKey(kUnregister, "C:\\x.dll");
    RegisterZozViewClass(kUnregister);
    RegisterGuiDefaults(kUnregister);
    EXPECT_EQ(registry.FormatCalls(), "");
    EXPECT_FALSE(KeyExists(kSettings));
    EXPECT_EQ(DwordValue(kIniSettings, "whatsnew_ovx"), 1u);
}

// Every failure of these steps, with what is still written after it.
struct FailureCase {
    const char* name;
    RegOp op;
    const char* keyPath;
    const char* valueName;  // nullptr: every value
    Messages messages;
};

class CustomizationFailure : public test::RegistryFixture, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(CustomizationFailure, ShowsTheStepsMessage) {
    const FailureCase& failure = GetParam();
    RegistryFault& fault = registry.Fail(failure.op, failure.keyPath);
    if (failure.valueName != nullptr) fault.OnValue(failure.valueName);

    RegisterCustomizationKey(kRegister, "C:\\m.dll");
    RegisterIniSettings();
    RegisterZozViewClass(kRegister);
    RegisterGuiDefaults(kRegister);

    EXPECT_EQ(reporter.messages, failure.messages);
    const auto& calls = registry.Calls();
    EXPECT_TRUE(std::any_of(calls.begin(), calls.end(), [](const RegistryCall& call) { return call.injected; }))
        << "the fault never fired:\n" << registry.FormatCalls();
}

INSTANTIATE_TEST_SUITE_P(
    Steps, CustomizationFailure,
    ::testing::Values(
        // Two blanks before "key": the message as users have always seen it.
        FailureCase{"CustomizationKey", RegOp::CreateKey, kCustomization, nullptr,
                    {"Unable to open customization  key"}},
        FailureCase{"CustomizationValue", RegOp::SetValue, kCustomization, "DLL",
                    {"Unable to enter value customization DLL key"}},
        FailureCase{"ZozViewKey", RegOp::CreateKey, kZozView, nullptr, {"Unable to open ZOZ CLSID key"}},
        FailureCase{"ZozViewValue", RegOp::SetValue, kZozView, "DLL", {"Unable to enter ZOZ default CLSID key"}},
        FailureCase{"GuiDefaultsKey", RegOp::CreateKey, kGuiDefaults, nullptr, {"Unable to open GUI defaults key"}},
        FailureCase{"GuiDefaultsBothValues", RegOp::SetValue, kGuiDefaults, nullptr,
                    {"Unable to enter default control stream connection key", "Unable to enter custom modeling key"}},
        FailureCase{"CustomModelingValue", RegOp::SetValue, kGuiDefaults, "CustomModelingOn",
                    {"Unable to enter custom modeling key"}},
        FailureCase{"IniSettingsKey", RegOp::CreateKey, kIniSettings, nullptr,
                    {"Unable to create What's new OVX key"}},
        // A refused user switch is passed over without a box.
        FailureCase{"IniSettingsValue", RegOp::SetValue, kIniSettings, nullptr, {}}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST_F(CustomizationTest, ARefusedFirstSwitchStillWritesTheSecond) {
    registry.Fail(RegOp::SetValue, kGuiDefaults).OnValue("CtrlStreamFixedOnly");
    RegisterGuiDefaults(kRegister);
    EXPECT_EQ(reporter.messages, Messages{"Unable to enter default control stream connection key"});
    EXPECT_EQ(DwordValue(kGuiDefaults, "CtrlStreamFixedOnly"), std::nullopt);
    EXPECT_EQ(DwordValue(kGuiDefaults, "CustomModelingOn"), 1u);
}

// An account that cannot write the machine's keys still gets its own switch.
TEST_F(CustomizationTest, ReadOnlyMachineKeysShowEachStepsBoxAndStillWriteTheUserSwitch) {
    registry.Fail(RegOp::CreateKey, "HKEY_LOCAL_MACHINE").Subtree();
    RegisterCustomizationKey(kRegister, "C:\\m.dll");
    RegisterIniSettings();
    RegisterZozViewClass(kRegister);
    RegisterGuiDefaults(kRegister);
    EXPECT_EQ(reporter.messages, (Messages{"Unable to open customization  key", "Unable to open ZOZ CLSID key",
                                           "Unable to open GUI defaults key"}));
    EXPECT_EQ(DwordValue(kIniSettings, "whatsnew_ovx"), 0u);
    EXPECT_EQ(registry.CountCalls(RegOp::SetValue), 1u);
}

}  // namespace
}  // namespace qz
