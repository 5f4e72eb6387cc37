// The language document's COM class with its OLE server keys, and the library
// document class's icon.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "registration/registration_steps.h"
#include "resources/resource_ids.h"
#include "tests/support/product_identity.h"
#include "tests/support/registry_fixture.h"

namespace qz {
namespace {

using Messages = std::vector<std::string>;

const char kModulePath[] = "C:\\Program Files\\Orvantis Test\\qzproduct.dll";
const char kObjectClass[] = "HKCR\\CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}";
const char kLibraryClass[] = "HKCR\\CLSID\\{3209ADC4-9264-11D1-B147-00A024F1AC65}";
const char kLibraryIcon[] = "HKCR\\CLSID\\{3209ADC4-9264-11D1-B147-00A024F1AC65}\\DefaultIcon";
const char kLocalServer[] = "HKCR\\CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}\\LocalServer32";

using test::kSystemDirSeed;

struct Row {
    const char* key;  // below the classes root
    const char* value;
};
const Row kRows[] = {
    {"CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}\\AuxUserType\\2", "ovxf View"},
    {"CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}\\AuxUserType\\3", "Orvantis"},
    {"CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}\\DefaultIcon",
     "C:\\Program Files\\Orvantis Test\\qzproduct.dll,1"},
    {"CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}\\InprocHandler32", "ole32"},
    {"CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}\\LocalServer32",
     "\"C:\\Program Files\\Corvalen\\ZURedore V12\\bin\\Tessaryn.exe\" /ovx"},
    {"CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}\\MiscStatus", "32"},
    {"CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}\\ProgID", "Orvantis Language"},
    {"CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}\\Verb\\0", "&Edit,0,2"},
    {"CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}\\Verb\\1", "&Open,0,2"},
    {"CLSID\\{3209ADC4-9264-11D1-B147-00A024F1AC65}\\DefaultIcon",
     "C:\\Program Files\\Orvantis Test\\qzproduct.dll,0"},
};

class DocumentObjectClassTest : public test::RegistryFixture {};

TEST_F(DocumentObjectClassTest, RegisterWritesTheNineRowsThenTheLibraryIconEachKeyClosedBeforeTheNext) {
    Seed(kSystemDirSeed);
    RegisterDocumentObjectClass(kRegister, kModulePath);

    std::vector<std::string> expected;
    for (const Row& row : kRows) {
        const std::string key = std::string("HKEY_CLASSES_ROOT\\") + row.key;
        expected.push_back("CreateKey " + key + " = 0");
        expected.push_back("SetValue " + key + " -> \"\" = 0");
        expected.push_back("CloseKey " + key + " = 0");
        EXPECT_EQ(StringValue(key, ""), row.value) << key;
    }
    EXPECT_EQ(test::ClassesRootCalls(registry), expected);
    // Neither class key gets a default value of its own.
    EXPECT_EQ(StringValue(kObjectClass, ""), std::nullopt);
    EXPECT_EQ(StringValue(kLibraryClass, ""), std::nullopt);
    EXPECT_EQ(reporter.messages, Messages{});
}

struct ServerCommandCase {
    const char* name;
    const char* seed;
    const char* hostBaseName;
    const char* abbreviation;
    const char* expected;
    Messages boxes{};
};
void PrintTo(const ServerCommandCase& c, std::ostream* os) { *os << c.name; }

const ServerCommandCase kServerCommandCases[] = {
    {"ProductHost", kSystemDirSeed, nullptr, nullptr,
     "\"C:\\Program Files\\Corvalen\\ZURedore V12\\bin\\Tessaryn.exe\" /ovx"},
    // The name keeps the case it was loaded in; the switch follows any case of the product host.
    {"ProductHostUpperCase", kSystemDirSeed, "TESSARYN", nullptr,
     "\"C:\\Program Files\\Corvalen\\ZURedore V12\\bin\\TESSARYN.exe\" /ovx"},
    {"ProductHostLowerCase", kSystemDirSeed, "tessaryn", nullptr,
     "\"C:\\Program Files\\Corvalen\\ZURedore V12\\bin\\tessaryn.exe\" /ovx"},
    {"OtherHost", kSystemDirSeed, "Modeller", nullptr,
     "\"C:\\Program Files\\Corvalen\\ZURedore V12\\bin\\Modeller.exe\""},
    {"HostNameWithSuffix", kSystemDirSeed, "Tessaryn2", nullptr,
     "\"C:\\Program Files\\Corvalen\\ZURedore V12\\bin\\Tessaryn2.exe\""},
    {"NoBinDirectory", nullptr, nullptr, nullptr, "\"\\Tessaryn.exe\" /ovx", {test::MissingInstallationBox("bin")}},
    {"AbbreviationTrimmed", kSystemDirSeed, nullptr, "  ovx\t\n",
     "\"C:\\Program Files\\Corvalen\\ZURedore V12\\bin\\Tessaryn.exe\" /ovx"},
};

class DocumentObjectServerCommand : public DocumentObjectClassTest,
                                    public ::testing::WithParamInterface<ServerCommandCase> {};

TEST_P(DocumentObjectServerCommand, QuotesTheHostPathAndSwitchesOnlyTheProductHost) {
    const ServerCommandCase& c = GetParam();
    if (c.seed != nullptr) Seed(c.seed);
    if (c.hostBaseName != nullptr) strings.Set(IDS_HOST_BASE_NAME, c.hostBaseName);
    if (c.abbreviation != nullptr) strings.Set(IDS_PRODUCT_ABBREV, c.abbreviation);
    RegisterDocumentObjectClass(kRegister, kModulePath);
    EXPECT_EQ(StringValue(kLocalServer, ""), c.expected);
    EXPECT_EQ(reporter.messages, c.boxes);
}

INSTANTIATE_TEST_SUITE_P(Cases, DocumentObjectServerCommand, ::testing::ValuesIn(kServerCommandCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct FailureCase {
    const char* name;
    RegOp op;
    const char* key;
    bool subtree;
    Messages expected;
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

const FailureCase kFailureCases[] = {
    {"RowKey",
     RegOp::CreateKey,
     "HKCR\\CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}\\AuxUserType\\2",
     false,
     {"Unable to create Key CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}\\AuxUserType\\2"}},
    {"RowValue",
     RegOp::SetValue,
     "HKCR\\CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}\\InprocHandler32",
     false,
     {"Unable to create Value ole32"}},
    {"ServerCommandValue",
     RegOp::SetValue,
     kLocalServer,
     false,
     {"Unable to create Value \"C:\\Program Files\\Corvalen\\ZURedore V12\\bin\\Tessaryn.exe\" /ovx"}},
    {"EveryRowKey",
     RegOp::CreateKey,
     "HKCR\\CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}",
     true,
     {"Unable to create Key CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}\\AuxUserType\\2",
      "Unable to create Key CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}\\AuxUserType\\3",
      "Unable to create Key CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}\\DefaultIcon",
      "Unable to create Key CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}\\InprocHandler32",
      "Unable to create Key CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}\\LocalServer32",
      "Unable to create Key CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}\\MiscStatus",
      "Unable to create Key CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}\\ProgID",
      "Unable to create Key CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}\\Verb\\0",
      "Unable to create Key CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}\\Verb\\1"}},
    // The library class's icon key is passed over silently; its value is not.
    {"LibraryIconKey", RegOp::CreateKey, kLibraryIcon, false, {}},
    {"LibraryIconValue",
     RegOp::SetValue,
     kLibraryIcon,
     false,
     {"Unable to create Value C:\\Program Files\\Orvantis Test\\qzproduct.dll,0"}},
};

class DocumentObjectClassFailure : public DocumentObjectClassTest,
                                   public ::testing::WithParamInterface<FailureCase> {};

TEST_P(DocumentObjectClassFailure, ReportsTheRowAndGoesOn) {
    const FailureCase& c = GetParam();
    Seed(kSystemDirSeed);
    RegistryFault& fault = registry.Fail(c.op, c.key);
    if (c.subtree) fault.Subtree();
    RegisterDocumentObjectClass(kRegister, kModulePath);

    EXPECT_EQ(reporter.messages, c.expected);
    // The last row and the library icon do not depend on the earlier rows.
    if (!c.subtree) {
        EXPECT_EQ(StringValue(std::string(kObjectClass) + "\\Verb\\1", ""), "&Open,0,2");
    }
    if (c.op != RegOp::CreateKey || std::string(c.key) != kLibraryIcon) {
        EXPECT_TRUE(KeyExists(kLibraryIcon));
    } else {
        EXPECT_FALSE(KeyExists(kLibraryIcon));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, DocumentObjectClassFailure, ::testing::ValuesIn(kFailureCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DocumentObjectClassTest, RegisteringAgainRewritesTheValuesAndKeepsEverythingElse) {
    Seed(std::string(kSystemDirSeed) + R"(
[HKEY_CLASSES_ROOT\CLSID\{8B371C12-D457-11d1-8A13-006097549CDB}]
@="Language document"
[HKEY_CLASSES_ROOT\CLSID\{8B371C12-D457-11d1-8A13-006097549CDB}\MiscStatus]
@="0"
"1"="131473"
[HKEY_CLASSES_ROOT\CLSID\{8B371C12-D457-11d1-8A13-006097549CDB}\Implemented Categories]
)");
    RegisterDocumentObjectClass(kRegister, kModulePath);
    const std::string once = Export("HKLM\\Software\\Classes");
    RegisterDocumentObjectClass(kRegister, kModulePath);
    EXPECT_EQ(Export("HKLM\\Software\\Classes"), once);

    EXPECT_EQ(StringValue(kObjectClass, ""), "Language document");
    EXPECT_EQ(StringValue(std::string(kObjectClass) + "\\MiscStatus", ""), "32");
    EXPECT_EQ(StringValue(std::string(kObjectClass) + "\\MiscStatus", "1"), "131473");
    EXPECT_TRUE(KeyExists(std::string(kObjectClass) + "\\Implemented Categories"));
}

TEST_F(DocumentObjectClassTest, UnregisteringWithNothingRegisteredChangesNothingAndShowsNothing) {
    Seed(std::string(kSystemDirSeed) +
         "\n[HKEY_CLASSES_ROOT\\CLSID\\{00000000-0000-0000-0000-000000000001}]\n@=\"x\"\n");
    const std::string before = Export("HKLM");
    RegisterDocumentObjectClass(kUnregister, "");
    EXPECT_EQ(Export("HKLM"), before);
    EXPECT_EQ(reporter.messages, Messages{});
}

}  // namespace
}  // namespace qz
