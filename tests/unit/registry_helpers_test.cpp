// The shared registry helpers, run the same way against the in-memory registry
// and (under Wine) against advapi32, each behind the fault injector so that the
// order and number of registry calls can be checked.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "module/module_state.h"
#include "registry/fault_injecting_registry.h"
#include "registry/memory_registry.h"
#include "registration/product_lookups.h"
#include "resources/resource_ids.h"
#include "tests/support/test_services.h"
#ifdef _WIN32
#include "registry/win32_registry.h"
#endif

namespace qz {
namespace {

enum class Kind { Memory, Advapi32 };

constexpr const char* kScratch = "Software\\QzHelpers";
constexpr const char* kDir = "Software\\Corvalen\\ZURedore\\38.0\\Dir";
constexpr const char* kOptions = "Software\\Corvalen\\ZURedore\\38.0\\Options";
constexpr const char* kCurVer = "OVX Application\\CurVer";

class RegistryHelpers : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override {
        if (GetParam() == Kind::Memory) {
            memory_ = std::make_unique<MemoryRegistry>();
            inner_ = memory_.get();
        } else {
#ifdef _WIN32
            win32_ = std::make_unique<Win32Registry>();
            inner_ = win32_.get();
#endif
        }
        registry_ = std::make_unique<FaultInjectingRegistry>(*inner_);
        CleanUp();
        ModuleServices services;
        services.registry = registry_.get();
        services.reporter = &reporter_;
        services.strings = &strings_;
        services_.emplace(services);
    }

    void TearDown() override {
        services_.reset();
        CleanUp();
        if (memory_) {
            EXPECT_EQ(memory_->OpenHandleCount(), 0u) << registry_->FormatCalls();
        }
    }

    void CleanUp() {
        for (const auto& [root, path] : {std::pair{HKEY_LOCAL_MACHINE, kScratch},
                                         std::pair{HKEY_LOCAL_MACHINE, "Software\\Corvalen"},
                                         std::pair{HKEY_CLASSES_ROOT, "OVX Application"},
                                         std::pair{HKEY_CLASSES_ROOT, "Other App"}}) {
            RemoveTree(root, path);
        }
    }

    void RemoveTree(HKEY root, const std::string& path) {
        std::vector<std::string> children;
        HKEY key = nullptr;
        if (inner_->OpenKeyEx(root, path.c_str(), KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
            char name[512];
            for (DWORD index = 0;; ++index) {
                DWORD length = sizeof name;
                if (inner_->EnumKeyEx(key, index, name, &length) != ERROR_SUCCESS) break;
                children.push_back(path + "\\" + std::string(name, length));
            }
            inner_->CloseKey(key);
        }
        for (const std::string& child : children) RemoveTree(root, child);
        (void)inner_->DeleteKey(root, path.c_str());
    }

    // Direct writes and reads on the wrapped registry: not in the call log.
    void CreateKey(HKEY root, const std::string& path) {
        HKEY key = nullptr;
        ASSERT_EQ(inner_->CreateKeyEx(root, path.c_str(), 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS) << path;
        inner_->CloseKey(key);
    }

    void SetRaw(HKEY root, const std::string& path, const char* name, DWORD type, const std::string& bytes) {
        HKEY key = nullptr;
        ASSERT_EQ(inner_->CreateKeyEx(root, path.c_str(), 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS) << path;
        EXPECT_EQ(inner_->SetValueEx(key, name, type, reinterpret_cast<const BYTE*>(bytes.data()),
                                     static_cast<DWORD>(bytes.size())),
                  ERROR_SUCCESS);
        inner_->CloseKey(key);
    }

    void SetText(HKEY root, const std::string& path, const char* name, const std::string& text) {
        SetRaw(root, path, name, REG_SZ, std::string(text.c_str(), text.size() + 1));
    }

    bool KeyExists(HKEY root, const std::string& path) {
        HKEY key = nullptr;
        if (inner_->OpenKeyEx(root, path.c_str(), KEY_READ, &key) != ERROR_SUCCESS) return false;
        inner_->CloseKey(key);
        return true;
    }

    // The value as the narrow query gives it: type and bytes.
    std::optional<std::pair<DWORD, std::string>> Query(HKEY root, const std::string& path, const char* name) {
        HKEY key = nullptr;
        if (inner_->OpenKeyEx(root, path.c_str(), KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
        std::vector<BYTE> data(16384);
        DWORD size = static_cast<DWORD>(data.size());
        DWORD type = 0;
        const LONG status = inner_->QueryValueEx(key, name, &type, data.data(), &size);
        inner_->CloseKey(key);
        if (status != ERROR_SUCCESS) return std::nullopt;
        return std::pair{type, std::string(reinterpret_cast<char*>(data.data()), size)};
    }

    FaultInjectingRegistry& registry() { return *registry_; }

    test::RecordingReporter reporter_;
    test::OverridableStrings strings_;

private:
    std::unique_ptr<MemoryRegistry> memory_;
#ifdef _WIN32
    std::unique_ptr<Win32Registry> win32_;
#endif
    RegistryApi* inner_ = nullptr;
    std::unique_ptr<FaultInjectingRegistry> registry_;
    std::optional<ScopedServices> services_;
};

TEST_P(RegistryHelpers, DeleteRegistryTreeDeletesChildrenBeforeParents) {
    const std::string a = std::string(kScratch) + "\\A";
    SetText(HKEY_LOCAL_MACHINE, a, "value", "x");
    SetText(HKEY_LOCAL_MACHINE, a + "\\B\\C", "", "deep");
    CreateKey(HKEY_LOCAL_MACHINE, a + "\\D");

    EXPECT_EQ(DeleteRegistryTree(HKEY_LOCAL_MACHINE, a), 1);
    EXPECT_EQ(registry().CallsOf(RegOp::DeleteKey),
              (std::vector<std::string>{"HKEY_LOCAL_MACHINE\\" + a + "\\B\\C", "HKEY_LOCAL_MACHINE\\" + a + "\\B",
                                        "HKEY_LOCAL_MACHINE\\" + a + "\\D", "HKEY_LOCAL_MACHINE\\" + a}))
        << registry().FormatCalls();
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, a));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kScratch));
}

TEST_P(RegistryHelpers, DeleteRegistryTreeOfAMissingPathChangesNothing) {
    CreateKey(HKEY_LOCAL_MACHINE, std::string(kScratch) + "\\Kept");
    EXPECT_EQ(DeleteRegistryTree(HKEY_LOCAL_MACHINE, std::string(kScratch) + "\\Missing"), 0);
    for (const RegistryCall& call : registry().Calls()) {
        EXPECT_TRUE(call.op == RegOp::OpenKey || call.op == RegOp::DeleteKey) << registry().FormatCalls();
        EXPECT_EQ(call.result, ERROR_FILE_NOT_FOUND) << registry().FormatCalls();
    }
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, std::string(kScratch) + "\\Kept"));
}

TEST_P(RegistryHelpers, DeleteRegistryTreeKeepsAParentWhoseChildCannotGo) {
    const std::string a = std::string(kScratch) + "\\A";
    CreateKey(HKEY_LOCAL_MACHINE, a + "\\Stuck");
    CreateKey(HKEY_LOCAL_MACHINE, a + "\\Free");
    registry().Fail(RegOp::DeleteKey, "HKLM\\" + a + "\\Stuck");
    EXPECT_EQ(DeleteRegistryTree(HKEY_LOCAL_MACHINE, a), 0);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, a + "\\Stuck"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, a + "\\Free"));
}

TEST_P(RegistryHelpers, GetInstallDirectoryOfAnUnknownKindOpensNoKey) {
    SetText(HKEY_LOCAL_MACHINE, kDir, "bin", "C:\\ZU\\bin");
    EXPECT_EQ(GetInstallDirectory(static_cast<InstallDirectoryKind>(5)), "");
    EXPECT_EQ(GetInstallDirectory(static_cast<InstallDirectoryKind>(-1)), "");
    EXPECT_TRUE(registry().Calls().empty()) << registry().FormatCalls();
}

TEST_P(RegistryHelpers, GetInstallDirectoryReadsEachKindAsText) {
    SetText(HKEY_LOCAL_MACHINE, kDir, "help", "C:\\ZU\\help");
    SetText(HKEY_LOCAL_MACHINE, kDir, "LIB", "C:\\ZU\\lib");
    SetText(HKEY_LOCAL_MACHINE, kDir, "lic", "C:\\ZU\\lic");
    SetText(HKEY_LOCAL_MACHINE, kDir, "root", "C:\\ZU");
    EXPECT_EQ(GetInstallDirectory(InstallDirectoryKind::Help), "C:\\ZU\\help");
    EXPECT_EQ(GetInstallDirectory(InstallDirectoryKind::Lib), "C:\\ZU\\lib");
    EXPECT_EQ(GetInstallDirectory(InstallDirectoryKind::Lic), "C:\\ZU\\lic");
    EXPECT_EQ(GetInstallDirectory(InstallDirectoryKind::Root), "C:\\ZU");
    EXPECT_EQ(GetInstallDirectory(InstallDirectoryKind::Bin), "") << "no bin value";
    // The key is only read, and closed each time.
    EXPECT_EQ(registry().CountCalls(RegOp::OpenKey), 5u);
    EXPECT_EQ(registry().CountCalls(RegOp::CloseKey), 5u);
    EXPECT_EQ(registry().CountCalls(RegOp::SetValue) + registry().CountCalls(RegOp::CreateKey), 0u);
}

TEST_P(RegistryHelpers, GetInstallDirectoryWithoutTheDirKeyIsEmpty) {
    EXPECT_EQ(GetInstallDirectory(InstallDirectoryKind::Bin), "");
}

TEST_P(RegistryHelpers, GetInstallDirectoryTakesAnyTypeAsTextAndReadsNoFurtherThanTheData) {
    struct Case {
        const char* what;
        DWORD type;
        std::string stored;
        std::string expected;
    };
    const std::string exactString(4095, 's');
    const std::string fullBinary(4096, 'b');
    const Case cases[] = {
        {"expand string", REG_EXPAND_SZ, std::string("%ZU%\\bin\0", 9), "%ZU%\\bin"},
        {"binary with NUL", REG_BINARY, std::string("C:\\bin\0junk", 11), "C:\\bin"},
        {"binary without NUL", REG_BINARY, "C:\\bin", "C:\\bin"},
        {"string filling the buffer", REG_SZ, exactString + '\0', exactString},
        {"binary filling the buffer", REG_BINARY, fullBinary, fullBinary},
        {"one byte too many", REG_BINARY, std::string(4097, 'x'), ""},
        {"string too long", REG_SZ, std::string(5000, 'y') + '\0', ""},
    };
    for (const Case& c : cases) {
        SetRaw(HKEY_LOCAL_MACHINE, kDir, "bin", c.type, c.stored);
        EXPECT_EQ(GetInstallDirectory(InstallDirectoryKind::Bin), c.expected) << c.what;
    }
}

TEST_P(RegistryHelpers, GetInstallDirectoryReadsAStringWithoutTerminatorThatFillsTheBuffer) {
    // 4096 characters and no NUL: the buffer is full and holds no terminator. (The
    // byte after the counted ones must not be NUL either: Windows would then count
    // it in, as RegSetValueExA does for a caller that forgot the terminator.)
    const std::string text(4097, 'z');
    CreateKey(HKEY_LOCAL_MACHINE, kDir);
    HKEY key = nullptr;
    ASSERT_EQ(registry().OpenKeyEx(HKEY_LOCAL_MACHINE, kDir, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    ASSERT_EQ(registry().SetValueEx(key, "bin", REG_SZ, reinterpret_cast<const BYTE*>(text.data()), 4096),
              ERROR_SUCCESS);
    registry().CloseKey(key);
    EXPECT_EQ(GetInstallDirectory(InstallDirectoryKind::Bin), std::string(4096, 'z'));
}

TEST_P(RegistryHelpers, CountSystemOptionsValuesCountsValuesNotSubkeys) {
    EXPECT_EQ(CountSystemOptionsValues(), 0) << "no Options key";
    CreateKey(HKEY_LOCAL_MACHINE, std::string(kOptions) + "\\First");
    CreateKey(HKEY_LOCAL_MACHINE, std::string(kOptions) + "\\Second");
    EXPECT_EQ(CountSystemOptionsValues(), 0);
    SetText(HKEY_LOCAL_MACHINE, kOptions, "OVX", "Orvantis");
    SetText(HKEY_LOCAL_MACHINE, kOptions, "ABC", "Another");
    SetText(HKEY_LOCAL_MACHINE, kOptions, "", "default");
    EXPECT_EQ(CountSystemOptionsValues(), 3);
    registry().Fail(RegOp::QueryInfoKey, std::string("HKLM\\") + kOptions);
    EXPECT_EQ(CountSystemOptionsValues(), 0) << "a failed query";
}

TEST_P(RegistryHelpers, IsCurrentApplicationVersionComparesTheWholeProgIdWithoutRegardToCase) {
    EXPECT_EQ(IsCurrentApplicationVersion(), 1) << "no CurVer key";
    struct Case {
        const char* curVer;
        int expected;
    };
    // A newer build of the same major and minor version is another version; a
    // ProgID written in other letter case is this one.
    for (const Case& c : {Case{"OVX Application 3800", 1}, Case{"ovx application 3800", 1},
                          Case{"OVX APPLICATION 3800", 1}, Case{"OVX Application 3805", 0},
                          Case{"OVX Application 38000", 0}, Case{"OVX Application 380", 0},
                          Case{"OVX Application 370", 0}, Case{"OVX Application 3800 ", 0}, Case{"", 0}}) {
        SetText(HKEY_CLASSES_ROOT, kCurVer, "", c.curVer);
        EXPECT_EQ(IsCurrentApplicationVersion(), c.expected) << '"' << c.curVer << '"';
    }
}

TEST_P(RegistryHelpers, IsCurrentApplicationVersionWithoutADefaultValueIsNotCurrent) {
    SetText(HKEY_CLASSES_ROOT, kCurVer, "named", "OVX Application 3800");
    EXPECT_EQ(IsCurrentApplicationVersion(), 0);
}

TEST_P(RegistryHelpers, IsCurrentApplicationVersionUsesTheProductStrings) {
    strings_.Set(IDS_APPLICATION_PROGID, "Other App");
    strings_.Set(IDS_VERSION_MAJOR, "12");
    strings_.Set(IDS_VERSION_MINOR, "5");
    SetText(HKEY_CLASSES_ROOT, kCurVer, "", "OVX Application 3800");
    SetText(HKEY_CLASSES_ROOT, "Other App\\CurVer", "", "Other App 1250");
    EXPECT_EQ(IsCurrentApplicationVersion(), 1);
    SetText(HKEY_CLASSES_ROOT, "Other App\\CurVer", "", "Other App 3800");
    EXPECT_EQ(IsCurrentApplicationVersion(), 0);
    EXPECT_EQ(registry().CallsOf(RegOp::OpenKey).front(), "HKEY_CLASSES_ROOT\\Other App\\CurVer");
}

TEST_P(RegistryHelpers, SetRegistryStringStoresTheTextWithItsTerminator) {
    CreateKey(HKEY_LOCAL_MACHINE, kScratch);
    HKEY key = nullptr;
    ASSERT_EQ(registry().OpenKeyEx(HKEY_LOCAL_MACHINE, kScratch, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    EXPECT_EQ(SetRegistryString(key, "name", "abc"), 1);
    EXPECT_EQ(SetRegistryString(key, "", "default"), 1);
    const std::string longText(5000, 'L');
    EXPECT_EQ(SetRegistryString(key, "long", longText), 1);
    registry().CloseKey(key);

    EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, kScratch, "name"), (std::pair<DWORD, std::string>{REG_SZ, {"abc\0", 4}}));
    EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, kScratch, nullptr),
              (std::pair<DWORD, std::string>{REG_SZ, {"default\0", 8}}));
    EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, kScratch, "long"), (std::pair<DWORD, std::string>{REG_SZ, longText + '\0'}));
}

TEST_P(RegistryHelpers, SetRegistryStringReportsARefusedWrite) {
    CreateKey(HKEY_LOCAL_MACHINE, kScratch);
    HKEY key = nullptr;
    ASSERT_EQ(registry().OpenKeyEx(HKEY_LOCAL_MACHINE, kScratch, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(SetRegistryString(key, "name", "abc"), 0);
    registry().CloseKey(key);
    EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, kScratch, "name"), std::nullopt);
    EXPECT_TRUE(reporter_.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Registries, RegistryHelpers,
#ifdef _WIN32
                         ::testing::Values(Kind::Memory, Kind::Advapi32),
#else
                         ::testing::Values(Kind::Memory),
#endif
                         [](const ::testing::TestParamInfo<Kind>& info) {
                             return info.param == Kind::Memory ? "MemoryRegistry" : "Advapi32";
                         });

}  // namespace
}  // namespace qz
