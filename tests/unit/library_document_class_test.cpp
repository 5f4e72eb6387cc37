// The document suffixes, the Suffix setting and the library document type. When
// the keys the products of the family share go (by the current version and the
// products left) is one rule of the whole unregistration, in unregistration_test.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "registration/registration_steps.h"
#include "tests/support/registry_fixture.h"

namespace qz {
namespace {

using Messages = std::vector<std::string>;

const char kAsciiSuffix[] = "HKCR\\.ovxf";
const char kLibrarySuffix[] = "HKCR\\.ovxl";
const char kLibraryType[] = "HKCR\\Tavrin Model Library";
const char kLibraryClassId[] = "HKCR\\Tavrin Model Library\\CLSID";
const char kSuffixSetting[] = "HKLM\\Software\\Corvalen\\Orvantis\\38.0\\Suffix";

class LibraryDocumentClassTest : public test::RegistryFixture {
protected:
    // The three steps in the driver's order.
    void RunSteps(int registerFlag) {
        RegisterDocumentSuffixes(registerFlag);
        RegisterSuffixSetting(registerFlag);
        RegisterLibraryDocumentClass(registerFlag);
    }
};

TEST_F(LibraryDocumentClassTest, RegisterWritesTheFiveValuesInOrderEachKeyClosedBeforeTheNext) {
    RunSteps(1);

    EXPECT_EQ(StringValue(kAsciiSuffix, ""), "Orvantis Language");
    EXPECT_EQ(StringValue(kLibrarySuffix, ""), "Tavrin Model Library");
    // The setting carries the suffix without its dot.
    EXPECT_EQ(StringValue(kSuffixSetting, "ASCII"), "ovxf,Orvantis Language");
    EXPECT_EQ(StringValue(kLibraryClassId, ""), "{3209ADC4-9264-11D1-B147-00A024F1AC65}");
    EXPECT_EQ(StringValue(kLibraryType, ""), "Tessaryn Library");
    EXPECT_EQ(reporter.messages, Messages{});

    EXPECT_EQ(registry.FormatCalls(),
              "CreateKey HKEY_CLASSES_ROOT\\.ovxf = 0\n"
              "SetValue HKEY_CLASSES_ROOT\\.ovxf -> \"\" = 0\n"
              "CloseKey HKEY_CLASSES_ROOT\\.ovxf = 0\n"
              "CreateKey HKEY_CLASSES_ROOT\\.ovxl = 0\n"
              "SetValue HKEY_CLASSES_ROOT\\.ovxl -> \"\" = 0\n"
              "CloseKey HKEY_CLASSES_ROOT\\.ovxl = 0\n"
              "CreateKey HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\Suffix = 0\n"
              "SetValue HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\Suffix -> \"ASCII\" = 0\n"
              "CloseKey HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\Suffix = 0\n"
              "CreateKey HKEY_CLASSES_ROOT\\Tavrin Model Library\\CLSID = 0\n"
              "SetValue HKEY_CLASSES_ROOT\\Tavrin Model Library\\CLSID -> \"\" = 0\n"
              "CloseKey HKEY_CLASSES_ROOT\\Tavrin Model Library\\CLSID = 0\n"
              "CreateKey HKEY_CLASSES_ROOT\\Tavrin Model Library = 0\n"
              "SetValue HKEY_CLASSES_ROOT\\Tavrin Model Library -> \"\" = 0\n"
              "CloseKey HKEY_CLASSES_ROOT\\Tavrin Model Library = 0\n");
}

struct FailureCase {
    const char* name;
    RegOp op;
    const char* key;
    bool subtree;
    Messages expected;
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

const FailureCase kFailureCases[] = {
    {"AsciiSuffixKey",
     RegOp::CreateKey,
     kAsciiSuffix,
     false,
     {"Unable to create ASCII document suffix entry"}},
    {"AsciiSuffixValue",
     RegOp::SetValue,
     kAsciiSuffix,
     false,
     {"Unable to create ASCII document suffix entry"}},
    {"LibrarySuffixKey",
     RegOp::CreateKey,
     kLibrarySuffix,
     false,
     {"Unable to create Library document suffix entry"}},
    {"LibrarySuffixValue",
     RegOp::SetValue,
     kLibrarySuffix,
     false,
     {"Unable to create Library document suffix entry"}},
    {"SuffixSettingKey", RegOp::CreateKey, kSuffixSetting, false, {}},
    {"SuffixSettingValue",
     RegOp::SetValue,
     kSuffixSetting,
     false,
     {"Unable to create ASCII document suffix entry in HKLM"}},
    {"LibraryClassIdKey",
     RegOp::CreateKey,
     kLibraryClassId,
     false,
     {"Unable to create library document class id"}},
    {"LibraryClassIdValue",
     RegOp::SetValue,
     kLibraryClassId,
     false,
     {"Unable to create library document class id"}},
    {"LibraryTypeKey", RegOp::CreateKey, kLibraryType, false, {}},
    // The class id went first: the type key exists with it, but without a display name.
    {"LibraryTypeValue",
     RegOp::SetValue,
     kLibraryType,
     false,
     {"Unable to assign value to library class name"}},
    // Steps four and seven each show their own messages; the library type key itself fails silently.
    {"UnwritableClassesRoot",
     RegOp::CreateKey,
     "HKCR",
     true,
     {"Unable to create ASCII document suffix entry", "Unable to create Library document suffix entry",
      "Unable to create library document class id"}},
};

class LibraryDocumentClassFailure : public LibraryDocumentClassTest,
                                    public ::testing::WithParamInterface<FailureCase> {};

TEST_P(LibraryDocumentClassFailure, ReportsTheKeysOwnMessageAndWritesTheOthers) {
    const FailureCase& c = GetParam();
    RegistryFault& fault = registry.Fail(c.op, c.key);
    if (c.subtree) fault.Subtree();
    RunSteps(1);

    EXPECT_EQ(reporter.messages, c.expected);
    const std::pair<const char*, const char*> values[] = {{kAsciiSuffix, ""},
                                                          {kLibrarySuffix, ""},
                                                          {kSuffixSetting, "ASCII"},
                                                          {kLibraryClassId, ""},
                                                          {kLibraryType, ""}};
    for (const auto& [key, name] : values) {
        const bool failedHere =
            c.subtree ? std::string(key).rfind("HKCR", 0) == 0 : std::string(key) == c.key;
        EXPECT_EQ(StringValue(key, name).has_value(), !failedHere) << key;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, LibraryDocumentClassFailure, ::testing::ValuesIn(kFailureCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LibraryDocumentClassTest, RegisteringTwiceEqualsRegisteringOnce) {
    Seed("REGEDIT4\n[HKEY_CLASSES_ROOT\\.ovxf]\n@=\"Other Type\"\n\"Content Type\"=\"text/plain\"\n");
    RunSteps(1);
    const std::string once = Export("HKLM");
    RunSteps(1);
    EXPECT_EQ(Export("HKLM"), once);
    EXPECT_EQ(StringValue(kAsciiSuffix, ""), "Orvantis Language");
    EXPECT_EQ(StringValue(kAsciiSuffix, "Content Type"), "text/plain");
}

const char kThisVersionCurrent[] =
    "[HKEY_CLASSES_ROOT\\OVX Application\\CurVer]\n@=\"OVX Application 3800\"\n";
const char kEmptyOptions[] = "[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Options]\n";
const char kOtherProduct[] =
    "[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Options]\n\"pwk\"=\"Pellwick\"\n";

TEST_F(LibraryDocumentClassTest, UnregisteringWithNothingRegisteredChangesNothingAndShowsNothing) {
    Seed(std::string("REGEDIT4\n") + kOtherProduct + "[HKEY_CLASSES_ROOT\\.txt]\n@=\"txtfile\"\n");
    const std::string before = Export("HKLM");
    RunSteps(0);
    EXPECT_EQ(Export("HKLM"), before);
    EXPECT_EQ(reporter.messages, Messages{});
}

// What this module wrote and cannot remove stays, and says so; the other keys still go.
TEST_F(LibraryDocumentClassTest, WhatCannotBeRemovedShowsABox) {
    RunSteps(1);
    Seed(std::string("REGEDIT4\n") + kThisVersionCurrent + kEmptyOptions);
    registry.Fail(RegOp::DeleteValue, kAsciiSuffix).OnValue("");
    registry.Fail(RegOp::DeleteKey, std::string(kLibraryClassId));
    RunSteps(0);
    EXPECT_EQ(reporter.messages, (Messages{"Unable to remove the default value of HKEY_CLASSES_ROOT\\.ovxf",
                                           "Unable to remove HKEY_CLASSES_ROOT\\Tavrin Model Library"}));
    EXPECT_EQ(StringValue(kAsciiSuffix, ""), "Orvantis Language");
    EXPECT_TRUE(KeyExists(kLibraryClassId));
    EXPECT_FALSE(KeyExists(kLibrarySuffix));
}

}  // namespace
}  // namespace qz
