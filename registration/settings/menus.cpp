// The product's lines in the host's Help menu (Menus\Help, values "0" to "8")
// and its additions to the Tools menu (Menus\Customization, values "0000" on).
// The host builds those menus from these lines; each line is a keyword and
// comma-separated fields. Written in register mode only: the keys lie under the
// product settings key and go with it on unregistration.
#include <cstdio>

#include "registration/module_state.h"
#include "registration/registration_steps.h"
#include "registration/product_lookups.h"
#include "resources/resource_ids.h"

namespace qz {

// Four items added to the "&Tools" menu before its "Generate Procedure Co&de..."
// item: menu path, BEFORE, existing item, command name, description (the
// description begins with a blank, which the host shows as written).
const char* const MenuCustomizationLines[4] = {
    "ADD,&Tools/Initialize Control Scheme,BEFORE,Generate Procedure Co&de...,InitializeControls,"
    " Re-initializes all control elements",
    "ADD,&Tools/Remove Control Scheme,BEFORE,Generate Procedure Co&de...,RemoveControl,"
    " Removes all control elements",
    "ADD,&Tools/New Reaction Global Structure...,BEFORE,Generate Procedure Co&de...,CreateReactionStructure,"
    " Create New Reaction Global Structure",
    "ADD,&Tools/Custom Reactions Model &Wizard...,BEFORE,Generate Procedure Co&de...,RunRxnModelWizard,"
    " Launch KRT Reactions Model Wizard",
};

namespace {

// One Help menu line: its value name and its text. A line that names a help
// file is the text before the path, then [help directory]\[file], then the rest.
struct HelpMenuLine {
    const char* valueName;
    const char* text;
    unsigned helpFileId;  // 0: the text is the whole line
    const char* textAfterPath;
};

// "\t" is one TAB character between a menu text and its shortcut text.
const HelpMenuLine HelpMenuLines[] = {
    {"0", "WINHELP,&Orvantis Contents,", IDS_HELP_FILE, ",Display help topics"},
    {"1", "WINHELP,Pellwick &Contents,", IDS_COMPANION_HELP_FILE, ",Display Pellwick help topics"},
    {"2", "CONTEXTHELPMODE,&What's This?\tShift+F1,Enter context help mode", 0, ""},
    {"3", "SEPARATOR", 0, ""},
    {"4", "VKSTRAINING,&Product Support on the Web,Support,Display product support information on the Web", 0, ""},
    {"5", "VKSTRAINING,&Training,Training,Display training information", 0, ""},
    {"6", "VKSTRAINING,&Documentation,Documentation,Display online documentation", 0, ""},
    {"7", "SEPARATOR", 0, ""},
    {"8", "ABOUT,&About Orvantis", 0, ""},
};

std::string MenusKeyPath(const char* leaf) { return ProductSettingsKeyPath(std::string("Menus\\") + leaf); }

}  // namespace

void RegisterHelpMenu(int registerFlag) {
    if (registerFlag == 0) return;
    {
        UniqueKey key(Registry());
        if (CreateRegistryKey(HKEY_LOCAL_MACHINE, MenusKeyPath("Help"), key) != ERROR_SUCCESS) {
            ReportRegistrationError(ReportMessage::CreateMenuHelpKey);
        } else {
            for (const HelpMenuLine& line : HelpMenuLines) {
                std::string data = line.text;
                if (line.helpFileId != 0) {
                    const std::string helpDirectory = GetInstallDirectory(InstallDirectoryKind::Help);
                    // The host splits the line at every comma: a directory with one
                    // would move the description into the path's place. That line is
                    // left out and the pass fails; the other lines still go in.
                    if (helpDirectory.find(',') != std::string::npos) {
                        ReportRegistrationErrorOnce("menu line directory help", ReportMessage::MenuLineDirectory,
                                                    {"HKEY_LOCAL_MACHINE\\" + SystemDirKeyPath(), helpDirectory});
                        continue;
                    }
                    data += helpDirectory + "\\";
                    // A base name, joined in without an extension.
                    data += LoadProductString(line.helpFileId);
                    data += line.textAfterPath;
                }
                // A line the registry refuses is left out; the others still go in.
                (void)SetRegistryString(key.get(), line.valueName, data);
            }
        }
    }
    // Runs whether or not the Help key could be made; the Help key is closed first.
    RegisterIniSettings();
}

void RegisterMenuCustomization(int registerFlag, const char* const lines[], int count) {
    if (registerFlag == 0) return;
    UniqueKey key(Registry());
    if (CreateRegistryKey(HKEY_LOCAL_MACHINE, MenusKeyPath("Customization"), key) != ERROR_SUCCESS) {
        ReportRegistrationError(ReportMessage::CreateMenuCustomizationKey);
        return;
    }
    // The key is made even when there are no lines to write.
    for (int i = 0; lines != nullptr && i < count; ++i) {
        char valueName[16];
        std::snprintf(valueName, sizeof valueName, "%04d", i);
        (void)SetRegistryString(key.get(), valueName, lines[i] != nullptr ? lines[i] : "");
    }
}

}  // namespace qz
