// The registry fixture that step tests build on: seeding, export and the value
// helpers read the memory registry, and the services point at the fixture's seams.
#include "tests/support/registry_fixture.h"

#include <gtest/gtest-spi.h>

#include "registration/product_lookups.h"

namespace qz::test {
namespace {

class RegistryFixtureTest : public RegistryFixture {};

TEST_F(RegistryFixtureTest, SeedsAndExportsInTheLayoutOfRegExport) {
    Seed("Windows Registry Editor Version 5.00\n"
         "\n"
         "[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Z]\n"
         "\"b\"=dword:0000002a\n"
         "@=\"C:\\\\Path \\\"quoted\\\"\"\n"
         "\"A\"=hex(2):25,00,54,00,00,00\n"
         "\n"
         "[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Z\\sub]\n"
         "[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Z\\Alpha]\n");
    EXPECT_EQ(Export("HKLM\\Software\\Corvalen\\Z"),
              "Windows Registry Editor Version 5.00\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Z]\n"
              "@=\"C:\\\\Path \\\"quoted\\\"\"\n"
              "\"A\"=hex(2):25,00,54,00,00,00\n"
              "\"b\"=dword:0000002a\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Z\\Alpha]\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Z\\sub]\n"
              "\n");
    EXPECT_EQ(Export("HKLM\\Software\\Corvalen\\Missing"), "");
    EXPECT_TRUE(KeyExists("HKEY_LOCAL_MACHINE\\SOFTWARE\\corvalen\\z\\SUB"));
    EXPECT_FALSE(KeyExists("HKEY_CURRENT_USER\\Software\\Corvalen\\Z"));
    EXPECT_EQ(StringValue("HKLM\\Software\\Corvalen\\Z", ""), "C:\\Path \"quoted\"");
    EXPECT_EQ(StringValue("HKLM\\Software\\Corvalen\\Z", "a"), "%T");
    EXPECT_EQ(StringValue("HKLM\\Software\\Corvalen\\Z", "b"), std::nullopt);
    EXPECT_EQ(DwordValue("HKLM\\Software\\Corvalen\\Z", "B"), 42u);
    EXPECT_EQ(DwordValue("HKLM\\Software\\Corvalen\\Z", ""), std::nullopt);
    EXPECT_EQ(ValueType("HKLM\\Software\\Corvalen\\Z", "A"), static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(ValueType("HKLM\\Software\\Corvalen\\Z", "none"), std::nullopt);
}

TEST_F(RegistryFixtureTest, ClassesRootIsTheMachineClassesKey) {
    Seed("REGEDIT4\n\n[HKEY_CLASSES_ROOT\\.ovxf]\n@=\"OVX.Document\"\n");
    EXPECT_EQ(StringValue("HKEY_LOCAL_MACHINE\\Software\\Classes\\.ovxf", ""), "OVX.Document");
    EXPECT_EQ(Export("HKCR\\.ovxf"),
              "Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\.ovxf]\n@=\"OVX.Document\"\n\n");
}

TEST_F(RegistryFixtureTest, AMalformedSeedFailsTheTestAndChangesNothing) {
    EXPECT_NONFATAL_FAILURE(Seed("REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"v\"=dword:xyz\n"), "line 3");
    EXPECT_FALSE(KeyExists("HKCU\\A"));
}

TEST_F(RegistryFixtureTest, TheModuleSeesTheFixtureRegistryAndStrings) {
    Seed("REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Dir]\n\"bin\"=\"C:\\\\ZU\\\\bin\"\n");
    EXPECT_EQ(GetInstallDirectory(InstallDirectoryKind::Bin), "C:\\ZU\\bin");
    EXPECT_EQ(registry.CallsOf(RegOp::QueryValue),
              std::vector<std::string>{"HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Dir -> bin"});
    EXPECT_EQ(&Registry(), &registry);
}

}  // namespace
}  // namespace qz::test
