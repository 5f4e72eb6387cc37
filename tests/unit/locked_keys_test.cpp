// Keys whose permissions let this process only read them, or not even that,
// met by a whole registration and unregistration. Each open asks for what its
// operation needs, so a key that only has to be read still answers; a key of
// ours that refuses a change says so and fails the pass; a question that
// cannot be answered keeps what its answer would have removed.
//
// A lock is modelled as the registry applies a key's permissions: opens and
// creates asking for any right the lock withholds fail with access denied,
// and so does deleting the key.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "module/registration_driver.h"
#include "registration/module_state.h"
#include "registration/product_lookups.h"
#include "registration/registration_steps.h"
#include "tests/support/registry_fixture.h"
#include "text/code_page.h"

namespace qz {
namespace {

using Messages = std::vector<std::string>;

// Everything KEY_ALL_ACCESS holds beyond KEY_READ: writing values, creating
// subkeys, deleting, changing the permissions or the owner.
constexpr REGSAM kBeyondRead = KEY_ALL_ACCESS & ~KEY_READ;
// DELETE, WRITE_DAC and WRITE_OWNER: what a key that others may change but not
// remove or re-permission withholds.
constexpr REGSAM kDeleteAndPermissions = 0x000D0000u;

const char kInstallation[] = R"(Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\Software\Corvalen\Pellwick\38.0\GUIDefaults]
"CustomModelingOn"=dword:00000000

[HKEY_LOCAL_MACHINE\Software\Corvalen\ZURedore\38.0\Dir]
"bin"="C:\\Program Files\\Corvalen\\ZURedore V12\\bin"
"help"="C:\\Program Files\\Corvalen\\ZURedore V12\\help"
"lib"="C:\\Program Files\\Corvalen\\ZURedore V12\\lib"

[HKEY_LOCAL_MACHINE\Software\Corvalen\ZURedore\38.0\Options]
"pwk"="Pellwick"
)";

const char kOptions[] = "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Options";
const char kSettings[] = "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0";
const char kAsciiSuffix[] = "HKEY_CLASSES_ROOT\\.ovxf";
const char kLibrarySuffix[] = "HKEY_CLASSES_ROOT\\.ovxl";
const char kLibraryType[] = "HKEY_CLASSES_ROOT\\Tavrin Model Library";
const char kDocumentType[] = "HKEY_CLASSES_ROOT\\Orvantis Language";
const char kCurVer[] = "HKEY_CLASSES_ROOT\\OVX Application\\CurVer";
const char kVersionedProgId[] = "HKEY_CLASSES_ROOT\\OVX Application 3800";
const char kApplicationClass[] = "HKEY_CLASSES_ROOT\\CLSID\\{FDE14674-8E3D-0380-878A-2E97C127D967}";
const char kDocumentClass[] = "HKEY_CLASSES_ROOT\\CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}";

std::string UnableToRemoveOurOptionsValue() { return std::string("Unable to remove the value ovx of ") + kOptions; }

class LockedKeysTest : public test::RegistryFixture {
protected:
    void SetUp() override {
        RegistryFixture::SetUp();
        Seed(kInstallation);
    }
    void TearDown() override {
        ModulePath().clear();
        RegistryFixture::TearDown();
    }

    void Register() {
        ModulePath() = "C:\\Program Files\\Orvantis Test\\qzproduct.dll";
        RegisterApplicationName();
        RunRegistrationSteps(kRegister);
        ModulePath().clear();
    }
    void Unregister() {
        RemoveProductKeys();
        RunRegistrationSteps(kUnregister);
    }
    void RemoveOtherProduct() { ASSERT_TRUE(memory.RemoveValue(Utf8ToUtf16(kOptions), u"pwk")); }
    // Others may read the key (and, through its own permissions, its subkeys), nothing more.
    void LockReadOnly(const std::string& key) {
        registry.Fail(RegOp::OpenKey, key).AskingFor(kBeyondRead);
        registry.Fail(RegOp::CreateKey, key).AskingFor(kBeyondRead);
        registry.Fail(RegOp::DeleteKey, key);
    }
    // Not even reading: every open fails.
    void LockEntirely(const std::string& key) {
        registry.Fail(RegOp::OpenKey, key);
        registry.Fail(RegOp::CreateKey, key);
        registry.Fail(RegOp::DeleteKey, key);
    }
};

TEST_F(LockedKeysTest, AReadOnlyOptionsKeyStillCountsTheOtherProductAndOurValueStaysWithABox) {
    Register();
    ASSERT_EQ(reporter.messages, Messages{});
    LockReadOnly(kOptions);
    Unregister();

    EXPECT_EQ(reporter.messages, Messages{UnableToRemoveOurOptionsValue()});
    EXPECT_EQ(StringValue(kOptions, "ovx"), "Orvantis");
    EXPECT_EQ(StringValue(kOptions, "pwk"), "Pellwick");
    // The other product is still there: the keys the family shares stay.
    EXPECT_EQ(StringValue(kLibrarySuffix, ""), "Tavrin Model Library");
    EXPECT_TRUE(KeyExists(kLibraryType));
    // Everything else of this version goes.
    for (const char* key : {kSettings, kAsciiSuffix, kDocumentType, kVersionedProgId, kApplicationClass, kDocumentClass})
        EXPECT_FALSE(KeyExists(key)) << key;
}

// Whether another product is left cannot be told: the shared keys stay, and
// the pass says why.
TEST_F(LockedKeysTest, AnUnreadableOptionsKeyKeepsTheSharedLibraryKeys) {
    Register();
    RemoveOtherProduct();
    LockEntirely(kOptions);
    Unregister();

    EXPECT_EQ(reporter.messages,
              (Messages{UnableToRemoveOurOptionsValue(), std::string("Unable to read ") + kOptions}));
    EXPECT_TRUE(KeyExists(kLibrarySuffix));
    EXPECT_TRUE(KeyExists(kLibraryType));
    EXPECT_FALSE(KeyExists(kAsciiSuffix));
}

// Which version is current cannot be told: every key the current version uses
// stays; this version's own keys go.
TEST_F(LockedKeysTest, AnUnreadableCurVerKeepsEveryKeyTheCurrentVersionUses) {
    Register();
    LockEntirely(kCurVer);
    Unregister();

    EXPECT_EQ(reporter.messages, Messages{std::string("Unable to read ") + kCurVer});
    for (const char* key : {kAsciiSuffix, kDocumentType, kDocumentClass, kCurVer}) EXPECT_TRUE(KeyExists(key)) << key;
    for (const char* key : {kSettings, kVersionedProgId, kApplicationClass}) EXPECT_FALSE(KeyExists(key)) << key;
    EXPECT_EQ(StringValue(kOptions, "ovx"), std::nullopt);
}

TEST_F(LockedKeysTest, AReadOnlySuffixKeyOfOursKeepsItsValueWithABox) {
    Register();
    LockReadOnly(kAsciiSuffix);
    Unregister();

    EXPECT_EQ(reporter.messages, Messages{std::string("Unable to remove the default value of ") + kAsciiSuffix});
    EXPECT_EQ(StringValue(kAsciiSuffix, ""), "Orvantis Language");
    EXPECT_FALSE(KeyExists(kDocumentType));
}

// A suffix key another program took over is not ours: that it is locked is no failure.
TEST_F(LockedKeysTest, AReadOnlySuffixKeyOfAnotherProgramIsPassedOver) {
    Register();
    Seed("REGEDIT4\n[HKEY_CLASSES_ROOT\\.ovxf]\n@=\"Other.Document\"\n");
    LockReadOnly(kAsciiSuffix);
    Unregister();

    EXPECT_EQ(reporter.messages, Messages{});
    EXPECT_EQ(StringValue(kAsciiSuffix, ""), "Other.Document");
}

// Our suffix key emptied of our value, but its deletion refused.
TEST_F(LockedKeysTest, AnEmptiedSuffixKeyThatCannotGoShowsABox) {
    Register();
    registry.Fail(RegOp::DeleteKey, kAsciiSuffix);
    Unregister();

    EXPECT_EQ(reporter.messages, Messages{std::string("Unable to remove ") + kAsciiSuffix});
    EXPECT_TRUE(KeyExists(kAsciiSuffix));
    EXPECT_EQ(StringValue(kAsciiSuffix, ""), std::nullopt);
}

TEST_F(LockedKeysTest, AnUnreadableSuffixKeyStaysWithABox) {
    Register();
    LockEntirely(kAsciiSuffix);
    Unregister();

    EXPECT_EQ(reporter.messages, Messages{std::string("Unable to read ") + kAsciiSuffix});
    EXPECT_EQ(StringValue(kAsciiSuffix, ""), "Orvantis Language");
}

// A locked subkey below a shared key of ours: the key cannot go, and says so.
TEST_F(LockedKeysTest, ALockedSubkeyBelowTheDocumentTypeFailsTheUnregistration) {
    Register();
    LockReadOnly(std::string(kDocumentType) + "\\shell\\Open\\command");
    Unregister();

    EXPECT_EQ(reporter.messages, Messages{std::string("Unable to remove ") + kDocumentType});
    EXPECT_TRUE(KeyExists(std::string(kDocumentType) + "\\shell\\Open\\command"));
    EXPECT_FALSE(KeyExists(std::string(kDocumentType) + "\\shell\\Edit"));
}

// Keys whose permissions withhold deleting and re-permissioning everywhere:
// neither pass asks for those rights where it only writes, reads or counts,
// so both work as on an unlocked machine.
TEST_F(LockedKeysTest, NoOpenAsksForMoreThanItsOperationNeeds) {
    for (const char* root : {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_CLASSES_ROOT"}) {
        registry.Fail(RegOp::OpenKey, root).Subtree().AskingFor(kDeleteAndPermissions);
        registry.Fail(RegOp::CreateKey, root).Subtree().AskingFor(kDeleteAndPermissions);
    }
    Register();
    EXPECT_EQ(reporter.messages, Messages{});
    EXPECT_EQ(StringValue(std::string(kSettings) + "\\Customization", "DLL"),
              "C:\\Program Files\\Orvantis Test\\qzproduct.dll");
    EXPECT_EQ(StringValue(kOptions, "ovx"), "Orvantis");

    RemoveOtherProduct();
    Unregister();
    EXPECT_EQ(reporter.messages, Messages{});
    for (const char* key : {kSettings, kAsciiSuffix, kLibrarySuffix, kLibraryType, kDocumentType, kVersionedProgId,
                            kApplicationClass, kDocumentClass, "HKEY_CLASSES_ROOT\\OVX Application"})
        EXPECT_FALSE(KeyExists(key)) << key;
    EXPECT_EQ(StringValue(kOptions, "ovx"), std::nullopt);
}

// During a registration, the search for installed versions must read the
// system's and the product's keys: one it cannot read would silently drop
// other versions' verbs from the rebuilt document type.
TEST_F(LockedKeysTest, AnUnreadableSystemKeyFailsTheRegistration) {
    LockEntirely("HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvalen\\ZUREDORE");
    Register();
    EXPECT_EQ(reporter.messages, Messages{"Unable to read HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvalen\\ZUREDORE"});
}

// The unregistration reads the installation's Dir key for the label of this
// version's verb: one it cannot read might leave that verb, so it says so.
TEST_F(LockedKeysTest, AnUnreadableDirKeyAtUnregistrationSaysSo) {
    Register();
    LockEntirely("HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Dir");
    Unregister();
    EXPECT_EQ(reporter.messages, Messages{"Unable to read HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvalen\\ZUREDORE\\38.0\\Dir"});
    EXPECT_FALSE(KeyExists(std::string(kDocumentType) + "\\shell\\Open Orvantis V12"));
}

}  // namespace
}  // namespace qz
