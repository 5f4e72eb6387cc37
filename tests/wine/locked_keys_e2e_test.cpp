// The real DLL under Wine on keys whose permissions (DACLs set with
// RegSetKeySecurity) let it only read them, or not even that: each pass asks
// for the access its operation needs, keeps what it cannot decide about, and
// shows a box and fails (regsvr32 exits 5) where it cannot do its job.
//
// Wine keeps a key's DACL only while its server runs; every test program runs
// with one persistent server (cmake/wine-test-run.sh), and each test sets its
// locks after the registration it needs and lifts them before it ends. Wine
// deletes a key whose DACL grants only read access when the key has no
// subkeys, so a lock that must refuse a removal is set on a key with a subkey.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "tests/support/module_e2e.h"
#include "tests/support/windows_commands.h"

namespace qz::test {
namespace {

constexpr long kSelfRegClassError = static_cast<long>(0x80040201u);
constexpr int kRegsvr32ExportFailed = 5;

// Everyone may read the key (and its subkeys, through their own permissions).
const wchar_t kReadOnly[] = L"D:P(A;;KR;;;WD)";
// Everyone may read and write the key, but not delete it or change its permissions.
const wchar_t kReadWriteOnly[] = L"D:P(A;;KRKW;;;WD)";
// Everyone may read the key's values, nothing else: not even list its subkeys.
const wchar_t kValuesOnly[] = L"D:P(A;;0x20001;;;WD)";
// No one may do anything.
const wchar_t kNothing[] = L"D:P";
const wchar_t kEverything[] = L"D:P(A;;KA;;;WD)";

const wchar_t kOptions[] = L"Software\\Corvalen\\ZURedore\\38.0\\Options";
const char kOptionsName[] = "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Options";

bool KeyExists(HKEY root, const wchar_t* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        // A key nobody may open is still there: its parent lists it.
        HKEY probe = nullptr;
        const LONG status = RegOpenKeyExW(root, path, 0, READ_CONTROL, &probe);
        if (probe != nullptr) RegCloseKey(probe);
        return status == ERROR_ACCESS_DENIED;
    }
    RegCloseKey(key);
    return true;
}

bool ValueExists(HKEY root, const wchar_t* path, const wchar_t* name) {
    return RegGetValueW(root, path, name, RRF_RT_ANY, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

// A DACL set on one key for the test's duration; the key is opened once, with
// the right to change its permissions, before any lock applies.
class KeyLock {
public:
    KeyLock(HKEY root, const wchar_t* path) {
        EXPECT_EQ(RegOpenKeyExW(root, path, 0, KEY_ALL_ACCESS | WRITE_DAC, &key_), ERROR_SUCCESS) << "cannot lock";
    }
    ~KeyLock() {
        if (key_ == nullptr) return;
        Set(kEverything);
        RegCloseKey(key_);
    }
    KeyLock(const KeyLock&) = delete;
    KeyLock& operator=(const KeyLock&) = delete;

    void Set(const wchar_t* sddl) {
        if (key_ == nullptr) return;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr));
        EXPECT_EQ(RegSetKeySecurity(key_, DACL_SECURITY_INFORMATION, descriptor), ERROR_SUCCESS);
        LocalFree(descriptor);
    }

private:
    HKEY key_ = nullptr;
};

// Every test starts from the installation (the system's Dir key and another
// product, pwk, in the Options key) registered by regsvr32.
class LockedKeysUnderWine : public ::testing::Test {
protected:
    void SetUp() override {
        ResetProductRegistry();
        ImportRegFixture("tests/e2e/fixtures/real_machine/installation.reg");
        dll_ = InstallModuleCopy();
        ASSERT_EQ(RunRegsvr32(dll_, false), 0);
    }
    void TearDown() override { ResetProductRegistry(); }

    // The hook host's pass (its boxes exactly), then regsvr32 /u on what is
    // left: the same verdict as its exit code.
    void UnregisterFailing(const std::vector<std::string>& boxes) {
        const HookedPass pass = RunHookedPass(dll_, true);
        EXPECT_EQ(pass.result, kSelfRegClassError);
        EXPECT_EQ(BoxTexts(pass.boxes), boxes);
        EXPECT_EQ(RunRegsvr32(dll_, true), kRegsvr32ExportFailed);
    }

    std::string dll_;
};

// Seen after registration when a lockdown tool makes the Options key
// read-only while another product is registered: the other product still
// counts, so the family's shared keys stay; our own value stays with a box.
TEST_F(LockedKeysUnderWine, AReadOnlyOptionsKeyKeepsTheSharedKeysAndFailsOnOurValue) {
    {
        KeyLock options(HKEY_LOCAL_MACHINE, kOptions);
        options.Set(kReadOnly);
        UnregisterFailing({std::string("Unable to remove the value ovx of ") + kOptionsName});

        EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, kOptions, L"ovx"));
        EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, kOptions, L"pwk"));
        EXPECT_TRUE(ValueExists(HKEY_CLASSES_ROOT, L".ovxl", nullptr));
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"Tavrin Model Library\\CLSID"));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L".ovxf"));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"Orvantis Language"));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Corvalen\\Orvantis\\38.0"));
    }
    // Lifted, the next unregistration removes our value and keeps the shared keys for pwk.
    EXPECT_EQ(RunRegsvr32(dll_, true), 0);
    EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, kOptions, L"ovx"));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"Tavrin Model Library"));
}

// Whether any product is left cannot be told at all: the shared keys stay.
TEST_F(LockedKeysUnderWine, AnUnreadableOptionsKeyKeepsTheSharedKeys) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kOptions, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(key, L"pwk"), ERROR_SUCCESS);
    RegCloseKey(key);
    KeyLock options(HKEY_LOCAL_MACHINE, kOptions);
    options.Set(kNothing);
    UnregisterFailing({std::string("Unable to remove the value ovx of ") + kOptionsName,
                       std::string("Unable to read ") + kOptionsName});
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L".ovxl"));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"Tavrin Model Library"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L".ovxf"));
}

// Our suffix key made read-only after registration: its value stays, with a box.
TEST_F(LockedKeysUnderWine, AReadOnlySuffixKeyOfOursFailsTheUnregistration) {
    KeyLock suffix(HKEY_CLASSES_ROOT, L".ovxf");
    suffix.Set(kReadOnly);
    UnregisterFailing({"Unable to remove the default value of HKEY_CLASSES_ROOT\\.ovxf"});
    char data[64] = {};
    DWORD size = sizeof data;
    EXPECT_EQ(RegGetValueA(HKEY_CLASSES_ROOT, ".ovxf", nullptr, RRF_RT_REG_SZ, nullptr, data, &size), ERROR_SUCCESS);
    EXPECT_STREQ(data, "Orvantis Language");
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"Orvantis Language"));
}

// Which version is current cannot be told: what the current version uses stays.
TEST_F(LockedKeysUnderWine, AnUnreadableCurVerKeepsTheSharedKeys) {
    KeyLock curVer(HKEY_CLASSES_ROOT, L"OVX Application\\CurVer");
    curVer.Set(kNothing);
    UnregisterFailing({"Unable to read HKEY_CLASSES_ROOT\\OVX Application\\CurVer"});
    for (const wchar_t* key : {L".ovxf", L"Orvantis Language", L"CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}"})
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, key)) << key;
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"OVX Application 3800"));
    EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, kOptions, L"ovx"));
}

// A key below our document type that cannot be emptied: the type cannot go.
TEST_F(LockedKeysUnderWine, ALockedKeyWithASubkeyBelowTheDocumentTypeFailsTheUnregistration) {
    KeyLock open(HKEY_CLASSES_ROOT, L"Orvantis Language\\shell\\Open");
    open.Set(kValuesOnly);
    UnregisterFailing({"Unable to remove HKEY_CLASSES_ROOT\\Orvantis Language"});
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"Orvantis Language\\shell\\Open"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"Orvantis Language\\shell\\Edit"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"Orvantis Language\\shell\\Open Orvantis V12"));
}

// A key others may write but not delete or re-permission is written and read
// as on an unlocked machine: no pass asks it for more.
TEST_F(LockedKeysUnderWine, AKeyThatMayBeWrittenButNotDeletedTakesBothPasses) {
    KeyLock options(HKEY_LOCAL_MACHINE, kOptions);
    options.Set(kReadWriteOnly);
    const HookedPass registration = RunHookedPass(dll_, false);
    EXPECT_EQ(registration.result, 0);
    EXPECT_EQ(BoxTexts(registration.boxes), std::vector<std::string>{});
    EXPECT_EQ(RunRegsvr32(dll_, true), 0);
    EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, kOptions, L"ovx"));
    EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, kOptions, L"pwk"));
}

}  // namespace
}  // namespace qz::test
