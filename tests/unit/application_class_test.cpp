// The automation application class: its ten keys, its server command line and
// its messages. Which of its keys an unregistration removes, by the current
// version, is one rule of the whole unregistration, in unregistration_test.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "registration/registration_steps.h"
#include "registration/product_lookups.h"
#include "resources/resource_ids.h"
#include "tests/support/product_identity.h"
#include "tests/support/registry_fixture.h"

namespace qz {
namespace {

using Messages = std::vector<std::string>;

const char kProgId[] = "HKCR\\OVX Application";
const char kCurVer[] = "HKCR\\OVX Application\\CurVer";
const char kVersionedProgId[] = "HKCR\\OVX Application 3800";
const char kClassKey[] = "HKCR\\CLSID\\{FDE14674-8E3D-0380-878A-2E97C127D967}";
const char kLocalServer[] = "HKCR\\CLSID\\{FDE14674-8E3D-0380-878A-2E97C127D967}\\LocalServer32";

using test::kSystemDirSeed;

// The rows as the shell and COM must find them: key under the classes root, default value.
struct Row {
    const char* key;
    const char* value;  // null: the key alone
};
const Row kRows[] = {
    {"OVX Application", "OVX Application"},
    {"OVX Application\\CLSID", "{FDE14674-8E3D-0380-878A-2E97C127D967}"},
    {"OVX Application\\CurVer", "OVX Application 3800"},
    {"OVX Application 3800", "OVX Application"},
    {"OVX Application 3800\\CLSID", "{FDE14674-8E3D-0380-878A-2E97C127D967}"},
    {"CLSID\\{FDE14674-8E3D-0380-878A-2E97C127D967}", nullptr},
    {"CLSID\\{FDE14674-8E3D-0380-878A-2E97C127D967}\\InProcHandler32", "Ole32.dll"},
    {"CLSID\\{FDE14674-8E3D-0380-878A-2E97C127D967}\\LocalServer32",
     "\"C:\\Program Files\\Corvalen\\ZURedore V12\\bin\\Tessaryn.exe\" /ovx /Automation"},
    {"CLSID\\{FDE14674-8E3D-0380-878A-2E97C127D967}\\ProgID", "OVX Application 3800"},
    {"CLSID\\{FDE14674-8E3D-0380-878A-2E97C127D967}\\VersionIndependentProgID", "OVX Application"},
};

class ApplicationClassTest : public test::RegistryFixture {};

TEST_F(ApplicationClassTest, RegisterCreatesWritesAndClosesTheTenRowsInOrder) {
    Seed(kSystemDirSeed);
    RegisterApplicationClass(kRegister);

    std::vector<std::string> expected;
    for (const Row& row : kRows) {
        const std::string key = std::string("HKEY_CLASSES_ROOT\\") + row.key;
        expected.push_back("CreateKey " + key + " = 0");
        if (row.value != nullptr) expected.push_back("SetValue " + key + " -> \"\" = 0");
        expected.push_back("CloseKey " + key + " = 0");
        if (row.value != nullptr) {
            EXPECT_EQ(StringValue(key, ""), row.value) << key;
        } else {
            EXPECT_EQ(StringValue(key, ""), std::nullopt) << key;
        }
    }
    EXPECT_EQ(test::ClassesRootCalls(registry), expected);
    EXPECT_EQ(reporter.messages, Messages{});
    // The class id is the readable ProgID's; the CurVer names this version, which now counts as current.
    EXPECT_EQ(IsCurrentApplicationVersion(), 1);
}

struct ServerCommandCase {
    const char* name;
    const char* seed;  // the system Dir key, or null for none
    const char* abbreviation;
    const char* hostBaseName;
    const char* expected;
    Messages boxes{};
};
void PrintTo(const ServerCommandCase& c, std::ostream* os) { *os << c.name; }



const ServerCommandCase kServerCommandCases[] = {
    {"Shipped", kSystemDirSeed, nullptr, nullptr,
     "\"C:\\Program Files\\Corvalen\\ZURedore V12\\bin\\Tessaryn.exe\" /ovx /Automation"},
    // Still written, so that a repaired installation needs only its directory;
    // but the pass says the installation was not found.
    {"NoBinDirectory", nullptr, nullptr, nullptr, "\"\\Tessaryn.exe\" /ovx /Automation", {test::MissingInstallationBox("bin")}},
    {"AbbreviationTrimmed", kSystemDirSeed, " \t ovx \r\n", nullptr,
     "\"C:\\Program Files\\Corvalen\\ZURedore V12\\bin\\Tessaryn.exe\" /ovx /Automation"},
    // The automation server is always the product's own host, whatever the document host is called.
    {"OtherDocumentHost", kSystemDirSeed, nullptr, "Modeller",
     "\"C:\\Program Files\\Corvalen\\ZURedore V12\\bin\\Tessaryn.exe\" /ovx /Automation"},
};

class ApplicationServerCommand : public ApplicationClassTest,
                                 public ::testing::WithParamInterface<ServerCommandCase> {};

TEST_P(ApplicationServerCommand, QuotesTheExecutablePathAndCarriesBothSwitches) {
    const ServerCommandCase& c = GetParam();
    if (c.seed != nullptr) Seed(c.seed);
    if (c.abbreviation != nullptr) strings.Set(IDS_PRODUCT_ABBREV, c.abbreviation);
    if (c.hostBaseName != nullptr) strings.Set(IDS_HOST_BASE_NAME, c.hostBaseName);
    RegisterApplicationClass(kRegister);
    EXPECT_EQ(StringValue(kLocalServer, ""), c.expected);
    EXPECT_EQ(reporter.messages, c.boxes);
}

INSTANTIATE_TEST_SUITE_P(Cases, ApplicationServerCommand, ::testing::ValuesIn(kServerCommandCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ApplicationClassTest, ALongBinDirectoryIsStoredWhole) {
    Seed("REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Dir]\n\"bin\"=\"C:\\\\" +
         std::string(300, 'd') + "\\\\bin\"\n");
    RegisterApplicationClass(kRegister);
    EXPECT_EQ(StringValue(kLocalServer, ""),
              "\"C:\\" + std::string(300, 'd') + "\\bin\\Tessaryn.exe\" /ovx /Automation");
    EXPECT_EQ(reporter.messages, Messages{});
}

struct FailureCase {
    const char* name;
    RegOp op;
    const char* key;
    bool subtree;
    Messages expected;
    const char* missingKey;  // a key that must not exist afterwards, or null
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

const FailureCase kFailureCases[] = {
    {"ReadableProgIdKey",
     RegOp::CreateKey,
     "HKCR\\OVX Application\\CLSID",
     false,
     {"Unable to create Application key entry"},
     "HKCR\\OVX Application\\CLSID"},
    {"ClassKey",
     RegOp::CreateKey,
     "HKCR\\CLSID\\{FDE14674-8E3D-0380-878A-2E97C127D967}",
     false,
     {"Unable to create Application key entry"},
     nullptr},
    {"EveryKey", RegOp::CreateKey, "HKCR", true, Messages(10, "Unable to create Application key entry"),
     "HKCR\\OVX Application"},
    {"ReadableName",
     RegOp::SetValue,
     "HKCR\\OVX Application",
     false,
     {"Unable to create Value OVX Application"},
     nullptr},
    {"ServerCommand",
     RegOp::SetValue,
     kLocalServer,
     false,
     {"Unable to create Value \"C:\\Program Files\\Corvalen\\ZURedore V12\\bin\\Tessaryn.exe\" /ovx "
      "/Automation"},
     nullptr},
    {"EveryValue",
     RegOp::SetValue,
     "HKCR",
     true,
     {"Unable to create Value OVX Application",
      "Unable to create Value {FDE14674-8E3D-0380-878A-2E97C127D967}",
      "Unable to create Value OVX Application 3800", "Unable to create Value OVX Application",
      "Unable to create Value {FDE14674-8E3D-0380-878A-2E97C127D967}", "Unable to create Value Ole32.dll",
      "Unable to create Value \"C:\\Program Files\\Corvalen\\ZURedore V12\\bin\\Tessaryn.exe\" /ovx "
      "/Automation",
      "Unable to create Value OVX Application 3800", "Unable to create Value OVX Application"},
     nullptr},
};

class ApplicationClassFailure : public ApplicationClassTest,
                                public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ApplicationClassFailure, ReportsEachFailedRowAndGoesOnWithTheNext) {
    const FailureCase& c = GetParam();
    Seed(kSystemDirSeed);
    RegistryFault& fault = registry.Fail(c.op, c.key);
    if (c.subtree) fault.Subtree();
    RegisterApplicationClass(kRegister);

    EXPECT_EQ(reporter.messages, c.expected);
    if (c.missingKey != nullptr) {
        EXPECT_FALSE(KeyExists(c.missingKey));
    }
    // Rows after the failed one are written all the same (unless every row failed).
    if (!c.subtree) {
        EXPECT_EQ(
            StringValue("HKCR\\CLSID\\{FDE14674-8E3D-0380-878A-2E97C127D967}\\VersionIndependentProgID", ""),
            "OVX Application");
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ApplicationClassFailure, ::testing::ValuesIn(kFailureCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ApplicationClassTest, TheClassKeyKeepsAnExistingDefaultValue) {
    Seed(std::string(kSystemDirSeed) +
         "\n[HKEY_CLASSES_ROOT\\CLSID\\{FDE14674-8E3D-0380-878A-2E97C127D967}]\n@=\"Kept\"\n");
    RegisterApplicationClass(kRegister);
    EXPECT_EQ(StringValue(kClassKey, ""), "Kept");
}

TEST_F(ApplicationClassTest, RegisteringTwiceEqualsRegisteringOnceAndTakesOverTheCurVer) {
    Seed(std::string(kSystemDirSeed) +
         "\n[HKEY_CLASSES_ROOT\\OVX Application\\CurVer]\n@=\"OVX Application 3700\"\n");
    RegisterApplicationClass(kRegister);
    const std::string once = Export("HKLM\\Software\\Classes");
    RegisterApplicationClass(kRegister);
    EXPECT_EQ(Export("HKLM\\Software\\Classes"), once);
    EXPECT_EQ(StringValue(kCurVer, ""), "OVX Application 3800");
    EXPECT_EQ(reporter.messages, Messages{});
}

TEST_F(ApplicationClassTest, UnregisteringWithNothingRegisteredChangesNothingAndShowsNothing) {
    Seed(std::string(kSystemDirSeed) +
         "\n[HKEY_CLASSES_ROOT\\CLSID\\{00000000-0000-0000-0000-000000000001}]\n@=\"x\"\n");
    const std::string before = Export("HKLM");
    RegisterApplicationClass(kUnregister);
    EXPECT_EQ(Export("HKLM"), before);
    EXPECT_EQ(reporter.messages, Messages{});
}

}  // namespace
}  // namespace qz
