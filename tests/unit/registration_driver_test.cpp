// The driver and the pre-step: the thirteen steps in their one order (as the
// registry sees their writes), and RegisterApplicationName's keys and messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "module/registration_driver.h"
#include "registration/registration_steps.h"
#include "tests/support/registry_fixture.h"

namespace qz::test {
namespace {

class RegistrationDriverTest : public RegistryFixture {
protected:
    // The first key each writing step creates, in the order the pass created them.
    std::vector<std::string> FirstCreatedOf(const std::vector<std::string>& keys) {
        std::vector<std::string> seen;
        for (const std::string& created : registry.CallsOf(RegOp::CreateKey))
            for (const std::string& key : keys)
                if (created == key && std::find(seen.begin(), seen.end(), key) == seen.end()) seen.push_back(key);
        return seen;
    }
};

TEST_F(RegistrationDriverTest, TheRegistrySeesTheStepsWriteInTheDriversOrder) {
    RunRegistrationSteps(kRegister);
    const std::vector<std::string> keysInStepOrder = {
        "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\Customization",
        "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\Menus\\Help",
        "HKEY_CURRENT_USER\\Software\\Corvalen\\Orvantis\\38.0\\IniSettings",
        "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\Menus\\Customization",
        "HKEY_CLASSES_ROOT\\.ovxf",
        "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\Suffix",
        "HKEY_CLASSES_ROOT\\Orvantis Language\\CLSID",
        "HKEY_CLASSES_ROOT\\Tavrin Model Library\\CLSID",
        "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\Script Library",
        "HKEY_CLASSES_ROOT\\CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}\\AuxUserType\\2",
        "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\ZOZView",
        "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\GUIDefaults",
        "HKEY_CLASSES_ROOT\\OVX Application",
    };
    EXPECT_EQ(FirstCreatedOf(keysInStepOrder), keysInStepOrder) << registry.FormatCalls();
}

TEST_F(RegistrationDriverTest, ApplicationNameWritesTheEmptyProductKeyAndTheOptionsValue) {
    RegisterApplicationName();
    EXPECT_TRUE(reporter.messages.empty());
    EXPECT_EQ(Export("HKLM\\Software\\Corvalen"),
              "Windows Registry Editor Version 5.00\n\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Corvalen]\n\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis]\n\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore]\n\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0]\n\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Options]\n"
              "\"ovx\"=\"Orvantis\"\n\n");
    EXPECT_EQ(ValueType("HKLM\\Software\\Corvalen\\ZURedore\\38.0\\Options", "ovx"), DWORD{REG_SZ});
    EXPECT_EQ(registry.CountCalls(RegOp::CreateKey), registry.CountCalls(RegOp::CloseKey));
}

struct ApplicationNameFailure {
    const char* name;
    RegOp op;
    const char* key;
    std::vector<std::string> messages;
    bool optionsValueWritten;
};

class ApplicationNameFailures : public RegistrationDriverTest,
                                public ::testing::WithParamInterface<ApplicationNameFailure> {};

TEST_P(ApplicationNameFailures, ReportTheirMessageAndGoOnAsFarAsTheyCan) {
    const ApplicationNameFailure& failure = GetParam();
    registry.Fail(failure.op, failure.key);
    RegisterApplicationName();
    EXPECT_EQ(reporter.messages, failure.messages);
    EXPECT_EQ(StringValue("HKLM\\Software\\Corvalen\\ZURedore\\38.0\\Options", "ovx").has_value(),
              failure.optionsValueWritten);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ApplicationNameFailures,
    ::testing::Values(
        ApplicationNameFailure{"CompanyKey", RegOp::CreateKey, "HKLM\\Software\\Corvalen",
                               {"Unable to open HKEY_LOCAL_MACHINE"}, false},
        ApplicationNameFailure{"ProductKey", RegOp::CreateKey, "HKLM\\Software\\Corvalen\\Orvantis",
                               {"Unable to create Application Name key"}, true},
        ApplicationNameFailure{"OptionsKey", RegOp::CreateKey, "HKLM\\Software\\Corvalen\\ZURedore\\38.0\\Options",
                               {"Unable to open modeler options key"}, false},
        ApplicationNameFailure{"OptionsValue", RegOp::SetValue, "HKLM\\Software\\Corvalen\\ZURedore\\38.0\\Options",
                               {"Unable to enter value in modeler options key"}, false}),
    [](const ::testing::TestParamInfo<ApplicationNameFailure>& info) { return std::string(info.param.name); });

TEST_F(RegistrationDriverTest, EveryFailureOfAPassIsCountedForTheExportsResult) {
    ResetReportedFailureCount();
    registry.Fail(RegOp::CreateKey, "HKLM\\Software\\Corvalen").Subtree();
    RegisterApplicationName();
    RunRegistrationSteps(kRegister);
    EXPECT_FALSE(reporter.messages.empty());
    EXPECT_EQ(ReportedFailureCount(), static_cast<int>(reporter.messages.size()));
}

}  // namespace
}  // namespace qz::test
