// The Help menu lines and the Tools menu additions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "registration/registration_steps.h"
#include "resources/resource_ids.h"
#include "tests/support/registry_fixture.h"

namespace qz {
namespace {

using Messages = std::vector<std::string>;

const char kHelp[] = "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\Menus\\Help";
const char kCustomization[] = "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\Menus\\Customization";
const char kIniSettings[] = "HKEY_CURRENT_USER\\Software\\Corvalen\\Orvantis\\38.0\\IniSettings";
const char kHelpDirectorySeed[] = "REGEDIT4\n"
                                  "[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Dir]\n"
                                  "\"help\"=\"C:\\\\ZU\\\\help\"\n";

class MenusTest : public test::RegistryFixture {};

TEST_F(MenusTest, HelpMenuHasItsNineLinesInOrder) {
    Seed(kHelpDirectorySeed);
    RegisterHelpMenu(kRegister);
    EXPECT_EQ(Export(kHelp),
              "Windows Registry Editor Version 5.00\n\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\Menus\\Help]\n"
              "\"0\"=\"WINHELP,&Orvantis Contents,C:\\\\ZU\\\\help\\\\ovx,Display help topics\"\n"
              "\"1\"=\"WINHELP,Pellwick &Contents,C:\\\\ZU\\\\help\\\\pwk,Display Pellwick help topics\"\n"
              "\"2\"=\"CONTEXTHELPMODE,&What's This?\tShift+F1,Enter context help mode\"\n"
              "\"3\"=\"SEPARATOR\"\n"
              "\"4\"=\"VKSTRAINING,&Product Support on the Web,Support,Display product support information on the Web\"\n"
              "\"5\"=\"VKSTRAINING,&Training,Training,Display training information\"\n"
              "\"6\"=\"VKSTRAINING,&Documentation,Documentation,Display online documentation\"\n"
              "\"7\"=\"SEPARATOR\"\n"
              "\"8\"=\"ABOUT,&About Orvantis\"\n\n");
    std::vector<std::string> names;
    for (const RegistryCall& call : registry.Calls())
        if (call.op == RegOp::SetValue && call.keyPath == kHelp) names.push_back(call.valueName);
    EXPECT_EQ(names, (std::vector<std::string>{"0", "1", "2", "3", "4", "5", "6", "7", "8"}));
    // The help directory is looked up for each of the two lines that name a help file.
    EXPECT_EQ(registry.CountCalls(RegOp::QueryValue), 2u);
    EXPECT_EQ(reporter.messages, Messages{});
}

TEST_F(MenusTest, TheShortcutIsSeparatedByOneTabCharacter) {
    RegisterHelpMenu(kRegister);
    const std::string line = StringValue(kHelp, "2").value_or("");
    EXPECT_EQ(line.substr(line.find('?')), "?\x09Shift+F1,Enter context help mode");
    EXPECT_EQ(line.find('\\'), std::string::npos);
}

TEST_F(MenusTest, WithoutAHelpDirectoryThePathsBeginWithTheBackslash) {
    RegisterHelpMenu(kRegister);
    EXPECT_EQ(StringValue(kHelp, "0"), "WINHELP,&Orvantis Contents,\\ovx,Display help topics");
    EXPECT_EQ(StringValue(kHelp, "1"), "WINHELP,Pellwick &Contents,\\pwk,Display Pellwick help topics");
}

TEST_F(MenusTest, HelpFilesAreTheStringTablesBaseNamesAsTheyStand) {
    strings.Set(IDS_HELP_FILE, "main help");
    strings.Set(IDS_COMPANION_HELP_FILE, "extra.chm");
    RegisterHelpMenu(kRegister);
    EXPECT_EQ(StringValue(kHelp, "0"), "WINHELP,&Orvantis Contents,\\main help,Display help topics");
    EXPECT_EQ(StringValue(kHelp, "1"), "WINHELP,Pellwick &Contents,\\extra.chm,Display Pellwick help topics");
}

TEST_F(MenusTest, HelpMenuEndsWithTheUserSwitchAfterClosingItsKey) {
    RegisterHelpMenu(kRegister);
    EXPECT_EQ(DwordValue(kIniSettings, "whatsnew_ovx"), 0u);
    const auto& calls = registry.Calls();
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(calls[calls.size() - 4].op, RegOp::CloseKey);
    EXPECT_EQ(calls[calls.size() - 4].keyPath, kHelp);
    EXPECT_EQ(calls[calls.size() - 3].op, RegOp::CreateKey);
    EXPECT_EQ(calls[calls.size() - 3].keyPath, kIniSettings);
}

TEST_F(MenusTest, ARefusedLineIsSilentAndTheRestAreWritten) {
    registry.Fail(RegOp::SetValue, kHelp).OnValue("4");
    RegisterHelpMenu(kRegister);
    EXPECT_EQ(reporter.messages, Messages{});
    EXPECT_EQ(StringValue(kHelp, "4"), std::nullopt);
    EXPECT_EQ(StringValue(kHelp, "8"), "ABOUT,&About Orvantis");
}

TEST_F(MenusTest, ARefusedHelpKeyStillRunsTheUserSwitch) {
    registry.Fail(RegOp::CreateKey, kHelp);
    RegisterHelpMenu(kRegister);
    EXPECT_EQ(reporter.messages, Messages{"Unable to create Menu Help key"});
    EXPECT_EQ(DwordValue(kIniSettings, "whatsnew_ovx"), 0u);
}

TEST_F(MenusTest, BothBoxesInOrderWhenTheUserKeyIsRefusedToo) {
    registry.Fail(RegOp::CreateKey, kHelp);
    registry.Fail(RegOp::CreateKey, kIniSettings);
    RegisterHelpMenu(kRegister);
    EXPECT_EQ(reporter.messages, (Messages{"Unable to create Menu Help key", "Unable to create What's new OVX key"}));
}

TEST_F(MenusTest, ToolsLinesAreNumberedFromZeroWithFourDigits) {
    RegisterMenuCustomization(kRegister, MenuCustomizationLines, 4);
    EXPECT_EQ(Export(kCustomization),
              "Windows Registry Editor Version 5.00\n\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\Menus\\Customization]\n"
              "\"0000\"=\"ADD,&Tools/Initialize Control Scheme,BEFORE,Generate Procedure Co&de...,"
              "InitializeControls, Re-initializes all control elements\"\n"
              "\"0001\"=\"ADD,&Tools/Remove Control Scheme,BEFORE,Generate Procedure Co&de...,"
              "RemoveControl, Removes all control elements\"\n"
              "\"0002\"=\"ADD,&Tools/New Reaction Global Structure...,BEFORE,Generate Procedure Co&de...,"
              "CreateReactionStructure, Create New Reaction Global Structure\"\n"
              "\"0003\"=\"ADD,&Tools/Custom Reactions Model &Wizard...,BEFORE,Generate Procedure Co&de...,"
              "RunRxnModelWizard, Launch KRT Reactions Model Wizard\"\n\n");
    EXPECT_EQ(reporter.messages, Messages{});
}

TEST_F(MenusTest, TheCountDecidesHowManyLinesAndTheKeyIsMadeEvenForNone) {
    const char* const lines[] = {"ADD,a", "ADD,b", "ADD,c"};
    RegisterMenuCustomization(kRegister, lines, 2);
    EXPECT_EQ(StringValue(kCustomization, "0001"), "ADD,b");
    EXPECT_EQ(StringValue(kCustomization, "0002"), std::nullopt);

    memory.RemoveTree(u"HKEY_LOCAL_MACHINE\\Software\\Corvalen");
    RegisterMenuCustomization(kRegister, lines, 0);
    EXPECT_EQ(Export(kCustomization),
              "Windows Registry Editor Version 5.00\n\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\Menus\\Customization]\n\n");
    // A count below zero is none: the key, made again, and no line.
    memory.RemoveTree(u"HKEY_LOCAL_MACHINE\\Software\\Corvalen");
    RegisterMenuCustomization(kRegister, lines, -3);
    EXPECT_EQ(Export(kCustomization),
              "Windows Registry Editor Version 5.00\n\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\Menus\\Customization]\n\n");
    EXPECT_EQ(reporter.messages, Messages{});
}

TEST_F(MenusTest, TheToolsKeyRefusedShowsItsBox) {
    registry.Fail(RegOp::CreateKey, kCustomization);
    RegisterMenuCustomization(kRegister, MenuCustomizationLines, 4);
    EXPECT_EQ(reporter.messages, Messages{"Unable to create menu customization key"});
    EXPECT_EQ(registry.CountCalls(RegOp::SetValue), 0u);
}

TEST_F(MenusTest, UnregisterModeTouchesNothingNotEvenTheUserSwitch) {
    Seed(kHelpDirectorySeed);
    RegisterHelpMenu(kUnregister);
    RegisterMenuCustomization(kUnregister, MenuCustomizationLines, 4);
    EXPECT_EQ(registry.FormatCalls(), "");
    EXPECT_FALSE(KeyExists(kIniSettings));
}

}  // namespace
}  // namespace qz
