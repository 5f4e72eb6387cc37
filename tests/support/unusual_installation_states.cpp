#include "tests/support/unusual_installation_states.h"

#include <string>

#include "tests/support/product_identity.h"
#include "text/utf16_data.h"

namespace qz::test {
namespace {

const char* const kDirKey = kSystemDirKey;
const char kSettingsKey[] = "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0";
const char kShell[] = "HKEY_CLASSES_ROOT\\Orvantis Language\\shell\\";
const char kApplicationServer[] = "HKEY_CLASSES_ROOT\\CLSID\\{FDE14674-8E3D-0380-878A-2E97C127D967}\\LocalServer32";
const char kDocumentServer[] = "HKEY_CLASSES_ROOT\\CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}\\LocalServer32";

std::string HostCommand(const std::string& bin, const std::string& switches) {
    return "\"" + bin + "\\Tessaryn.exe\" " + switches;
}

std::vector<BYTE> Text(const std::string& ascii) { return Utf16Data(std::u16string(ascii.begin(), ascii.end())); }

}  // namespace

void AddUnusualInstallationStates(std::vector<RealMachineState>& states) {
    auto add = [&states](const char* name) -> RealMachineState& {
        states.emplace_back();
        states.back().name = name;
        return states.back();
    };

    // The label of this version's verb is taken from its folder; the
    // unregistration removes that verb too, and keeps the other version's.
    {
        RealMachineState& s = add("InstallationFolderWithAnUpdateLabel");
        const std::string bin = "C:\\Program Files\\Corvalen\\ZURedore V12 Update 2\\bin";
        s.seed = "update_label_installation.reg";
        s.seedValues = {{kDirKey, "bin", REG_SZ, Text(bin)}};
        s.registered = {
            {std::string(kShell) + "Open Orvantis V12 Update 2\\command", "", HostCommand(bin, "/ovx \"%1\"")},
            {std::string(kShell) + "Open Orvantis V11\\command", "",
             HostCommand("C:\\Program Files\\Corvalen\\ZURedore V11\\bin", "/ovx \"%1\"")},
            {kApplicationServer, "", HostCommand(bin, "/ovx /Automation")},
        };
        s.absentAfterRegistration = {std::string(kShell) + "Open Orvantis V12"};
        s.afterRegistration = "newer_build_current.reg";
        s.staysCurrent = false;
        s.kept = "update_label_kept.reg";
        s.absentAfterUnregistration = {std::string(kShell) + "Open Orvantis V12 Update 2"};
    }

    // An expandable directory registered by a process that lacks its variable:
    // nothing expands the plain strings later, so it is no directory.
    {
        RealMachineState& s = add("ExpandableBinNamingAnUnsetVariable");
        const std::string bin = "%QZ_UNSET_MODELLING_ROOT%\\Corvalen\\ZURedore V12\\bin";
        s.seedValues = {{kDirKey, "bin", REG_EXPAND_SZ, Text(bin)}};
        s.boxes = {"The value bin of " + std::string(kDirKey) + " cannot be a directory path: " + bin,
                   "The value Bin of an installation of the modelling system cannot be a directory path: " + bin};
        s.registered = {{kApplicationServer, "", HostCommand("", "/ovx /Automation")}};
        s.absentAfterRegistration = {std::string(kShell) + "Open Orvantis V12"};
    }

    // A comma in the folder: the quoted command lines are sound; the Help
    // lines that would get a fifth field are left out, with a box.
    {
        RealMachineState& s = add("InstallationFolderWithAComma");
        const std::string root = "C:\\Program Files\\Corvalen, Ltd\\ZURedore V12";
        s.seedValues = {{kDirKey, "bin", REG_SZ, Text(root + "\\bin")}, {kDirKey, "help", REG_SZ, Text(root + "\\help")}};
        s.boxes = {"The value help of " + std::string(kDirKey) +
                   " cannot be a directory path in a comma-separated menu line: " + root + "\\help"};
        s.registered = {
            {kApplicationServer, "", HostCommand(root + "\\bin", "/ovx /Automation")},
            {kDocumentServer, "", HostCommand(root + "\\bin", "/ovx")},
            {std::string(kShell) + "Open Orvantis V12\\command", "", HostCommand(root + "\\bin", "/ovx \"%1\"")},
            {std::string(kSettingsKey) + "\\Menus\\Help", "2", "CONTEXTHELPMODE,&What's This?\tShift+F1,Enter context help mode"},
            {std::string(kSettingsKey) + "\\Menus\\Help", "8", "ABOUT,&About Orvantis"},
        };
    }

    // A tool that creates the Options key leaves an empty default value: with
    // the last product gone, the family's shared keys go all the same.
    {
        RealMachineState& s = add("AnEmptyDefaultValueInTheOptionsKey");
        s.afterRegistration = "options_empty_default_last_product.reg";
        s.lastProduct = true;
    }
}

}  // namespace qz::test
