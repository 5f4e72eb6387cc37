// A fixture for tests of the registry helpers and the product lookups as the
// steps call them: the module's services bound to a registry behind the fault
// injector (so that the order and number of registry calls can be checked),
// run once on the in-memory registry and, in the Windows build, once more on
// advapi32 under Wine. Keys the tests use (a scratch key, the product's and the
// system's keys, the application's ProgIDs) are removed before and after.
//
//   INSTANTIATE_TEST_SUITE_P(Registries, MyTest, test::RegistryKinds(), test::RegistryKindName);
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "registration/module_state.h"
#include "registry/memory/fault_injecting_registry.h"
#include "registry/memory/memory_registry.h"
#include "tests/support/narrow_registry.h"
#include "tests/support/test_services.h"
#include "text/code_page.h"
#ifdef _WIN32
#include "registry/api/win32_registry.h"
#endif

namespace qz::test {

enum class RegistryKind { Memory, Advapi32 };

// Memory, and Advapi32 in the Windows build.
inline auto RegistryKinds() {
#ifdef _WIN32
    return ::testing::Values(RegistryKind::Memory, RegistryKind::Advapi32);
#else
    return ::testing::Values(RegistryKind::Memory);
#endif
}
inline std::string RegistryKindName(const ::testing::TestParamInfo<RegistryKind>& info) {
    return info.param == RegistryKind::Memory ? "MemoryRegistry" : "Advapi32";
}

// The scratch key below HKEY_LOCAL_MACHINE the tests may fill.
inline constexpr const char* kScratch = "Software\\QzHelpers";

class ModuleRegistryTest : public ::testing::TestWithParam<RegistryKind> {
protected:
    void SetUp() override {
        if (GetParam() == RegistryKind::Memory) {
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
        RemoveTreeW(root, std::u16string(path.begin(), path.end()));
    }

    // Wide and relative to the parent's handle, so that a tree a test left behind
    // goes however deep it is and whatever its names.
    void RemoveTreeW(HKEY parent, const std::u16string& name) {
        HKEY key = nullptr;
        if (inner_->OpenKeyExW(parent, name.c_str(), KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
            std::vector<std::u16string> children;
            char16_t child[300];
            for (DWORD index = 0;; ++index) {
                DWORD length = 300;
                if (inner_->EnumKeyExW(key, index, child, &length) != ERROR_SUCCESS) break;
                children.emplace_back(child, length);
            }
            for (const std::u16string& c : children) RemoveTreeW(key, c);
            inner_->CloseKey(key);
        }
        (void)inner_->DeleteKeyW(parent, name.c_str());
    }

    // Creates names[0]\names[1]\... below root\path, each key from its parent's
    // handle (no path the registry sees is long), and sets a value "v" on the last.
    void CreateChain(HKEY root, const std::string& path, const std::vector<std::u16string>& names) {
        HKEY parent = nullptr;
        ASSERT_EQ(NarrowRegistry(*inner_).CreateKeyEx(root, path.c_str(), 0, KEY_ALL_ACCESS, &parent), ERROR_SUCCESS)
            << path;
        for (const std::u16string& name : names) {
            HKEY child = nullptr;
            const LONG status = inner_->CreateKeyExW(parent, name.c_str(), 0, KEY_ALL_ACCESS, &child);
            inner_->CloseKey(parent);
            ASSERT_EQ(status, ERROR_SUCCESS) << "name of " << name.size() << " characters";
            parent = child;
        }
        const std::u16string text = u"leaf";
        EXPECT_EQ(inner_->SetValueExW(parent, u"v", REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                      static_cast<DWORD>((text.size() + 1) * 2)),
                  ERROR_SUCCESS);
        inner_->CloseKey(parent);
    }

    // Direct writes and reads on the wrapped registry: not in the call log.
    void CreateKey(HKEY root, const std::string& path) {
        HKEY key = nullptr;
        ASSERT_EQ(NarrowRegistry(*inner_).CreateKeyEx(root, path.c_str(), 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS)
            << path;
        inner_->CloseKey(key);
    }

    void SetRaw(HKEY root, const std::string& path, const char* name, DWORD type, const std::string& bytes) {
        HKEY key = nullptr;
        ASSERT_EQ(NarrowRegistry(*inner_).CreateKeyEx(root, path.c_str(), 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS)
            << path;
        EXPECT_EQ(NarrowRegistry(*inner_).SetValueEx(key, name, type, reinterpret_cast<const BYTE*>(bytes.data()),
                                                     static_cast<DWORD>(bytes.size())),
                  ERROR_SUCCESS);
        inner_->CloseKey(key);
    }

    // Data stored through the wide call as it stands: UTF-16 that no conversion may mend.
    void SetRawWide(HKEY root, const std::string& path, const char* name, DWORD type, const std::string& bytes) {
        HKEY key = nullptr;
        ASSERT_EQ(NarrowRegistry(*inner_).CreateKeyEx(root, path.c_str(), 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS)
            << path;
        EXPECT_EQ(inner_->SetValueExW(key, Utf8ToUtf16(name).c_str(), type, reinterpret_cast<const BYTE*>(bytes.data()),
                                      static_cast<DWORD>(bytes.size())),
                  ERROR_SUCCESS);
        inner_->CloseKey(key);
    }

    // Text given as UTF-8, stored as UTF-16 through the wide call: no code page in between.
    void SetWideText(HKEY root, const std::string& path, const char* name, DWORD type, const std::string& text) {
        std::u16string wide = Utf8ToUtf16(text);
        wide.push_back(u'\0');
        HKEY key = nullptr;
        ASSERT_EQ(NarrowRegistry(*inner_).CreateKeyEx(root, path.c_str(), 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS)
            << path;
        EXPECT_EQ(inner_->SetValueExW(key, Utf8ToUtf16(name).c_str(), type, reinterpret_cast<const BYTE*>(wide.data()),
                                      static_cast<DWORD>(wide.size() * 2)),
                  ERROR_SUCCESS);
        inner_->CloseKey(key);
    }

    void SetText(HKEY root, const std::string& path, const char* name, const std::string& text) {
        SetRaw(root, path, name, REG_SZ, std::string(text.c_str(), text.size() + 1));
    }

    bool KeyExists(HKEY root, const std::string& path) {
        HKEY key = nullptr;
        if (NarrowRegistry(*inner_).OpenKeyEx(root, path.c_str(), KEY_READ, &key) != ERROR_SUCCESS) return false;
        inner_->CloseKey(key);
        return true;
    }

    // The value as the narrow query gives it: type and bytes.
    std::optional<std::pair<DWORD, std::string>> Query(HKEY root, const std::string& path, const char* name) {
        HKEY key = nullptr;
        if (NarrowRegistry(*inner_).OpenKeyEx(root, path.c_str(), KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
        std::vector<BYTE> data(16384);
        DWORD size = static_cast<DWORD>(data.size());
        DWORD type = 0;
        const LONG status = NarrowRegistry(*inner_).QueryValueEx(key, name, &type, data.data(), &size);
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

}  // namespace qz::test
