// Keys whose permissions let this process only read them, or not even that,
// met by a whole registration and unregistration: the table of
// tests/support/locked_key_states, which the Wine suite runs with the real DLL.
// Each open asks for what its operation needs, so a key that only has to be
// read still answers; a key of ours that refuses a change says so and fails
// the pass; a question that cannot be answered keeps what its answer would
// have removed.
//
// A lock is modelled as the registry applies a key's permissions: opens and
// creates asking for any right the lock withholds fail with access denied,
// and so does deleting the key.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "module/registration_driver.h"
#include "registration/module_state.h"
#include "registration/product_lookups.h"
#include "registration/registration_steps.h"
#include "tests/support/locked_key_states.h"
#include "tests/support/product_identity.h"
#include "tests/support/registry_fixture.h"
#include "text/code_page.h"

namespace qz {
namespace {

using Messages = std::vector<std::string>;
using test::KeyLockKind;
using test::LockedKeyState;

// Everything KEY_ALL_ACCESS holds beyond KEY_READ: writing values, creating
// subkeys, deleting, changing the permissions or the owner.
constexpr REGSAM kBeyondRead = KEY_ALL_ACCESS & ~KEY_READ;
// Everything KEY_ALL_ACCESS holds beyond reading values: listing subkeys too.
constexpr REGSAM kBeyondValues = KEY_ALL_ACCESS & ~(KEY_QUERY_VALUE | 0x00020000u);  // and READ_CONTROL
// DELETE, WRITE_DAC and WRITE_OWNER: what a key that others may change but not
// remove or re-permission withholds.
constexpr REGSAM kDeleteAndPermissions = 0x000D0000u;

const char* const kOptions = test::kSystemOptionsKey;
const char* const kSettings = test::kProductSettingsKey;
const char* const kAsciiSuffix = test::kAsciiSuffixKey;
const char* const kLibrarySuffix = test::kLibrarySuffixKey;
const char* const kLibraryType = test::kLibraryTypeKey;
const char* const kDocumentType = test::kDocumentTypeKey;
const char* const kVersionedProgId = test::kVersionedProgIdKey;
const char* const kApplicationClass = test::kApplicationClassKey;
const char* const kDocumentClass = test::kDocumentClassKey;

std::string InstallationText() {
    std::ifstream in(std::string(QZ_SOURCE_DIR) + "/" + test::kLockedKeysInstallation, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    EXPECT_FALSE(text.str().empty()) << test::kLockedKeysInstallation;
    return text.str();
}

class LockedKeysTest : public test::RegistryFixture {
protected:
    void SetUp() override {
        RegistryFixture::SetUp();
        Seed(InstallationText());
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
    void Lock(const std::string& key, KeyLockKind lock) {
        switch (lock) {
            case KeyLockKind::ReadOnly:
                // Others may read the key (and, through its own permissions, its subkeys), nothing more.
                registry.Fail(RegOp::OpenKey, key).AskingFor(kBeyondRead);
                registry.Fail(RegOp::CreateKey, key).AskingFor(kBeyondRead);
                registry.Fail(RegOp::DeleteKey, key);
                break;
            case KeyLockKind::Nothing:
                registry.Fail(RegOp::OpenKey, key);
                registry.Fail(RegOp::CreateKey, key);
                registry.Fail(RegOp::DeleteKey, key);
                break;
            case KeyLockKind::ValuesOnly:
                registry.Fail(RegOp::OpenKey, key).AskingFor(kBeyondValues);
                registry.Fail(RegOp::CreateKey, key).AskingFor(kBeyondValues);
                registry.Fail(RegOp::DeleteKey, key);
                break;
            case KeyLockKind::DeleteRefused:
                registry.Fail(RegOp::DeleteKey, key);
                break;
        }
    }
    void CheckTexts(const std::vector<test::ExpectedText>& values) {
        for (const test::ExpectedText& value : values)
            EXPECT_EQ(StringValue(value.key, value.name), value.text) << value.key << " -> " << value.name;
    }
};

class LockedKeyStates : public LockedKeysTest, public ::testing::WithParamInterface<LockedKeyState> {};

TEST_P(LockedKeyStates, ThePassKeepsWhatItCannotDecideAndSaysWhatItCannotDo) {
    const LockedKeyState& state = GetParam();
    Register();
    ASSERT_EQ(reporter.messages, Messages{});
    if (state.otherProductLeaves) RemoveOtherProduct();
    if (state.afterRegistration != nullptr) Seed(state.afterRegistration);
    for (const test::LockedKey& lock : state.locks) Lock(lock.key, lock.lock);

    if (state.registers) {
        Register();
    } else {
        Unregister();
    }
    EXPECT_EQ(reporter.messages, state.boxes);
    for (const std::string& key : state.present) EXPECT_TRUE(KeyExists(key)) << key;
    for (const std::string& key : state.presentNatively) EXPECT_TRUE(KeyExists(key)) << key;
    for (const std::string& key : state.absent) EXPECT_FALSE(KeyExists(key)) << key;
    CheckTexts(state.values);

    if (!state.unregisterOnceLifted) return;
    registry.ClearFaults();
    reporter.messages.clear();
    Unregister();
    EXPECT_EQ(reporter.messages, Messages{});
    for (const std::string& key : state.presentOnceLifted) EXPECT_TRUE(KeyExists(key)) << key;
    CheckTexts(state.valuesOnceLifted);
}

// The states whose lock the in-memory model holds; the others are modelled under Wine only.
std::vector<LockedKeyState> NativeStates() {
    std::vector<LockedKeyState> states;
    for (const LockedKeyState& state : test::LockedKeyStates())
        if (state.native) states.push_back(state);
    return states;
}

INSTANTIATE_TEST_SUITE_P(States, LockedKeyStates, ::testing::ValuesIn(NativeStates()),
                         [](const ::testing::TestParamInfo<LockedKeyState>& info) { return info.param.name; });

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

}  // namespace
}  // namespace qz
