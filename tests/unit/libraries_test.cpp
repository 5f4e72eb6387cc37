// The default library list and the script library.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "registration/registration_steps.h"
#include "registration/settings/libraries.h"
#include "resources/resource_ids.h"
#include "tests/support/registry_fixture.h"

namespace qz {
namespace {

using Names = std::vector<std::string>;
using Messages = std::vector<std::string>;

const char kDefaultLibraries[] = "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\Default Libraries";
const char kScriptLibrary[] = "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\Script Library";
const char kLibDirectorySeed[] = "REGEDIT4\n"
                                 "[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Dir]\n"
                                 "\"lib\"=\"C:\\\\ZU\\\\lib\"\n";

struct ListCase {
    const char* list;
    Names names;
};

class DefaultLibraryList : public ::testing::TestWithParam<ListCase> {};

TEST_P(DefaultLibraryList, SplitsIntoTheNamesAsWritten) {
    EXPECT_EQ(DefaultLibraryNames(GetParam().list), GetParam().names) << '"' << GetParam().list << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Lists, DefaultLibraryList,
    ::testing::Values(ListCase{"Modeler.ovxl", {"Modeler.ovxl"}}, ListCase{"", {}}, ListCase{" \t\r\n\v\f", {}},
                      ListCase{"none", {}}, ListCase{"NONE", {}}, ListCase{"NoNe", {}},
                      ListCase{"  \t none", {}},
                      // Only the whole text "none" is special; white space at its end is part of it.
                      ListCase{"none ", {"none "}}, ListCase{"none,a.ovxl", {"none", "a.ovxl"}},
                      ListCase{"nonesuch", {"nonesuch"}},
                      ListCase{",a.ovxl,,b.ovxl,", {"a.ovxl", "b.ovxl"}}, ListCase{",,,", {}},
                      ListCase{"a.ovxl, b.ovxl", {"a.ovxl", " b.ovxl"}},
                      ListCase{"  a.ovxl ,b.ovxl  ", {"a.ovxl ", "b.ovxl  "}},
                      ListCase{"a b.ovxl", {"a b.ovxl"}}));

class LibrariesTest : public test::RegistryFixture {};

TEST_F(LibrariesTest, WritesEachLibraryWithItsPathInTheLibDirectory) {
    Seed(kLibDirectorySeed);
    strings.Set(IDS_DEFAULT_LIBRARY, ",a.ovxl,, b.ovxl,");
    RegisterDefaultLibraries(kRegister);
    EXPECT_EQ(Export(kDefaultLibraries),
              "Windows Registry Editor Version 5.00\n\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\Default Libraries]\n"
              "\" b.ovxl\"=\"C:\\\\ZU\\\\lib\\\\ b.ovxl\"\n"
              "\"a.ovxl\"=\"C:\\\\ZU\\\\lib\\\\a.ovxl\"\n\n");
    // In list order, under one key.
    const std::string written = "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\Default Libraries";
    EXPECT_EQ(registry.CallsOf(RegOp::SetValue), (Names{written + " -> a.ovxl", written + " ->  b.ovxl"}));
    EXPECT_EQ(registry.CountCalls(RegOp::CreateKey), 1u);
    EXPECT_EQ(reporter.messages, Messages{});
}

TEST_F(LibrariesTest, ThisProductsLibraryWithoutARecordedLibDirectoryIsABackslashAndTheName) {
    RegisterDefaultLibraries(kRegister);
    RegisterScriptLibrary(kRegister);
    EXPECT_EQ(StringValue(kDefaultLibraries, "Modeler.ovxl"), "\\Modeler.ovxl");
    // The script library is a file name only.
    EXPECT_EQ(StringValue(kScriptLibrary, "Default"), "modeler.ovxl");
    // Written all the same, but the pass says the installation was not found.
    EXPECT_EQ(reporter.messages, Messages{test::MissingInstallationBox("lib")});
}

TEST_F(LibrariesTest, NoneInAnyCaseCreatesNoKeyAndShowsNothing) {
    Seed(kLibDirectorySeed);
    strings.Set(IDS_DEFAULT_LIBRARY, " \tNone");
    RegisterDefaultLibraries(kRegister);
    EXPECT_FALSE(KeyExists(kDefaultLibraries));
    EXPECT_EQ(registry.FormatCalls(), "");
    EXPECT_EQ(reporter.messages, Messages{});
}

TEST_F(LibrariesTest, AListOfEmptyNamesStillCreatesTheKeyWithNoValue) {
    Seed(kLibDirectorySeed);
    strings.Set(IDS_DEFAULT_LIBRARY, " ,,");
    RegisterDefaultLibraries(kRegister);
    EXPECT_TRUE(KeyExists(kDefaultLibraries));
    EXPECT_EQ(registry.CountCalls(RegOp::SetValue), 0u);
    EXPECT_EQ(reporter.messages, Messages{});
}

TEST_F(LibrariesTest, NoneWithATrailingBlankIsALibraryName) {
    Seed(kLibDirectorySeed);
    strings.Set(IDS_DEFAULT_LIBRARY, "none ");
    RegisterDefaultLibraries(kRegister);
    EXPECT_EQ(StringValue(kDefaultLibraries, "none "), "C:\\ZU\\lib\\none ");
}

TEST_F(LibrariesTest, TheKeyRefusedShowsOneBoxAndWritesNothing) {
    registry.Fail(RegOp::CreateKey, kDefaultLibraries);
    strings.Set(IDS_DEFAULT_LIBRARY, "a.ovxl,b.ovxl");
    RegisterDefaultLibraries(kRegister);
    EXPECT_EQ(reporter.messages, Messages{"Unable to create default library key"});
    EXPECT_EQ(registry.CountCalls(RegOp::SetValue), 0u);
}

TEST_F(LibrariesTest, EachRefusedEntryShowsABoxAndTheOthersAreStillWritten) {
    registry.Fail(RegOp::SetValue, kDefaultLibraries).OnValue("a.ovxl");
    registry.Fail(RegOp::SetValue, kDefaultLibraries).OnValue("c.ovxl");
    strings.Set(IDS_DEFAULT_LIBRARY, "a.ovxl,b.ovxl,c.ovxl");
    RegisterDefaultLibraries(kRegister);
    EXPECT_EQ(reporter.messages,
              (Messages{"Unable to create default library entry", "Unable to create default library entry"}));
    EXPECT_EQ(StringValue(kDefaultLibraries, "b.ovxl"), "\\b.ovxl");
    EXPECT_EQ(StringValue(kDefaultLibraries, "a.ovxl"), std::nullopt);
}

TEST_F(LibrariesTest, TheScriptLibraryLosesItsLeadingWhiteSpaceOnly) {
    strings.Set(IDS_SCRIPT_LIBRARY, " \t my script.ovxl ");
    RegisterScriptLibrary(kRegister);
    EXPECT_EQ(StringValue(kScriptLibrary, "Default"), "my script.ovxl ");
}

// No "none" test for the script library: an empty name is written as it is.
TEST_F(LibrariesTest, AnEmptyScriptLibraryStillWritesAnEmptyDefault) {
    strings.Set(IDS_SCRIPT_LIBRARY, "");
    RegisterScriptLibrary(kRegister);
    EXPECT_EQ(StringValue(kScriptLibrary, "Default"), "");
}

TEST_F(LibrariesTest, ARefusedScriptLibraryKeyIsSilentARefusedValueIsReported) {
    registry.Fail(RegOp::CreateKey, kScriptLibrary);
    RegisterScriptLibrary(kRegister);
    EXPECT_EQ(reporter.messages, Messages{});
    EXPECT_EQ(registry.CountCalls(RegOp::SetValue), 0u);

    registry.ClearFaults();
    registry.Fail(RegOp::SetValue, kScriptLibrary).OnValue("Default");
    RegisterScriptLibrary(kRegister);
    EXPECT_EQ(reporter.messages, Messages{"Unable to create script library entry"});
}

TEST_F(LibrariesTest, UnregisterModeTouchesNothing) {
    Seed(kLibDirectorySeed);
    RegisterDefaultLibraries(kUnregister);
    RegisterScriptLibrary(kUnregister);
    EXPECT_EQ(registry.FormatCalls(), "");
    EXPECT_EQ(reporter.messages, Messages{});
}

}  // namespace
}  // namespace qz
