#include "tests/support/real_machine_states.h"

#include <gtest/gtest.h>


#include "tests/support/key_chain_names.h"
#include "tests/support/test_services.h"
#include "tests/support/unusual_installation_states.h"
#include "tests/support/product_identity.h"
#include "text/utf16_data.h"

namespace qz::test {

const char kRealMachineFixtures[] = "tests/e2e/fixtures/real_machine/";
const char kRealMachineInstallation[] = "installation.reg";

namespace {

const char kRegHeader[] = "Windows Registry Editor Version 5.00\n\n";

const char kProductKey[] = "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis";
const char kSettingsKey[] = "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0";
const char kUserSettingsKey[] = "HKEY_CURRENT_USER\\Software\\Corvalen\\Orvantis\\38.0\\IniSettings";
const char kOtherProductKey[] = "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Pellwick\\38.0\\GUIDefaults";
const char kOptionsKey[] = "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Options";
const char* const kDirKey = kSystemDirKey;
const char kDocumentType[] = "HKEY_CLASSES_ROOT\\Orvantis Language";
const char kVersionVerb[] = "HKEY_CLASSES_ROOT\\Orvantis Language\\shell\\Open Orvantis V12";
const char kOpenCommand[] = "HKEY_CLASSES_ROOT\\Orvantis Language\\shell\\Open\\command";
const char kDocumentClass[] = "HKEY_CLASSES_ROOT\\CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}";
const char kLibraryClass[] = "HKEY_CLASSES_ROOT\\CLSID\\{3209ADC4-9264-11D1-B147-00A024F1AC65}";
const char kApplicationClass[] = "HKEY_CLASSES_ROOT\\CLSID\\{FDE14674-8E3D-0380-878A-2E97C127D967}";
const char kApplicationProgId[] = "HKEY_CLASSES_ROOT\\OVX Application";
const char kVersionedProgId[] = "HKEY_CLASSES_ROOT\\OVX Application 3800";
const char kAsciiSuffix[] = "HKEY_CLASSES_ROOT\\.ovxf";
const char kLibrarySuffix[] = "HKEY_CLASSES_ROOT\\.ovxl";
const char kLibraryType[] = "HKEY_CLASSES_ROOT\\Tavrin Model Library";

const char kBin[] = "C:\\Program Files\\Corvalen\\ZURedore V12\\bin";

std::string Key(const std::string& parent, const std::string& child) { return parent + "\\" + child; }

// "[bin]\Tessaryn.exe" quoted, then the switches.
std::string HostCommand(const std::string& bin, const std::string& switches) {
    return "\"" + bin + "\\Tessaryn.exe\" " + switches;
}

std::string UnusableDirectoryBox(const std::string& valueName, const std::string& text) {
    return "The value " + valueName + " of " + kDirKey + " cannot be a directory path: " + text;
}

std::string UnusableInstallationBinBox(const std::string& text) {
    return "The value Bin of an installation of the modelling system cannot be a directory path: " + text;
}

std::vector<BYTE> Bytes(const std::string& text) { return std::vector<BYTE>(text.begin(), text.end()); }

// The values a registration writes with the module path and the installation's bin directory.
std::vector<ExpectedValue> ModuleAndCommandValues(const std::string& bin) {
    return {
        {Key(kSettingsKey, "Customization"), "DLL", "<module>"},
        {Key(kDocumentType, "DefaultIcon"), "", "<module>,1"},
        {Key(kDocumentClass, "DefaultIcon"), "", "<module>,1"},
        {Key(kLibraryClass, "DefaultIcon"), "", "<module>,0"},
        {Key(kApplicationClass, "LocalServer32"), "", HostCommand(bin, "/ovx /Automation")},
        {Key(kDocumentClass, "LocalServer32"), "", HostCommand(bin, "/ovx")},
        {kOpenCommand, "", HostCommand(bin, "/ovx \"%1\"")},
        {Key(kVersionVerb, "command"), "", HostCommand(bin, "/ovx \"%1\"")},
    };
}

// The application class's server command when no usable bin directory was found.
ExpectedValue ServerCommandWithoutBin() {
    return {Key(kApplicationClass, "LocalServer32"), "", HostCommand("", "/ovx /Automation")};
}

std::vector<RealMachineState> MakeStates() {
    std::vector<RealMachineState> states;
    auto add = [&states](const char* name) -> RealMachineState& {
        states.emplace_back();
        states.back().name = name;
        return states.back();
    };

    {
        RealMachineState& s = add("JustTheInstallation");
        s.registered = ModuleAndCommandValues(kBin);
    }

    // Deep or long key paths the host application leaves below the product settings key.
    {
        RealMachineState& s = add("FiveHundredLevelsBelowTheSettingsKey");
        s.seedChains = {{Key(kSettingsKey, "Host"), Repeated(500, u"Level")}};
    }
    {
        RealMachineState& s = add("TwentyLevelsOf13CharacterNamesBelowTheSettingsKey");
        s.seedChains = {{kSettingsKey, NumberedLevels(20)}};
    }
    {
        RealMachineState& s = add("A240CharacterNameBelowTheSettingsKey");
        s.seedChains = {{kSettingsKey, {std::u16string(240, u'n'), u"child"}}};
    }
    // The document type is rebuilt by every registration, deep subtree and all.
    {
        RealMachineState& s = add("DeepTreesBelowTheDocumentType");
        s.seedChains = {{Key(kVersionVerb, "command"), NumberedLevels(20)},
                        {kDocumentType, Repeated(300, u"Deep")}};
        s.absentAfterRegistration = {Key(kVersionVerb, "command\\Level00_abcde"), Key(kDocumentType, "Deep")};
    }

    // Names in other scripts, beside the names a narrow code page would make of them.
    {
        RealMachineState& s = add("NamesInOtherScriptsBelowTheSettingsKey");
        s.seed = "names_below_settings.reg";
    }
    {
        RealMachineState& s = add("NamesInOtherScriptsAndDeepTreesBelowTheDocumentObjectClass");
        s.seed = "names_below_document_class.reg";
        s.seedChains = {{kDocumentClass, NumberedLevels(20)}};
    }
    // Another version current: of the document type only this version's verb goes.
    {
        RealMachineState& s = add("DeepTreesAndNamesInOtherScriptsBelowTheVersionedVerb");
        s.afterRegistration = "names_below_versioned_verb.reg";
        s.afterRegistrationChains = {{kVersionVerb, Repeated(300, u"Level")},
                                     {Key(kVersionVerb, "command"), {std::u16string(240, u'n')}}};
        s.staysCurrent = false;
        s.kept = "other_version_current_kept.reg";
    }

    // Texts outside the code page reach the registry unchanged.
    {
        RealMachineState& s = add("ModuleInAFolderNamedInOtherScripts");
        s.moduleFolder = "Prod\xC3\xBC" "ct \xC3\xA9 \xD0\x9E\xD1\x80\xD0\xB2\xD0\xB0\xD0\xBD\xD1\x82\xD0\xB8\xD1\x81 "
                         "\xE6\xA8\xA1\xE5\x9E\x8B";  // Prodüct é Орвантис 模型
        s.registered = ModuleAndCommandValues(kBin);
    }
    {
        RealMachineState& s = add("InstallationDirectoriesInOtherScripts");
        s.seed = "directories_in_other_scripts.reg";
        // C:\Modèle Программы\ZURedore V12
        const std::string root = "C:\\Mod\xC3\xA8le \xD0\x9F\xD1\x80\xD0\xBE\xD0\xB3\xD1\x80\xD0\xB0\xD0\xBC\xD0\xBC"
                                 "\xD1\x8B\\ZURedore V12";
        s.registered = ModuleAndCommandValues(root + "\\bin");
        s.registered.push_back({Key(kSettingsKey, "Default Libraries"), "Modeler.ovxl", root + "\\lib\\Modeler.ovxl"});
        s.registered.push_back({Key(kSettingsKey, "Menus\\Help"), "0",
                                "WINHELP,&Orvantis Contents," + root + "\\help\\ovx,Display help topics"});
        // D:\モデル\ZURedore V11\bin
        s.registered.push_back({Key(kDocumentType, "shell\\Open Orvantis V11\\command"), "",
                                HostCommand("D:\\\xE3\x83\xA2\xE3\x83\x87\xE3\x83\xAB\\ZURedore V11\\bin", "/ovx \"%1\"")});
    }
    // A version is found by its own name, never by the question marks a code page makes of it.
    {
        RealMachineState& s = add("VersionNamesInOtherScripts");
        s.seed = "version_names_in_other_scripts.reg";
        s.registered = {{Key(kDocumentType, "shell\\Open Orvantis V13\\command"), "",
                         HostCommand("C:\\Program Files\\Corvalen\\ZURedore V13\\bin", "/ovx \"%1\"")}};
        s.absentAfterRegistration = {Key(kDocumentType, "shell\\Open Orvantis VQ"),
                                     Key(kDocumentType, "shell\\Open Orvantis VJ")};
        s.kept = "version_names_kept.reg";
    }

    // The suffix keys are shared with every program that handles the suffix.
    {
        RealMachineState& s = add("OtherProgramsDataInTheSuffixKeys");
        s.seed = "suffix_keys_other_programs.reg";
        s.registered = {{kAsciiSuffix, "", "Orvantis Language"}, {kLibrarySuffix, "", "Tavrin Model Library"}};
        s.afterRegistration = "last_product.reg";
        s.lastProduct = true;
        s.kept = "suffix_keys_other_programs_kept.reg";
    }
    {
        RealMachineState& s = add("SuffixDefaultsTakenOverByAnotherProgram");
        s.afterRegistration = "suffix_defaults_taken_over.reg";
        s.lastProduct = true;
        s.kept = "suffix_defaults_taken_over_kept.reg";
    }
    {
        RealMachineState& s = add("SuffixDefaultsNamingOurTypesInOtherLetterCase");
        s.afterRegistration = "suffix_defaults_other_letter_case.reg";
        s.lastProduct = true;
    }

    // Which version is current: the whole ProgID, without regard to letter case.
    {
        RealMachineState& s = add("ANewerBuildIsCurrent");
        s.afterRegistration = "newer_build_current.reg";
        s.staysCurrent = false;
        s.kept = "newer_build_current_kept.reg";
    }
    {
        RealMachineState& s = add("ThisVersionInOtherLetterCaseIsCurrent");
        s.afterRegistration = "this_version_other_letter_case.reg";
    }

    // Directory texts that cannot be paths, and a missing installation: a box, the pass fails.
    {
        RealMachineState& s = add("SystemBinWithADoubleQuote");
        const std::string bin = std::string(kBin) + "\" /evil \"x";
        s.seedValues = {{kDirKey, "bin", REG_SZ, Utf16Data(std::u16string(bin.begin(), bin.end()))}};
        s.boxes = {UnusableDirectoryBox("bin", bin), UnusableInstallationBinBox(bin)};
        s.registered = {ServerCommandWithoutBin()};
        s.absentAfterRegistration = {kVersionVerb};
    }
    {
        RealMachineState& s = add("SystemBinWithATab");
        const std::string bin = std::string(kBin) + "\tx";
        s.seedValues = {{kDirKey, "bin", REG_SZ, Utf16Data(std::u16string(bin.begin(), bin.end()))}};
        s.boxes = {UnusableDirectoryBox("bin", bin), UnusableInstallationBinBox(bin)};
        s.registered = {ServerCommandWithoutBin()};
        s.absentAfterRegistration = {kVersionVerb};
    }
    {
        RealMachineState& s = add("HelpDirectoryWithAPipe");
        const std::string help = "C:\\Program Files\\Corvalen\\ZURedore V12\\help|more";
        s.seedValues = {{kDirKey, "help", REG_SZ, Utf16Data(std::u16string(help.begin(), help.end()))}};
        s.boxes = {UnusableDirectoryBox("help", help)};
        s.registered = {{Key(kSettingsKey, "Menus\\Help"), "0", "WINHELP,&Orvantis Contents,\\ovx,Display help topics"},
                        {Key(kApplicationClass, "LocalServer32"), "", HostCommand(kBin, "/ovx /Automation")}};
    }
    {
        RealMachineState& s = add("NoDirKey");
        s.seed = "no_dir_key.reg";
        s.boxes = {MissingInstallationBox("help")};
        s.registered = {ServerCommandWithoutBin()};
        s.absentAfterRegistration = {kVersionVerb};
    }
    {
        RealMachineState& s = add("EmptySystemBin");
        s.seedValues = {{kDirKey, "bin", REG_SZ, Utf16Data(u"")}};
        s.boxes = {MissingInstallationBox("bin", "(the value is empty)")};
        s.registered = {ServerCommandWithoutBin()};
        s.absentAfterRegistration = {kVersionVerb};
    }
    {
        RealMachineState& s = add("SystemBinNotText");
        s.seedValues = {{kDirKey, "bin", REG_BINARY, Bytes(kBin)}};
        s.boxes = {MissingInstallationBox("bin", "(the value is not text)")};
    }
    {
        // A number's bytes read as text are a control character: one box says
        // the value is not text, and no second one shows that character.
        RealMachineState& s = add("SystemBinADword");
        s.seedValues = {{kDirKey, "bin", REG_DWORD, {1, 0, 0, 0}}};
        s.boxes = {MissingInstallationBox("bin", "(the value is not text)")};
        s.registered = {ServerCommandWithoutBin()};
        s.absentAfterRegistration = {kVersionVerb};
    }
    {
        RealMachineState& s = add("SystemBinTooLong");
        s.seedValues = {{kDirKey, "bin", REG_SZ, Utf16Data(u"C:\\" + std::u16string(5000, u'x'))}};
        s.boxes = {MissingInstallationBox("bin", "(the value is too long)")};
        s.registered = {ServerCommandWithoutBin()};
        s.absentAfterRegistration = {kVersionVerb};
    }
    // Expandable directories are expanded as Windows expands them (ProgramFiles
    // is C:\Program Files in both suites).
    {
        RealMachineState& s = add("ExpandableDirectories");
        s.seed = "expandable_installation.reg";
        s.seedValues = {
            {kDirKey, "bin", REG_EXPAND_SZ, Utf16Data(u"%ProgramFiles%\\Corvalen\\ZURedore V12\\bin")},
            {kDirKey, "lib", REG_EXPAND_SZ, Utf16Data(u"%ProgramFiles%\\Corvalen\\ZURedore V12\\lib")},
            {"HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\37.0\\Dir", "Bin", REG_EXPAND_SZ,
             Utf16Data(u"%ProgramFiles%\\Corvalen\\ZURedore V11\\bin")},
        };
        s.registered = ModuleAndCommandValues(kBin);
        s.registered.push_back({Key(kSettingsKey, "Default Libraries"), "Modeler.ovxl",
                                "C:\\Program Files\\Corvalen\\ZURedore V12\\lib\\Modeler.ovxl"});
        s.registered.push_back({Key(kDocumentType, "shell\\Open Orvantis V11\\command"), "",
                                HostCommand("C:\\Program Files\\Corvalen\\ZURedore V11\\bin", "/ovx \"%1\"")});
    }
    {
        RealMachineState& s = add("InstallationBinWithADoubleQuote");
        s.seed = "installation_bin_with_quote.reg";
        s.boxes = {UnusableInstallationBinBox("C:\\Program Files\\Corvalen\\ZURedore V11\\bin\" /x \"")};
        s.registered = ModuleAndCommandValues(kBin);
        s.absentAfterRegistration = {Key(kDocumentType, "shell\\Open Orvantis V11")};
    }
    AddUnusualInstallationStates(states);
    return states;
}

bool SameKeyPath(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

}  // namespace


const std::vector<RealMachineState>& RealMachineStates() {
    static const std::vector<RealMachineState> states = MakeStates();
    return states;
}

void PrintTo(const RealMachineState& state, std::ostream* out) { *out << state.name; }

std::string WithModulePath(std::string text, const std::string& modulePath) {
    const std::string placeholder = "<module>";
    for (std::size_t at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + modulePath.size()))
        text.replace(at, placeholder.size(), modulePath);
    return text;
}

std::vector<std::string> TopKeysOfRegText(const std::string& text) {
    std::vector<std::string> tops;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.size() < 2 || line.front() != '[' || line.back() != ']') continue;
        const std::string key = line.substr(1, line.size() - 2);
        bool below = false;
        for (const std::string& top : tops)
            below = below || (key.size() > top.size() && key[top.size()] == '\\' &&
                              SameKeyPath(key.substr(0, top.size()), top));
        if (!below) tops.push_back(key);
    }
    return tops;
}

void CheckRegistration(const RealMachineState& state, const std::vector<std::string>& boxes, RegistryProbe& probe,
                       const std::string& modulePath) {
    EXPECT_EQ(boxes, state.boxes);
    for (const ExpectedValue& value : state.registered) {
        EXPECT_EQ(probe.Text(value.key, value.name), WithModulePath(value.text, modulePath))
            << value.key << " value \"" << value.name << "\"";
    }
    for (const std::string& key : state.absentAfterRegistration) EXPECT_FALSE(probe.KeyExists(key)) << key;
}

void CheckUnregistration(const RealMachineState& state, RegistryProbe& probe, const std::string& keptFixture) {
    const std::vector<std::string> keptTops = TopKeysOfRegText(keptFixture);
    const auto inKeptFixture = [&keptTops](const std::string& key) {
        for (const std::string& top : keptTops)
            if (SameKeyPath(top, key)) return true;
        return false;
    };

    // This version's own keys go whatever else is current.
    for (const char* key : {kSettingsKey, kVersionedProgId, kApplicationClass, kVersionVerb})
        EXPECT_FALSE(probe.KeyExists(key)) << key;
    EXPECT_FALSE(probe.ValueExists(kOptionsKey, "ovx"));
    for (const std::string& key : state.absentAfterUnregistration) EXPECT_FALSE(probe.KeyExists(key)) << key;
    // Kept on purpose: the product key for other versions, the user's settings, the other product.
    EXPECT_TRUE(probe.KeyExists(kProductKey));
    EXPECT_TRUE(probe.KeyExists(kUserSettingsKey));
    EXPECT_TRUE(probe.KeyExists(kOtherProductKey));
    if (!state.lastProduct) {
        EXPECT_EQ(probe.Text(kOptionsKey, "pwk"), "Pellwick");
    }

    // Shared keys go only while this version is current; the library ones only with the last product.
    for (const char* key : {kDocumentType, kApplicationProgId, kDocumentClass, kLibraryClass, kAsciiSuffix}) {
        if (inKeptFixture(key)) continue;
        EXPECT_EQ(probe.KeyExists(key), !state.staysCurrent) << key;
    }
    for (const char* key : {kLibrarySuffix, kLibraryType}) {
        if (inKeptFixture(key)) continue;
        EXPECT_EQ(probe.KeyExists(key), !(state.staysCurrent && state.lastProduct)) << key;
    }

    if (keptTops.empty()) return;
    std::string exported = kRegHeader;
    for (const std::string& key : keptTops) {
        const std::string text = probe.Export(key);
        EXPECT_NE(text, "") << key << " is gone";
        if (text.compare(0, sizeof kRegHeader - 1, kRegHeader) == 0) exported += text.substr(sizeof kRegHeader - 1);
    }
    EXPECT_EQ(exported, keptFixture);
}

}  // namespace qz::test
