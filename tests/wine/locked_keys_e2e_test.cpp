// The real DLL under Wine on keys whose permissions (DACLs set with
// RegSetKeySecurity) let it only read them, or not even that: the table of
// tests/support/locked_key_states, which the native suite runs too. Each pass
// asks for the access its operation needs, keeps what it cannot decide about,
// and shows a box and fails (regsvr32 exits 5) where it cannot do its job.
//
// Wine keeps a key's DACL only while its server runs; every test program runs
// with one persistent server (cmake/wine-test-run.sh), and each test sets its
// locks after the registration it needs and lifts them before it ends. Wine
// deletes a key whose DACL grants only read access when the key has no
// subkeys, so a lock that must refuse a removal is set on a key with a subkey.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <cwchar>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/locked_key_states.h"
#include "tests/support/module_e2e.h"
#include "tests/support/windows_commands.h"
#include "text/wide_text_win32.h"

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

// A full key name (long root name, UTF-8) as a root and the path below it.
struct KeyName {
    HKEY root;
    std::wstring path;
};
KeyName Split(const std::string& name) {
    const std::size_t slash = name.find('\\');
    const std::string root = name.substr(0, slash);
    return {root == "HKEY_LOCAL_MACHINE"  ? HKEY_LOCAL_MACHINE
            : root == "HKEY_CURRENT_USER" ? HKEY_CURRENT_USER
                                          : HKEY_CLASSES_ROOT,
            Utf8ToWide(name.substr(slash + 1))};
}

// REG_SZ text up to its terminator; nullopt when the value is missing or of another type.
std::optional<std::string> Text(const std::string& key, const std::string& name) {
    const KeyName where = Split(key);
    const std::wstring valueName = Utf8ToWide(name);
    DWORD size = 0;
    if (RegGetValueW(where.root, where.path.c_str(), valueName.c_str(), RRF_RT_REG_SZ, nullptr, nullptr, &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    std::wstring text(size / sizeof(wchar_t), L'\0');
    if (RegGetValueW(where.root, where.path.c_str(), valueName.c_str(), RRF_RT_REG_SZ, nullptr, text.data(), &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    text.resize(wcsnlen(text.c_str(), text.size()));
    return WideToUtf8(text);
}

const wchar_t* Sddl(KeyLockKind lock) {
    switch (lock) {
        case KeyLockKind::ReadOnly: return kReadOnly;
        case KeyLockKind::Nothing: return kNothing;
        case KeyLockKind::ValuesOnly: return kValuesOnly;
        case KeyLockKind::DeleteRefused: return kReadWriteOnly;
    }
    return kEverything;
}

// Every test starts from the installation (the system's Dir key and another
// product, pwk, in the Options key) registered by regsvr32.
class LockedKeysUnderWine : public ::testing::Test {
protected:
    void SetUp() override {
        ResetProductRegistry();
        ImportRegFixture(kLockedKeysInstallation);
        dll_ = InstallModuleCopy();
        ASSERT_EQ(RunRegsvr32(dll_, false), 0);
    }
    void TearDown() override { ResetProductRegistry(); }

    std::string dll_;
};

class LockedKeyStatesUnderWine : public LockedKeysUnderWine, public ::testing::WithParamInterface<LockedKeyState> {};

// The hook host's pass (its boxes exactly), then regsvr32 on what is left:
// the same verdict as its exit code.
TEST_P(LockedKeyStatesUnderWine, ThePassKeepsWhatItCannotDecideAndSaysWhatItCannotDo) {
    const LockedKeyState& state = GetParam();
    if (state.otherProductLeaves) {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kOptions, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
        EXPECT_EQ(RegDeleteValueW(key, L"pwk"), ERROR_SUCCESS);
        RegCloseKey(key);
    }
    ASSERT_EQ(state.afterRegistration, nullptr) << "not arranged under Wine";
    {
        std::vector<std::unique_ptr<KeyLock>> locks;
        for (const LockedKey& lock : state.locks) {
            const KeyName where = Split(lock.key);
            locks.push_back(std::make_unique<KeyLock>(where.root, where.path.c_str()));
            locks.back()->Set(Sddl(lock.lock));
        }
        const bool unregistering = !state.registers;
        const HookedPass pass = RunHookedPass(dll_, unregistering);
        EXPECT_EQ(pass.result, state.boxes.empty() ? 0 : kSelfRegClassError);
        EXPECT_EQ(BoxTexts(pass.boxes), state.boxes);
        EXPECT_EQ(RunRegsvr32(dll_, unregistering), state.boxes.empty() ? 0 : kRegsvr32ExportFailed);

        for (const std::string& key : state.present) {
            const KeyName where = Split(key);
            EXPECT_TRUE(KeyExists(where.root, where.path.c_str())) << key;
        }
        for (const std::string& key : state.absent) {
            const KeyName where = Split(key);
            EXPECT_FALSE(KeyExists(where.root, where.path.c_str())) << key;
        }
        for (const ExpectedText& value : state.values)
            EXPECT_EQ(Text(value.key, value.name), value.text) << value.key << " -> " << value.name;
    }
    if (!state.unregisterOnceLifted) return;
    EXPECT_EQ(RunRegsvr32(dll_, true), 0);
    for (const std::string& key : state.presentOnceLifted) {
        const KeyName where = Split(key);
        EXPECT_TRUE(KeyExists(where.root, where.path.c_str())) << key;
    }
    for (const ExpectedText& value : state.valuesOnceLifted)
        EXPECT_EQ(Text(value.key, value.name), value.text) << value.key << " -> " << value.name;
}

// The states whose lock Wine holds; the others are modelled natively only.
std::vector<LockedKeyState> StatesUnderWine() {
    std::vector<LockedKeyState> states;
    for (const LockedKeyState& state : LockedKeyStates())
        if (state.underWine) states.push_back(state);
    return states;
}

INSTANTIATE_TEST_SUITE_P(States, LockedKeyStatesUnderWine, ::testing::ValuesIn(StatesUnderWine()),
                         [](const ::testing::TestParamInfo<LockedKeyState>& info) { return info.param.name; });

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
