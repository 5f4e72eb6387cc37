// The document types and COM classes as the real DLL writes and removes them
// under Wine: regsvr32 in a new process for every pass, the classes root
// exported and compared with .reg files written by hand.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "tests/support/module_e2e.h"
#include "tests/support/windows_commands.h"

namespace qz::test {
namespace {

const char kFixtures[] = "tests/e2e/fixtures/";

// Every classes-root key the document and class registrations write or remove, and
// the key of another application version that one scenario adds. Listed in the
// order of the expected fixtures.
const char* const kDocumentKeys[] = {
    "HKEY_CLASSES_ROOT\\.ovxf",
    "HKEY_CLASSES_ROOT\\.ovxl",
    "HKEY_CLASSES_ROOT\\CLSID\\{3209ADC4-9264-11D1-B147-00A024F1AC65}",
    "HKEY_CLASSES_ROOT\\CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}",
    "HKEY_CLASSES_ROOT\\CLSID\\{FDE14674-8E3D-0380-878A-2E97C127D967}",
    "HKEY_CLASSES_ROOT\\Orvantis Language",
    "HKEY_CLASSES_ROOT\\OVX Application",
    "HKEY_CLASSES_ROOT\\OVX Application 3700",
    "HKEY_CLASSES_ROOT\\OVX Application 3800",
    "HKEY_CLASSES_ROOT\\Tavrin Model Library",
};

const char kRegHeader[] = "Windows Registry Editor Version 5.00\n\n";

// The exports of all document keys as one .reg text: one header, then each
// existing key's tree in list order.
std::string ExportDocumentKeys() {
    std::string text = kRegHeader;
    for (const char* key : kDocumentKeys) {
        const std::string exported = ExportKey(key);
        if (exported.empty()) continue;
        EXPECT_EQ(exported.compare(0, sizeof kRegHeader - 1, kRegHeader), 0) << exported;
        text += exported.substr(sizeof kRegHeader - 1);
    }
    return text;
}

std::string Fixture(const std::string& name) { return std::string(kFixtures) + name; }

// The tests of this program share one prefix: each starts from a registry without
// the document keys and with nothing under the company keys but what it seeds.
class DocumentsTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string classesRoot = "HKEY_CLASSES_ROOT\\";
        for (const char* key : kDocumentKeys) RegDeleteTreeA(HKEY_CLASSES_ROOT, key + classesRoot.size());
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\Corvalen");
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\Wow6432Node\\Corvalen");
        ASSERT_EQ(ExportDocumentKeys(), kRegHeader);
        ImportRegFixture(Fixture("documents_seed.reg"));
    }
};

std::string StringValue(HKEY root, const char* path, const char* name) {
    char data[4096] = {};
    DWORD size = sizeof data - 1;
    if (RegGetValueA(root, path, name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
        return "<missing>";
    return data;
}

struct UnregistrationCase {
    const char* name;
    const char* changeAfterRegistration;  // a fixture imported between the passes, or null
    bool removeOtherProduct;              // the other product's Options value goes before unregistering
    const char* expectedAfterUnregistration;
};

const UnregistrationCase kUnregistrationCases[] = {
    // This version current, another product left: the library suffix and type stay.
    {"ThisVersionCurrent", nullptr, false, "documents_unregistered.reg"},
    // Another application version current: only this version's ProgID, class and verb go.
    {"OtherVersionCurrent", "documents_other_version_current.reg", false,
     "documents_unregistered_other_version_current.reg"},
    // The last product of the family: nothing of the document keys is left.
    {"LastProduct", nullptr, true, "documents_unregistered_last_product.reg"},
};

class DocumentsUnderWine : public DocumentsTest, public ::testing::WithParamInterface<UnregistrationCase> {};

TEST_P(DocumentsUnderWine, RegistrationWritesAndUnregistrationRemovesExactlyTheDocumentKeys) {
    const UnregistrationCase& c = GetParam();
    const std::string dll = InstallModuleCopy();

    ASSERT_EQ(RunRegsvr32(dll, false), 0);
    EXPECT_EQ(ExportDocumentKeys(), ReadRegFixture(Fixture("documents_registered.reg")));

    if (c.changeAfterRegistration != nullptr) ImportRegFixture(Fixture(c.changeAfterRegistration));
    if (c.removeOtherProduct) {
        ASSERT_EQ(
            RunWindowsCommand("reg delete \"HKLM\\Software\\Corvalen\\ZURedore\\38.0\\Options\" /v pwk /f"),
            0);
    }

    ASSERT_EQ(RunRegsvr32(dll, true), 0);
    EXPECT_EQ(ExportDocumentKeys(), ReadRegFixture(Fixture(c.expectedAfterUnregistration)));
}

INSTANTIATE_TEST_SUITE_P(Scenarios, DocumentsUnderWine, ::testing::ValuesIn(kUnregistrationCases),
                         [](const ::testing::TestParamInfo<UnregistrationCase>& info) {
                             return info.param.name;
                         });

TEST_F(DocumentsTest, RegisteringTwiceEqualsRegisteringOnceAndClaimsCurVer) {
    ImportRegFixture(Fixture("documents_other_version_current.reg"));
    const std::string dll = InstallModuleCopy();
    ASSERT_EQ(RunRegsvr32(dll, false), 0);
    ASSERT_EQ(RunRegsvr32(dll, false), 0);

    // The other version's ProgID is not this module's business; everything else is as after one pass.
    std::string expected = ReadRegFixture(Fixture("documents_registered.reg"));
    const std::string otherVersion =
        "[HKEY_CLASSES_ROOT\\OVX Application 3700]\n@=\"OVX Application\"\n\n"
        "[HKEY_CLASSES_ROOT\\OVX Application 3700\\CLSID]\n@=\"{FDE14674-8E3D-0370-878A-2E97C127D967}\"\n\n";
    expected.insert(expected.find("[HKEY_CLASSES_ROOT\\OVX Application 3800]"), otherVersion);
    EXPECT_EQ(ExportDocumentKeys(), expected);
}

TEST_F(DocumentsTest, TheSuffixSettingRecordsTheSuffixWithoutItsDot) {
    const std::string dll = InstallModuleCopy();
    ASSERT_EQ(RunRegsvr32(dll, false), 0);
    EXPECT_EQ(StringValue(HKEY_LOCAL_MACHINE, "Software\\Corvalen\\Orvantis\\38.0\\Suffix", "ASCII"),
              "ovxf,Orvantis Language");
}

// A version name outside ASCII reaches the system key through the ANSI code page:
// the euro sign is one byte (0x80) in Windows-1252, two nonzero bytes in UTF-16.
TEST_F(DocumentsTest, AVersionNameOutsideAsciiGetsItsVerb) {
    if (GetACP() != 1252) GTEST_SKIP() << "needs Windows-1252 as the ANSI code page, have " << GetACP();
    ImportRegFixture(Fixture("documents_seed_version_name.reg"));
    const std::string dll = InstallModuleCopy();
    ASSERT_EQ(RunRegsvr32(dll, false), 0);
    EXPECT_EQ(StringValue(HKEY_CLASSES_ROOT, "Orvantis Language\\shell\\Open Orvantis V13\\command", ""),
              "\"C:\\Program Files\\Corvalen\\ZURedore V13\\bin\\Tessaryn.exe\" /ovx \"%1\"");
}

TEST_F(DocumentsTest, UnregisteringWithNothingRegisteredLeavesTheDocumentKeysAbsent) {
    const std::string dll = InstallModuleCopy();
    const HookedPass pass = RunHookedPass(dll, true);
    EXPECT_EQ(pass.result, 0);
    EXPECT_TRUE(pass.boxes.empty());
    EXPECT_EQ(ExportDocumentKeys(), kRegHeader);
}

// With every key creation under the classes root refused, each document step shows
// exactly its own messages, in the driver's order; the settings steps, which write
// elsewhere, show none.
TEST_F(DocumentsTest, AnUnwritableClassesRootShowsEachStepsMessagesInOrder) {
    const std::string dll = InstallModuleCopy();
    const HookedPass pass = RunHookedPass(dll, false, {"RegCreateKeyExW:HKEY_CLASSES_ROOT\\*"});

    const std::string objectClass = "CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}\\";
    std::vector<std::string> expected = {
        "Unable to create ASCII document suffix entry",
        "Unable to create Library document suffix entry",
        "Error creating document key",
        "Unable to create library document class id",
    };
    for (const char* subkey : {"AuxUserType\\2", "AuxUserType\\3", "DefaultIcon", "InprocHandler32",
                               "LocalServer32", "MiscStatus", "ProgID", "Verb\\0", "Verb\\1"})
        expected.push_back("Unable to create Key " + objectClass + subkey);
    for (int row = 0; row < 10; ++row) expected.push_back("Unable to create Application key entry");

    EXPECT_EQ(BoxTexts(pass.boxes), expected);
    EXPECT_EQ(ExportDocumentKeys(), kRegHeader);
}

// Refused value writes name the data that could not be stored.
TEST_F(DocumentsTest, RefusedValueWritesNameTheirData) {
    const std::string dll = InstallModuleCopy();
    const HookedPass pass = RunHookedPass(
        dll, false,
        {"RegSetValueExW:HKEY_CLASSES_ROOT\\Orvantis Language\\*",
         "RegSetValueExW:HKEY_CLASSES_ROOT\\CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}\\LocalServer32",
         "RegSetValueExW:HKEY_CLASSES_ROOT\\CLSID\\{3209ADC4-9264-11D1-B147-00A024F1AC65}\\DefaultIcon",
         "RegSetValueExW:HKEY_CLASSES_ROOT\\OVX Application\\CurVer"});

    const std::string module = "C:\\Program Files\\Orvantis Test\\qzproduct.dll";
    const std::vector<std::string> expected = {
        "Unable to create document class id",
        "Unable to create document Default Icon",
        "Unable to create document Application",
        // Four versioned verbs (V9 and V11 from the 32-bit view, V11 and V12 from the native one),
        // then the Open and Edit rows.
        "Unable to create shell document registry entry",
        "Unable to create shell document registry entry",
        "Unable to create shell document registry entry",
        "Unable to create shell document registry entry",
        "Unable to create shell document registry entry",
        "Unable to create shell document registry entry",
        "Unable to assign value to document class name",
        "Unable to create Value \"C:\\Program Files\\Corvalen\\ZURedore V12\\bin\\Tessaryn.exe\" /ovx",
        "Unable to create Value " + module + ",0",
        "Unable to create Value OVX Application 3800",
    };
    EXPECT_EQ(BoxTexts(pass.boxes), expected);
}

}  // namespace
}  // namespace qz::test
