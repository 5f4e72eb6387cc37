// Installations in unusual folders and values other tools leave: a label taken
// from the folder, an expandable directory naming a variable the process does
// not have, a comma in a directory that goes into a menu line, and an empty
// default value in the system's Options key.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "module/registration_driver.h"
#include "registration/environment.h"
#include "registry/api/registry_table.h"
#include "registry/api/registry_table_adapters.h"
#include "registration/module_state.h"
#include "registration/product_lookups.h"
#include "registration/registration_steps.h"
#include "tests/support/registry_fixture.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace qz {
namespace {

using Messages = std::vector<std::string>;

const char kDir[] = "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Dir";
const char kShell[] = "HKCR\\Orvantis Language\\shell\\";

void SetVariable(const char* name, const char* value) {
#ifdef _WIN32
    SetEnvironmentVariableA(name, value);
#else
    if (value != nullptr)
        setenv(name, value, 1);
    else
        unsetenv(name);
#endif
}

class UnusualInstallationsTest : public test::RegistryFixture {
protected:
    void TearDown() override {
        SetVariable("QZ_TEST_SET_ROOT", nullptr);
        RegistryFixture::TearDown();
    }
};

TEST(NamesOnlyDefinedVariables, TellsAReferenceToAnUnsetVariableFromTextThatOnlyHasPercentSigns) {
    SetVariable("QZ_TEST_SET_ROOT", "D:\\Apps");
    struct Case {
        const char* text;
        bool expected;
    };
    const Case cases[] = {
        {"C:\\ZU\\bin", true},
        {"%QZ_TEST_SET_ROOT%\\bin", true},
        {"%qz_test_set_root%\\bin", true},
        {"%QZ_TEST_UNSET_ROOT%\\bin", false},
        {"%QZ_TEST_SET_ROOT%\\%QZ_TEST_UNSET_ROOT%", false},
        {"%QZ_TEST_SET_ROOT%%QZ_TEST_UNSET_ROOT%", false},
        // Percent signs that are no reference: around a backslash, around nothing, alone.
        {"C:\\50%\\x\\60%\\bin", true},
        {"C:\\100%%\\bin", true},
        {"C:\\100%\\bin", true},
        // The second % of a pair that is no name may open the next one.
        {"C:\\5%\\%QZ_TEST_UNSET_ROOT%", false},
    };
    for (const Case& c : cases) EXPECT_EQ(NamesOnlyDefinedVariables(c.text), c.expected) << c.text;
    SetVariable("QZ_TEST_SET_ROOT", nullptr);
}

// A directory that keeps a reference after expansion is no directory: one box
// per value and pass, naming the value, and the steps get no directory.
TEST_F(UnusualInstallationsTest, AnExpandableDirectoryNamingAnUnsetVariableIsUnusable) {
    Seed(std::string("REGEDIT4\n[") + kDir + "]\n\"lib\"=hex(2):25,51,5a,5f,54,45,53,54,5f,55,4e,53,45,54,25,5c,6c,69,62,00\n");
    EXPECT_EQ(GetInstallDirectory(InstallDirectoryKind::Lib), "");
    EXPECT_EQ(GetInstallDirectory(InstallDirectoryKind::Lib), "");
    EXPECT_EQ(reporter.messages, (Messages{std::string("The value lib of ") + kDir +
                                           " cannot be a directory path: %QZ_TEST_UNSET%\\lib"}));

    SetVariable("QZ_TEST_UNSET", "D:\\Apps");
    EXPECT_EQ(GetInstallDirectory(InstallDirectoryKind::Lib), "D:\\Apps\\lib");
    SetVariable("QZ_TEST_UNSET", nullptr);
}

// A host that hands the pass its variables (the package's action hands the machine's
// own): the expandable directories expand with those alone. The process's value of the
// same name changes nothing, and a name the host does not set is not set, whatever the
// process has: the pass fails as without the variable.
TEST_F(UnusualInstallationsTest, AHostsVariablesAloneExpandTheDirectories) {
    Seed(std::string("REGEDIT4\n[") + kDir +
         "]\n\"bin\"=\"C:\\\\ZURedore V12\\\\bin\"\n\"help\"=\"C:\\\\ZURedore V12\\\\help\"\n"
         "\"lib\"=hex(2):25,51,5a,5f,54,45,53,54,5f,53,45,54,5f,52,4f,4f,54,25,5c,6c,69,62,00\n");
    SetVariable("QZ_TEST_SET_ROOT", "C:\\users\\Public\\planted");
    const std::string libraries = "HKLM\\Software\\Corvalen\\Orvantis\\38.0\\Default Libraries";
    struct Case {
        const char* what;
        std::optional<std::u16string> hostsValue;  // nullopt: the host does not set it
        bool succeeds;
    };
    const Case cases[] = {
        {"the host's value", u"D:\\Machine", true},
        {"unset for the host, set for the process", std::nullopt, false},
    };
    for (const Case& c : cases) {
        HostedRegistry hosted;
        hosted.registry = &registry;
        std::vector<std::string> messages;
        hosted.reportError = [&messages](const std::string& message) { messages.push_back(message); };
        hosted.environmentVariable = [&c](const std::u16string& name) -> std::optional<std::u16string> {
            if (name == u"qz_test_set_root" || name == u"QZ_TEST_SET_ROOT") return c.hostsValue;
            return std::nullopt;
        };
        const QzRegistryTable table = RegistryTableFor(hosted);
        EXPECT_EQ(QzRunRegistrationPass(&table, QZ_PASS_REGISTER, "C:\\m.dll") == 0, c.succeeds) << c.what;
        const std::string exported = Export(libraries);
        EXPECT_EQ(exported.find("planted"), std::string::npos) << c.what << "\n" << exported;
        if (c.succeeds) EXPECT_NE(exported.find("D:\\\\Machine\\\\lib"), std::string::npos) << c.what << "\n" << exported;
        if (!c.succeeds) EXPECT_FALSE(messages.empty()) << c.what;
    }
    EXPECT_EQ(reporter.messages, Messages{}) << "the host gets the messages";
}

// The host splits a Help line at its commas: a help directory with one would
// add a field. Those two lines are left out, the others written, one box.
TEST_F(UnusualInstallationsTest, AHelpDirectoryWithACommaLeavesItsMenuLinesOutWithOneBox) {
    Seed(std::string("REGEDIT4\n[") + kDir + "]\n\"help\"=\"C:\\\\Program Files\\\\Corvalen, Ltd\\\\help\"\n");
    RegisterHelpMenu(kRegister);

    const std::string help = "HKLM\\Software\\Corvalen\\Orvantis\\38.0\\Menus\\Help";
    EXPECT_EQ(StringValue(help, "0"), std::nullopt);
    EXPECT_EQ(StringValue(help, "1"), std::nullopt);
    for (const char* line : {"2", "3", "4", "5", "6", "7", "8"}) EXPECT_NE(StringValue(help, line), std::nullopt) << line;
    EXPECT_EQ(reporter.messages,
              (Messages{std::string("The value help of ") + kDir +
                        " cannot be a directory path in a comma-separated menu line: "
                        "C:\\Program Files\\Corvalen, Ltd\\help"}));
}

// The label of this version's verb comes from its installation's folder, and
// the unregistration finds it as the registration did; other versions' verbs
// stay.
TEST_F(UnusualInstallationsTest, TheUnregistrationRemovesTheVerbTheInstallationFolderNamed) {
    Seed(R"(Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\Software\Corvalen\ZURedore\38.0\Dir]
"bin"="C:\\Apps\\ZURedore V12 Update 2\\bin"

[HKEY_LOCAL_MACHINE\Software\Corvalen\ZURedore\37.0\Dir]
"Bin"="C:\\Apps\\ZURedore V11\\bin"

[HKEY_LOCAL_MACHINE\Software\Corvalen\Orvantis\37.0]

[HKEY_LOCAL_MACHINE\Software\Corvalen\Orvantis\38.0]
)");
    RegisterLanguageDocumentType(kRegister, "C:\\m.dll");
    ASSERT_TRUE(KeyExists(std::string(kShell) + "Open Orvantis V12 Update 2\\command"));
    ASSERT_TRUE(KeyExists(std::string(kShell) + "Open Orvantis V11\\command"));
    Seed(std::string("REGEDIT4\n[") + kShell + "Open Orvantis V12\\command]\n@=\"x\"\n");

    RemoveProductKeys();
    EXPECT_FALSE(KeyExists(std::string(kShell) + "Open Orvantis V12 Update 2"));
    EXPECT_FALSE(KeyExists(std::string(kShell) + "Open Orvantis V12"));
    EXPECT_TRUE(KeyExists(std::string(kShell) + "Open Orvantis V11\\command"));
    EXPECT_TRUE(KeyExists(std::string(kShell) + "Open\\command"));
    EXPECT_EQ(reporter.messages, Messages{});
}

// An installation's Bin that could not give a verb gives none to remove
// either: only the fixed label's verb is looked for.
TEST_F(UnusualInstallationsTest, AnUnusableInstallationBinRemovesOnlyTheFixedLabelsVerb) {
    Seed(std::string("Windows Registry Editor Version 5.00\n[") + kDir +
         "]\n\"bin\"=\"C:\\\\Apps\\\\ZURedore V9\\\\bin\\\"\"\n[" + kShell +
         "Open Orvantis V9\\command]\n@=\"x\"\n[" + kShell + "Open Orvantis V12\\command]\n@=\"x\"\n");
    RemoveProductKeys();
    EXPECT_TRUE(KeyExists(std::string(kShell) + "Open Orvantis V9\\command"));
    EXPECT_FALSE(KeyExists(std::string(kShell) + "Open Orvantis V12"));
    EXPECT_EQ(reporter.messages, Messages{});
}

// `reg add` of the Options key leaves an empty default value: no product.
TEST_F(UnusualInstallationsTest, AnEmptyDefaultValueInTheOptionsKeyIsNoProduct) {
    const std::string options = "[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Options]\n";
    Seed("REGEDIT4\n" + options + "@=\"\"\n");
    EXPECT_EQ(CountSystemOptionsValues(), 0);
    Seed("REGEDIT4\n" + options + "\"pwk\"=\"Pellwick\"\n");
    EXPECT_EQ(CountSystemOptionsValues(), 1);

    // With the last product gone, the library keys go although the default value stays.
    Seed("REGEDIT4\n" + options + "\"pwk\"=-\n[HKEY_CLASSES_ROOT\\.ovxl]\n@=\"Tavrin Model Library\"\n"
         "[HKEY_CLASSES_ROOT\\Tavrin Model Library\\CLSID]\n@=\"{x}\"\n");
    RegisterDocumentSuffixes(kUnregister);
    RegisterLibraryDocumentClass(kUnregister);
    EXPECT_FALSE(KeyExists("HKCR\\.ovxl"));
    EXPECT_FALSE(KeyExists("HKCR\\Tavrin Model Library"));
    EXPECT_EQ(reporter.messages, Messages{});
}

}  // namespace
}  // namespace qz
