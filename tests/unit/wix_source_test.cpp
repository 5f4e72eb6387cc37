// The WiX source a harvest is written as: texts escaped for XML and for Windows
// Installer's formatted columns, value types, keys without values, 64-bit
// components, the directory searches, what an uninstallation may remove, and
// identifiers that depend on nothing but the input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "registry/memory_registry.h"
#include "registry/reg_file.h"
#include "text/code_page.h"
#include "registry/registry_changes.h"
#include "tools/qzreg/wix_source.h"

namespace qz {
namespace {

// The changes that turn an empty registry into the one the .reg text describes.
std::vector<RegistryChange> ChangesTo(const std::string& regText, const std::string& machineState = "REGEDIT4\n") {
    MemoryRegistry before;
    std::string error;
    EXPECT_TRUE(ImportRegText(Utf8ToUtf16(machineState), before, error)) << error;
    MemoryRegistry after = before;
    EXPECT_TRUE(ImportRegText(Utf8ToUtf16(regText), after, error)) << error;
    return ListRegistryChanges(before, after);
}

std::string Wxs(const std::string& regText, const std::string& machineState = "REGEDIT4\n") {
    return HarvestAsWixSource(ChangesTo(regText, machineState));
}

// The component written for a key: from its comment line to the end of its
// Component element; "" when the key has none.
std::string ComponentOf(const std::string& wxs, const std::string& fullKeyName) {
    const std::size_t start = wxs.find("<!-- " + fullKeyName + ": ");
    if (start == std::string::npos) return std::string();
    const std::size_t end = wxs.find("</Component>", start);
    return end == std::string::npos ? std::string() : wxs.substr(start, end - start);
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

TEST(NameBasedGuid, MatchesRfc4122Version5) {
    struct Case {
        const char* nameSpace;
        const char* name;
        const char* guid;
    };
    const Case cases[] = {
        // The DNS and URL namespaces of RFC 4122, appendix C.
        {"6ba7b810-9dad-11d1-80b4-00c04fd430c8", "www.example.com", "{2ED6657D-E927-568B-95E1-2665A8AEA6A2}"},
        {"{6BA7B811-9DAD-11D1-80B4-00C04FD430C8}", "http://python.org/", "{4C565F0D-3F5A-5890-B41B-20CF47701C5E}"},
    };
    for (const Case& c : cases) EXPECT_EQ(NameBasedGuid(c.nameSpace, c.name), c.guid) << c.name;
}

TEST(WixSource, EscapesTextsForXmlAndForFormattedColumns) {
    const std::string wxs = Wxs(
        "Windows Registry Editor Version 5.00\n"
        "[HKEY_CLASSES_ROOT\\Sample [Type]]\n"
        "@=\"a & b < c \\\"d\\\"\te\"\n"
        "\"Icon\"=\"[#qzproduct.dll],1\"\n"
        "\"Open\"=\"\\\"[ZUREDOREBIN]\\\\Tessaryn.exe\\\" [1] %1\"\n"
        "\"[Name]\"=\"x\"\n");
    const std::string component = ComponentOf(wxs, "HKEY_CLASSES_ROOT\\Sample [Type]");
    ASSERT_NE(component, "") << wxs;
    const std::string key = "Root=\"HKCR\" Key=\"Sample [\\[]Type[\\]]\"";
    // XML: &, <, " and a TAB (which an attribute would turn into a space).
    EXPECT_NE(component.find(key + " Type=\"string\" Value=\"a &amp; b &lt; c &quot;d&quot;&#9;e\""),
              std::string::npos)
        << component;
    // The harvest's references stay references; other brackets are escaped.
    EXPECT_NE(component.find(" Name=\"Icon\" Type=\"string\" Value=\"[#qzproduct.dll],1\""), std::string::npos)
        << component;
    EXPECT_NE(component.find(" Name=\"Open\" Type=\"string\" Value=\"&quot;[ZUREDOREBIN]\\Tessaryn.exe&quot; "
                             "[\\[]1[\\]] %1\""),
              std::string::npos)
        << component;
    EXPECT_NE(component.find(" Name=\"[\\[]Name[\\]]\" Type=\"string\" Value=\"x\""), std::string::npos) << component;
}

TEST(WixSource, KeepsValueTypes) {
    struct Case {
        const char* data;
        const char* row;
    };
    const Case cases[] = {
        {"dword:00000000", "Type=\"integer\" Value=\"0\""},
        {"dword:00000001", "Type=\"integer\" Value=\"1\""},
        {"dword:ffffffff", "Type=\"integer\" Value=\"4294967295\""},
        {"\"1\"", "Type=\"string\" Value=\"1\""},
        {"\"\"", "Type=\"string\" Value=\"\""},
        {"hex(2):25,00,41,00,00,00", "Type=\"expandable\" Value=\"%A\""},
        {"hex:0a,ff", "Type=\"binary\" Value=\"0AFF\""},
        {"hex(7):61,00,00,00,62,00,00,00,00,00",
         "Type=\"multiString\"><MultiStringValue>a</MultiStringValue><MultiStringValue>b</MultiStringValue>"},
        // No WiX form: written so that a WiX compiler refuses it, never as another type.
        {"hex(b):01,00,00,00,00,00,00,00", "Type=\"REG_QWORD\" Value=\"0100000000000000\""},
    };
    for (const Case& c : cases) {
        const std::string wxs =
            // "a" first: the component's key path, which would stand between the type and the data.
            Wxs(std::string("Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\T]\n"
                            "\"a\"=\"first\"\n\"v\"=") +
                c.data + "\n");
        EXPECT_NE(wxs.find("<RegistryValue Root=\"HKLM\" Key=\"Software\\Corvalen\\T\" Name=\"v\" " +
                           std::string(c.row)),
                  std::string::npos)
            << c.data << "\n"
            << wxs;
    }
}

TEST(WixSource, KeysWithoutValuesAreKeptAndKeysOnEveryMachineAreLeftAlone) {
    const std::string wxs = Wxs(
        "Windows Registry Editor Version 5.00\n"
        "[HKEY_CLASSES_ROOT\\CLSID\\{00000000-0000-0000-0000-00000000000A}\\InprocServer32]\n"
        "@=\"x.dll\"\n"
        "[HKEY_CLASSES_ROOT\\Sample\\Insertable]\n"
        "[HKEY_CLASSES_ROOT\\Sample\\shell\\Open\\command]\n"
        "@=\"x\"\n"
        "[HKEY_CURRENT_USER\\Software\\Corvalen\\Empty]\n");
    // A key without values and without subkeys gets the row that creates it (and
    // removes it with the product), as the component's key path.
    EXPECT_NE(ComponentOf(wxs, "HKEY_CLASSES_ROOT\\Sample\\Insertable")
                  .find("<RegistryValue Root=\"HKCR\" Key=\"Sample\\Insertable\" Name=\"*\" Type=\"string\" "
                        "Value=\"\" KeyPath=\"yes\"/>"),
              std::string::npos)
        << wxs;
    EXPECT_NE(ComponentOf(wxs, "HKEY_CURRENT_USER\\Software\\Corvalen\\Empty").find("Name=\"*\""), std::string::npos)
        << wxs;
    // Keys that only lead to others come with them: HKCR\CLSID and HKCU\Software, which the
    // harvest adds to its empty registry, must never be rows that remove them.
    for (const char* key : {"HKEY_CLASSES_ROOT\\CLSID", "HKEY_CLASSES_ROOT\\CLSID\\{00000000-0000-0000-0000-00000000000A}",
                            "HKEY_CLASSES_ROOT\\Sample", "HKEY_CLASSES_ROOT\\Sample\\shell",
                            "HKEY_CURRENT_USER\\Software", "HKEY_CURRENT_USER\\Software\\Corvalen"})
        EXPECT_EQ(ComponentOf(wxs, key), "") << key << "\n" << wxs;
    EXPECT_EQ(wxs.find("Key=\"CLSID\""), std::string::npos) << wxs;
    EXPECT_EQ(wxs.find("Key=\"Software\""), std::string::npos) << wxs;
}

TEST(WixSource, EveryComponentIsA64BitComponentInTheFeature) {
    const std::string wxs = Wxs(
        "Windows Registry Editor Version 5.00\n"
        "[HKEY_CLASSES_ROOT\\.ovxf]\n@=\"Orvantis Language\"\n"
        "[HKEY_CURRENT_USER\\Software\\Corvalen\\Orvantis\\38.0\\IniSettings]\n\"whatsnew_ovx\"=dword:00000000\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\Suffix]\n\"ASCII\"=\"ovxf,Orvantis Language\"\n");
    // Every Component start tag, the files' and the keys' alike.
    std::size_t components = 0;
    for (std::size_t at = wxs.find("<Component Id="); at != std::string::npos; at = wxs.find("<Component Id=", at + 1)) {
        const std::string tag = wxs.substr(at, wxs.find('>', at) - at);
        EXPECT_NE(tag.find(" Win64=\"yes\""), std::string::npos) << tag;
        ++components;
    }
    EXPECT_GE(components, 5u) << wxs;
    EXPECT_EQ(Count(wxs, "<ComponentRef Id="), components) << wxs;
    for (const char* key : {"HKEY_CLASSES_ROOT\\.ovxf", "HKEY_CURRENT_USER\\Software\\Corvalen\\Orvantis\\38.0\\IniSettings",
                            "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\Suffix"})
        EXPECT_NE(ComponentOf(wxs, key), "") << key;
    EXPECT_NE(wxs.find("<Directory Id=\"ProgramFiles64Folder\">"), std::string::npos) << wxs;
    for (const char* file : {"qzproduct.dll", "qzreg.exe"})
        EXPECT_NE(wxs.find("<File Id=\"" + std::string(file) + "\" Name=\"" + file + "\" Source=\"" + file +
                           "\" KeyPath=\"yes\"/>"),
                  std::string::npos)
            << wxs;
    EXPECT_NE(wxs.find("Version=\"38.0.0.380\" Manufacturer=\"Corvalen\" UpgradeCode=\"" + std::string(kWixUpgradeCode)),
              std::string::npos)
        << wxs;
    EXPECT_NE(wxs.find("InstallScope=\"perMachine\""), std::string::npos) << wxs;
}

TEST(WixSource, FindsTheModellingSystemsDirectoriesAndNeedsThem) {
    const std::string wxs = Wxs(
        "Windows Registry Editor Version 5.00\n"
        "[HKEY_CLASSES_ROOT\\CLSID\\{FDE14674-8E3D-0380-878A-2E97C127D967}\\LocalServer32]\n"
        "@=\"\\\"[ZUREDOREBIN]\\\\Tessaryn.exe\\\" /ovx /Automation\"\n");
    for (const char* search :
         {"<Property Id=\"ZUREDOREBIN\">\n      <RegistrySearch Id=\"ZUREDOREBIN\" Root=\"HKLM\" "
          "Key=\"Software\\Corvalen\\ZURedore\\38.0\\Dir\" Name=\"bin\" Type=\"raw\" Win64=\"yes\"/>",
          "<Property Id=\"ZUREDOREHELP\">\n      <RegistrySearch Id=\"ZUREDOREHELP\" Root=\"HKLM\" "
          "Key=\"Software\\Corvalen\\ZURedore\\38.0\\Dir\" Name=\"help\" Type=\"raw\" Win64=\"yes\"/>",
          "<Property Id=\"ZUREDORELIB\">\n      <RegistrySearch Id=\"ZUREDORELIB\" Root=\"HKLM\" "
          "Key=\"Software\\Corvalen\\ZURedore\\38.0\\Dir\" Name=\"lib\" Type=\"raw\" Win64=\"yes\"/>"})
        EXPECT_NE(wxs.find(search), std::string::npos) << search << "\n" << wxs;
    // Without the directories the module's pass fails; the package does not install.
    EXPECT_NE(wxs.find(">Installed OR (ZUREDOREBIN AND ZUREDOREHELP AND ZUREDORELIB)</Condition>"), std::string::npos)
        << wxs;
}

TEST(WixSource, UninstallationRemovesNobodyElsesKeys) {
    const std::string wxs = Wxs(
        "Windows Registry Editor Version 5.00\n"
        "[HKEY_CLASSES_ROOT\\.ovxf]\n@=\"Orvantis Language\"\n"
        "[HKEY_CLASSES_ROOT\\.ovxl]\n@=\"Tavrin Model Library\"\n"
        "[HKEY_CLASSES_ROOT\\Orvantis Language]\n@=\"Orvantis Language\"\n"
        "[HKEY_CLASSES_ROOT\\Orvantis Language\\Insertable]\n"
        "[HKEY_CLASSES_ROOT\\Orvantis Language\\shell\\Open Orvantis V12\\command]\n@=\"v12\"\n"
        "[HKEY_CLASSES_ROOT\\Orvantis Language\\shell\\Open Orvantis V11\\command]\n@=\"v11\"\n"
        "[HKEY_CLASSES_ROOT\\OVX Application\\CurVer]\n@=\"OVX Application 3800\"\n"
        "[HKEY_CLASSES_ROOT\\OVX Application 3800\\CLSID]\n@=\"{FDE14674-8E3D-0380-878A-2E97C127D967}\"\n"
        "[HKEY_CURRENT_USER\\Software\\Corvalen\\Orvantis\\38.0\\IniSettings]\n\"whatsnew_ovx\"=dword:00000000\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\Suffix]\n\"ASCII\"=\"ovxf\"\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Options]\n\"ovx\"=\"Orvantis\"\n",
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Options]\n\"pwk\"=\"Pellwick\"\n");
    const std::string whileCurrent =
        "<Condition>NOT Installed OR NOT APPLICATIONCURVER OR APPLICATIONCURVER~=\"OVX Application 3800\"</Condition>";
    struct Case {
        const char* key;
        bool permanent;
        bool whileCurrent;
        const char* marker;  // the keyless row: "*" removes the key whole, "+" only creates it; "" none
    };
    const Case cases[] = {
        {"HKEY_CLASSES_ROOT\\.ovxf", false, true, ""},
        {"HKEY_CLASSES_ROOT\\.ovxl", true, false, ""},
        {"HKEY_CLASSES_ROOT\\Orvantis Language", false, true, "*"},
        {"HKEY_CLASSES_ROOT\\Orvantis Language\\Insertable", false, true, "*"},
        {"HKEY_CLASSES_ROOT\\Orvantis Language\\shell\\Open Orvantis V11\\command", false, true, ""},
        {"HKEY_CLASSES_ROOT\\Orvantis Language\\shell\\Open Orvantis V12", false, false, "*"},
        {"HKEY_CLASSES_ROOT\\Orvantis Language\\shell\\Open Orvantis V12\\command", false, false, ""},
        {"HKEY_CLASSES_ROOT\\OVX Application", false, true, "*"},
        {"HKEY_CLASSES_ROOT\\OVX Application\\CurVer", false, true, ""},
        {"HKEY_CLASSES_ROOT\\OVX Application 3800", false, false, "*"},
        {"HKEY_CURRENT_USER\\Software\\Corvalen\\Orvantis\\38.0\\IniSettings", true, false, ""},
        {"HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis", true, false, "+"},
        {"HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0", false, false, "*"},
        {"HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\Suffix", false, false, ""},
        {"HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Options", false, false, ""},
    };
    for (const Case& c : cases) {
        const std::string component = ComponentOf(wxs, c.key);
        ASSERT_NE(component, "") << c.key << "\n" << wxs;
        EXPECT_EQ(component.find("Permanent=\"yes\"") != std::string::npos, c.permanent) << component;
        EXPECT_EQ(component.find(whileCurrent) != std::string::npos, c.whileCurrent) << component;
        EXPECT_EQ(Count(component, "Name=\"*\""), std::string(c.marker) == "*" ? 1u : 0u) << component;
        EXPECT_EQ(Count(component, "Name=\"+\""), std::string(c.marker) == "+" ? 1u : 0u) << component;
    }
    // The current version is the one the harvest's CurVer names, read at removal time.
    EXPECT_NE(wxs.find("<RegistrySearch Id=\"APPLICATIONCURVER\" Root=\"HKCR\" Key=\"OVX Application\\CurVer\" "
                       "Name=\"\" Type=\"raw\" Win64=\"yes\"/>"),
              std::string::npos)
        << wxs;
    // The other product's value is machine state, not the package's.
    EXPECT_EQ(wxs.find("pwk"), std::string::npos) << wxs;
}

TEST(WixSource, TheSameInputGivesTheSameTextAndGuidsFollowTheKey) {
    const std::string reg =
        "Windows Registry Editor Version 5.00\n"
        "[HKEY_CLASSES_ROOT\\.ovxf]\n@=\"Orvantis Language\"\n"
        "[HKEY_CLASSES_ROOT\\.ovxl]\n@=\"Tavrin Model Library\"\n";
    const std::string first = Wxs(reg);
    EXPECT_EQ(Wxs(reg), first);

    const auto guidOf = [](const std::string& wxs, const std::string& key) {
        const std::string component = ComponentOf(wxs, key);
        const std::size_t at = component.find("Guid=\"");
        return at == std::string::npos ? std::string() : component.substr(at + 6, 38);
    };
    const std::string ovxf = guidOf(first, "HKEY_CLASSES_ROOT\\.ovxf");
    ASSERT_EQ(ovxf.size(), 38u) << first;
    EXPECT_NE(guidOf(first, "HKEY_CLASSES_ROOT\\.ovxl"), ovxf);
    // Registry names ignore case, and so does the component's identity; other values do not change it.
    EXPECT_EQ(guidOf(Wxs("Windows Registry Editor Version 5.00\n[HKEY_CLASSES_ROOT\\.OVXF]\n@=\"Other\"\n"),
                     "HKEY_CLASSES_ROOT\\.OVXF"),
              ovxf);
}

}  // namespace
}  // namespace qz
