// The language document type key: rebuilt from nothing on every registration.
// When it goes (only while this version is current) is one rule of the whole
// unregistration, in unregistration_test.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "registration/registration_steps.h"
#include "resources/resource_ids.h"
#include "tests/support/registry_fixture.h"

namespace qz {
namespace {

using Messages = std::vector<std::string>;

const char kModulePath[] = "C:\\Program Files\\Orvantis Test\\qzproduct.dll";
const char kDocument[] = "HKCR\\Orvantis Language";
const char kOpenCommand[] = "HKCR\\Orvantis Language\\shell\\Open\\command";
const char kEditCommand[] = "HKCR\\Orvantis Language\\shell\\Edit\\command";

// The system's Dir key doubles as the installed version 38.0 once the product has its 38.0 key.
const char kInstalled[] = R"(REGEDIT4
[HKEY_LOCAL_MACHINE\Software\Corvalen\ZURedore\38.0\Dir]
"bin"="C:\\Program Files\\Corvalen\\ZURedore V12\\bin"
[HKEY_LOCAL_MACHINE\Software\Corvalen\Orvantis\38.0]
)";

const char kRegistered[] = R"(Windows Registry Editor Version 5.00

[HKEY_CLASSES_ROOT\Orvantis Language]
@="Orvantis Language"

[HKEY_CLASSES_ROOT\Orvantis Language\Application]
"ApplicationName"="Orvantis V12"

[HKEY_CLASSES_ROOT\Orvantis Language\CLSID]
@="{8B371C12-D457-11d1-8A13-006097549CDB}"

[HKEY_CLASSES_ROOT\Orvantis Language\DefaultIcon]
@="C:\\Program Files\\Orvantis Test\\qzproduct.dll,1"

[HKEY_CLASSES_ROOT\Orvantis Language\Insertable]

[HKEY_CLASSES_ROOT\Orvantis Language\shell]

[HKEY_CLASSES_ROOT\Orvantis Language\shell\Edit]

[HKEY_CLASSES_ROOT\Orvantis Language\shell\Edit\command]
@="notepad.exe %1"

[HKEY_CLASSES_ROOT\Orvantis Language\shell\Open]

[HKEY_CLASSES_ROOT\Orvantis Language\shell\Open\command]
@="\"C:\\Program Files\\Corvalen\\ZURedore V12\\bin\\Tessaryn.exe\" /ovx \"%1\""

[HKEY_CLASSES_ROOT\Orvantis Language\shell\Open Orvantis V12]

[HKEY_CLASSES_ROOT\Orvantis Language\shell\Open Orvantis V12\command]
@="\"C:\\Program Files\\Corvalen\\ZURedore V12\\bin\\Tessaryn.exe\" /ovx \"%1\""

)";

class LanguageDocumentTypeTest : public test::RegistryFixture {};

TEST_F(LanguageDocumentTypeTest, RegisterRebuildsTheKeyInOrderWithTheClassIdKeyOpenThroughout) {
    Seed(kInstalled);
    RegisterLanguageDocumentType(kRegister, kModulePath);

    EXPECT_EQ(Export(kDocument), kRegistered);
    EXPECT_EQ(reporter.messages, Messages{});
    const std::string doc = "HKEY_CLASSES_ROOT\\Orvantis Language";
    EXPECT_EQ(test::ClassesRootCalls(registry),
              (std::vector<std::string>{
                  "OpenKey " + doc + " = 2",
                  "DeleteKey " + doc + " = 2",
                  "CreateKey " + doc + "\\CLSID = 0",
                  "SetValue " + doc + "\\CLSID -> \"\" = 0",
                  "CreateKey " + doc + "\\DefaultIcon = 0",
                  "SetValue " + doc + "\\DefaultIcon -> \"\" = 0",
                  "CloseKey " + doc + "\\DefaultIcon = 0",
                  "CreateKey " + doc + "\\Application = 0",
                  "SetValue " + doc + "\\Application -> \"ApplicationName\" = 0",
                  "CloseKey " + doc + "\\Application = 0",
                  "CreateKey " + doc + "\\Insertable = 0",
                  "CloseKey " + doc + "\\Insertable = 0",
                  "CreateKey " + doc + "\\shell\\Open Orvantis V12\\command = 0",
                  "SetValue " + doc + "\\shell\\Open Orvantis V12\\command -> \"\" = 0",
                  "CloseKey " + doc + "\\shell\\Open Orvantis V12\\command = 0",
                  "CreateKey " + doc + "\\shell\\Open\\command = 0",
                  "SetValue " + doc + "\\shell\\Open\\command -> \"\" = 0",
                  "CloseKey " + doc + "\\shell\\Open\\command = 0",
                  "CreateKey " + doc + "\\shell\\Edit\\command = 0",
                  "SetValue " + doc + "\\shell\\Edit\\command -> \"\" = 0",
                  "CloseKey " + doc + "\\shell\\Edit\\command = 0",
                  "CloseKey " + doc + "\\CLSID = 0",
                  "CreateKey " + doc + " = 0",
                  "SetValue " + doc + " -> \"\" = 0",
                  "CloseKey " + doc + " = 0",
              }));
}

struct OpenCommandCase {
    const char* name;
    const char* seed;
    const char* hostBaseName;
    const char* expected;
    Messages boxes{};
};
void PrintTo(const OpenCommandCase& c, std::ostream* os) { *os << c.name; }

const OpenCommandCase kOpenCommandCases[] = {
    {"ProductHost", kInstalled, nullptr,
     "\"C:\\Program Files\\Corvalen\\ZURedore V12\\bin\\Tessaryn.exe\" /ovx \"%1\""},
    {"ProductHostUpperCase", kInstalled, "TESSARYN",
     "\"C:\\Program Files\\Corvalen\\ZURedore V12\\bin\\TESSARYN.exe\" /ovx \"%1\""},
    {"OtherHost", kInstalled, "Modeller",
     "\"C:\\Program Files\\Corvalen\\ZURedore V12\\bin\\Modeller.exe\" \"%1\""},
    {"NoBinDirectory", "REGEDIT4\n", nullptr, "\"\\Tessaryn.exe\" /ovx \"%1\"", {test::MissingInstallationBox("bin")}},
};

class LanguageOpenCommand : public LanguageDocumentTypeTest,
                            public ::testing::WithParamInterface<OpenCommandCase> {};

TEST_P(LanguageOpenCommand, QuotesTheHostPathAndTheDocument) {
    const OpenCommandCase& c = GetParam();
    Seed(c.seed);
    if (c.hostBaseName != nullptr) strings.Set(IDS_HOST_BASE_NAME, c.hostBaseName);
    RegisterLanguageDocumentType(kRegister, kModulePath);
    EXPECT_EQ(StringValue(kOpenCommand, ""), c.expected);
    EXPECT_EQ(StringValue(kEditCommand, ""), "notepad.exe %1");
    EXPECT_EQ(reporter.messages, c.boxes);
}

INSTANTIATE_TEST_SUITE_P(Cases, LanguageOpenCommand, ::testing::ValuesIn(kOpenCommandCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LanguageDocumentTypeTest, ALongBinDirectoryGivesAWholeOpenCommand) {
    const std::string bin = "C:\\" + std::string(400, 'd') + "\\bin";
    Seed("REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Dir]\n\"bin\"=\"C:\\\\" +
         std::string(400, 'd') + "\\\\bin\"\n");
    RegisterLanguageDocumentType(kRegister, kModulePath);
    EXPECT_EQ(StringValue(kOpenCommand, ""), "\"" + bin + "\\Tessaryn.exe\" /ovx \"%1\"");
    EXPECT_EQ(reporter.messages, Messages{});
}

// What a registration leaves under the document key: a value, or a key alone.
enum Item {
    TypeName,
    ClassId,
    Icon,
    ApplicationName,
    Insertable,
    VersionedVerb,
    OpenVerb,
    EditVerb,
    kItemCount
};

struct ItemPlace {
    const char* key;
    const char* valueName;  // null: the key alone
};
const ItemPlace kItemPlaces[kItemCount] = {
    {kDocument, ""},
    {"HKCR\\Orvantis Language\\CLSID", ""},
    {"HKCR\\Orvantis Language\\DefaultIcon", ""},
    {"HKCR\\Orvantis Language\\Application", "ApplicationName"},
    {"HKCR\\Orvantis Language\\Insertable", nullptr},
    {"HKCR\\Orvantis Language\\shell\\Open Orvantis V12\\command", ""},
    {kOpenCommand, ""},
    {kEditCommand, ""},
};

struct FailureCase {
    const char* name;
    RegOp op;
    const char* key;
    Messages expected;
    std::vector<Item> missing;  // everything else is written
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

const FailureCase kFailureCases[] = {
    // Nothing below the document is written, but the type name still is.
    {"ClassIdKey",
     RegOp::CreateKey,
     "HKCR\\Orvantis Language\\CLSID",
     {"Error creating document key"},
     {ClassId, Icon, ApplicationName, Insertable, VersionedVerb, OpenVerb, EditVerb}},
    {"ClassIdValue",
     RegOp::SetValue,
     "HKCR\\Orvantis Language\\CLSID",
     {"Unable to create document class id"},
     {ClassId}},
    {"IconKey",
     RegOp::CreateKey,
     "HKCR\\Orvantis Language\\DefaultIcon",
     {"Unable to create document Default Icon"},
     {Icon}},
    {"IconValue",
     RegOp::SetValue,
     "HKCR\\Orvantis Language\\DefaultIcon",
     {"Unable to create document Default Icon"},
     {Icon}},
    {"ApplicationKey",
     RegOp::CreateKey,
     "HKCR\\Orvantis Language\\Application",
     {"Unable to create document Application"},
     {ApplicationName}},
    {"ApplicationValue",
     RegOp::SetValue,
     "HKCR\\Orvantis Language\\Application",
     {"Unable to create document Application"},
     {ApplicationName}},
    {"InsertableKey",
     RegOp::CreateKey,
     "HKCR\\Orvantis Language\\Insertable",
     {"Unable to create document insertable key"},
     {Insertable}},
    {"OpenVerbKey", RegOp::CreateKey, kOpenCommand, {"Error creating shell key"}, {OpenVerb}},
    {"OpenVerbValue",
     RegOp::SetValue,
     kOpenCommand,
     {"Unable to create shell document registry entry"},
     {OpenVerb}},
    {"EditVerbKey", RegOp::CreateKey, kEditCommand, {"Error creating shell key"}, {EditVerb}},
    {"EditVerbValue",
     RegOp::SetValue,
     kEditCommand,
     {"Unable to create shell document registry entry"},
     {EditVerb}},
    // The type key could not be opened for its name: silent.
    {"TypeKey", RegOp::CreateKey, kDocument, {}, {TypeName}},
    {"TypeValue", RegOp::SetValue, kDocument, {"Unable to assign value to document class name"}, {TypeName}},
};

class LanguageDocumentTypeFailure : public LanguageDocumentTypeTest,
                                    public ::testing::WithParamInterface<FailureCase> {};

TEST_P(LanguageDocumentTypeFailure, ReportsItsOwnMessageAndWritesTheRest) {
    const FailureCase& c = GetParam();
    Seed(kInstalled);
    registry.Fail(c.op, c.key);
    RegisterLanguageDocumentType(kRegister, kModulePath);

    EXPECT_EQ(reporter.messages, c.expected);
    for (int item = 0; item < kItemCount; ++item) {
        const ItemPlace& place = kItemPlaces[item];
        const bool present = place.valueName == nullptr ? KeyExists(place.key)
                                                        : StringValue(place.key, place.valueName).has_value();
        const bool missing = std::find(c.missing.begin(), c.missing.end(), item) != c.missing.end();
        EXPECT_EQ(present, !missing) << place.key;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, LanguageDocumentTypeFailure, ::testing::ValuesIn(kFailureCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LanguageDocumentTypeTest, AFailedClassIdKeyLooksForNoInstalledVersions) {
    Seed(kInstalled);
    registry.Fail(RegOp::CreateKey, "HKCR\\Orvantis Language\\CLSID");
    RegisterLanguageDocumentType(kRegister, kModulePath);
    for (const std::string& opened : registry.CallsOf(RegOp::OpenKey))
        EXPECT_EQ(opened.find("ZUREDORE"), std::string::npos) << opened;
}

TEST_F(LanguageDocumentTypeTest, RegisteringAgainDropsWhatTheLastRegistrationLeftAndEqualsOnePass) {
    Seed(std::string(kInstalled) + R"(
[HKEY_CLASSES_ROOT\Orvantis Language]
"Stale"="left over"
[HKEY_CLASSES_ROOT\Orvantis Language\shell\Open Orvantis V7\command]
@="old"
)");
    RegisterLanguageDocumentType(kRegister, kModulePath);
    EXPECT_EQ(Export(kDocument), kRegistered);
    RegisterLanguageDocumentType(kRegister, kModulePath);
    EXPECT_EQ(Export(kDocument), kRegistered);
    EXPECT_EQ(reporter.messages, Messages{});
}

TEST_F(LanguageDocumentTypeTest, UnregisteringWithNothingRegisteredChangesNothingAndShowsNothing) {
    Seed(kInstalled);
    const std::string before = Export("HKLM");
    RegisterLanguageDocumentType(kUnregister, "");
    EXPECT_EQ(Export("HKLM"), before);
    EXPECT_EQ(reporter.messages, Messages{});
}

}  // namespace
}  // namespace qz
