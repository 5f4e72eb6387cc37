// The real DLL on the registry states real machines have (the table in
// tests/support/real_machine_states.h), under Wine: each state seeded, then
// registered by the hook host (its boxes recorded exactly) and again by the real
// regsvr32 (its exit code), changed as another program would change it, and
// unregistered by regsvr32 /u, every pass in a new process. Keys are read back
// with the wide calls and `reg export`, so that nothing is seen through a code page.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "tests/support/module_e2e.h"
#include "tests/support/real_machine_states.h"
#include "tests/support/windows_commands.h"
#include "text/wide_text_win32.h"

namespace qz::test {
namespace {

constexpr long kSelfRegClassError = static_cast<long>(0x80040201u);
constexpr int kRegsvr32ExportFailed = 5;

std::string Fixture(const std::string& name) { return std::string(kRealMachineFixtures) + name; }

// A full key path (long root name) as a root handle and the wide path below it.
bool SplitKeyPath(const std::string& key, HKEY* root, std::wstring* path) {
    static const struct {
        const char* name;
        HKEY handle;
    } kRoots[] = {{"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
                  {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
                  {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT}};
    for (const auto& candidate : kRoots) {
        const std::string prefix = std::string(candidate.name) + "\\";
        if (key.compare(0, prefix.size(), prefix) == 0) {
            *root = candidate.handle;
            *path = WideFromUtf8(key.substr(prefix.size()));
            return true;
        }
    }
    ADD_FAILURE() << "not a full key path: " << key;
    return false;
}

HKEY OpenKey(const std::string& key, REGSAM access) {
    HKEY root = nullptr;
    std::wstring path;
    HKEY opened = nullptr;
    if (!SplitKeyPath(key, &root, &path)) return nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, access, &opened) != ERROR_SUCCESS) return nullptr;
    return opened;
}

HKEY CreateKey(const std::string& key) {
    HKEY root = nullptr;
    std::wstring path;
    HKEY created = nullptr;
    if (!SplitKeyPath(key, &root, &path)) return nullptr;
    EXPECT_EQ(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &created, nullptr),
              ERROR_SUCCESS)
        << key;
    return created;
}

class WineRegistryProbe final : public RegistryProbe {
public:
    bool KeyExists(const std::string& key) override {
        HKEY opened = OpenKey(key, KEY_READ);
        if (opened == nullptr) return false;
        RegCloseKey(opened);
        return true;
    }

    bool ValueExists(const std::string& key, const std::string& name) override {
        HKEY opened = OpenKey(key, KEY_READ);
        if (opened == nullptr) return false;
        const LONG status = RegQueryValueExW(opened, WideFromUtf8(name).c_str(), nullptr, nullptr, nullptr, nullptr);
        RegCloseKey(opened);
        return status == ERROR_SUCCESS;
    }

    std::optional<std::string> Text(const std::string& key, const std::string& name) override {
        HKEY opened = OpenKey(key, KEY_READ);
        if (opened == nullptr) return std::nullopt;
        std::vector<wchar_t> data(8192, L'\0');
        DWORD size = static_cast<DWORD>((data.size() - 1) * sizeof(wchar_t));
        DWORD type = REG_NONE;
        const LONG status = RegQueryValueExW(opened, WideFromUtf8(name).c_str(), nullptr, &type,
                                             reinterpret_cast<BYTE*>(data.data()), &size);
        RegCloseKey(opened);
        if (status != ERROR_SUCCESS || type != REG_SZ) return std::nullopt;
        return Utf8FromWide(std::wstring(data.data()));
    }

    std::string Export(const std::string& key) override { return ExportKey(key); }
};

// Keys created one below the other, each from its parent's handle: no path the
// registry sees is long, however deep the chain goes.
void CreateChain(const KeyChain& chain) {
    HKEY parent = CreateKey(chain.parent);
    ASSERT_NE(parent, nullptr);
    for (const std::u16string& name : chain.names) {
        HKEY child = nullptr;
        const LONG status = RegCreateKeyExW(parent, AsWide(name.c_str()), 0, nullptr, 0,
                                            KEY_ALL_ACCESS, nullptr, &child, nullptr);
        RegCloseKey(parent);
        ASSERT_EQ(status, ERROR_SUCCESS) << "below " << chain.parent;
        parent = child;
    }
    const wchar_t leaf[] = L"leaf";
    EXPECT_EQ(RegSetValueExW(parent, L"v", 0, REG_SZ, reinterpret_cast<const BYTE*>(leaf), sizeof leaf),
              ERROR_SUCCESS);
    RegCloseKey(parent);
}

void SetSeedValue(const SeedValue& value) {
    HKEY key = CreateKey(value.key);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(RegSetValueExW(key, WideFromUtf8(value.name).c_str(), 0, value.type, value.data.data(),
                             static_cast<DWORD>(value.data.size())),
              ERROR_SUCCESS)
        << value.key << " " << value.name;
    RegCloseKey(key);
}

// The tests of this program share one prefix: each starts from a registry
// without anything of the product family's.
void ResetRegistry() {
    ResetProductRegistry();
    for (const char* key : {"OVX Application 3700", "OVX Application 3805"}) RegDeleteTreeA(HKEY_CLASSES_ROOT, key);
}

class RealMachineUnderWine : public ::testing::TestWithParam<RealMachineState> {
protected:
    void SetUp() override { ResetRegistry(); }
    void TearDown() override { ResetRegistry(); }

    WineRegistryProbe probe_;
};

TEST_P(RealMachineUnderWine, RegistersAndUnregistersExactlyWhatIsOurs) {
    const RealMachineState& state = GetParam();
    ImportRegFixture(Fixture(kRealMachineInstallation));
    if (state.seed != nullptr) ImportRegFixture(Fixture(state.seed));
    for (const KeyChain& chain : state.seedChains) CreateChain(chain);
    for (const SeedValue& value : state.seedValues) SetSeedValue(value);
    const std::string dll = state.moduleFolder != nullptr ? InstallModuleCopyIn(state.moduleFolder) : InstallModuleCopy();
    if (HasFailure()) return;

    const bool fails = !state.boxes.empty();
    const HookedPass registration = RunHookedPass(dll, false);
    EXPECT_EQ(registration.result, fails ? kSelfRegClassError : 0);
    CheckRegistration(state, BoxTexts(registration.boxes), probe_, dll);
    // The real regsvr32 over the same state: the same verdict as its exit code.
    EXPECT_EQ(RunRegsvr32(dll, false), fails ? kRegsvr32ExportFailed : 0);

    if (state.afterRegistration != nullptr) ImportRegFixture(Fixture(state.afterRegistration));
    for (const KeyChain& chain : state.afterRegistrationChains) CreateChain(chain);
    ASSERT_EQ(RunRegsvr32(dll, true), 0);
    CheckUnregistration(state, probe_, state.kept != nullptr ? ReadRegFixture(Fixture(state.kept)) : std::string());
}

INSTANTIATE_TEST_SUITE_P(States, RealMachineUnderWine, ::testing::ValuesIn(RealMachineStates()),
                         [](const ::testing::TestParamInfo<RealMachineState>& info) { return info.param.name; });

// Wine takes a key name of 256 characters (Windows stops at 255); the memory
// registry refuses it, so this state is the real registry's alone.
TEST(RealMachineUnderWineOnly, AKeyNameOf256CharactersBelowTheSettingsKeyGoes) {
    ResetRegistry();
    ImportRegFixture(Fixture(kRealMachineInstallation));
    CreateChain({"HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\Host", {std::u16string(256, u'w'), u"x"}});
    const std::string dll = InstallModuleCopy();
    ASSERT_EQ(RunRegsvr32(dll, false), 0);
    ASSERT_EQ(RunRegsvr32(dll, true), 0);
    WineRegistryProbe probe;
    EXPECT_FALSE(probe.KeyExists("HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0"));
    EXPECT_TRUE(probe.KeyExists("HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis"));
    ResetRegistry();
}

// A subkey another program protected (its DACL lets everyone only read its
// values: its own subkeys cannot even be listed) cannot be removed, and so
// neither can the settings key above it: the unregistration says so and fails,
// and removes everything else of this version. (With read access granted, Wine
// would let the walk empty the key and then delete it.)
TEST(RealMachineUnderWineOnly, AProtectedSubkeyBelowTheSettingsKeyFailsTheUnregistration) {
    ResetRegistry();
    ImportRegFixture(Fixture(kRealMachineInstallation));
    const std::string dll = InstallModuleCopy();
    ASSERT_EQ(RunRegsvr32(dll, false), 0);
    CreateChain({"HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\Host\\Protected", {u"Inner"}});
    HKEY protectedKey = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Corvalen\\Orvantis\\38.0\\Host\\Protected", 0,
                            KEY_ALL_ACCESS | WRITE_DAC, &protectedKey),
              ERROR_SUCCESS);
    const auto setDacl = [protectedKey](const wchar_t* sddl) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr));
        EXPECT_EQ(RegSetKeySecurity(protectedKey, DACL_SECURITY_INFORMATION, descriptor), ERROR_SUCCESS);
        LocalFree(descriptor);
    };
    setDacl(L"D:P(A;;0x20001;;;WD)");

    const HookedPass pass = RunHookedPass(dll, true);
    EXPECT_EQ(pass.result, kSelfRegClassError);
    EXPECT_EQ(BoxTexts(pass.boxes),
              std::vector<std::string>{"Unable to remove HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0"});
    EXPECT_EQ(RunRegsvr32(dll, true), kRegsvr32ExportFailed);
    WineRegistryProbe probe;
    EXPECT_TRUE(probe.KeyExists("HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\Host\\Protected\\Inner"));
    EXPECT_FALSE(probe.KeyExists("HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0\\Customization"));
    EXPECT_FALSE(probe.KeyExists("HKEY_CLASSES_ROOT\\Orvantis Language"));
    EXPECT_FALSE(probe.ValueExists("HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Options", "ovx"));

    // Once the other program lets go, the next unregistration removes the rest.
    setDacl(L"D:P(A;;KA;;;WD)");
    RegCloseKey(protectedKey);
    EXPECT_EQ(RunRegsvr32(dll, true), 0);
    EXPECT_FALSE(probe.KeyExists("HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0"));
    ResetRegistry();
}

}  // namespace
}  // namespace qz::test
