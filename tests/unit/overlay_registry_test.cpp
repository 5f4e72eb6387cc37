// The overlay over a base registry it only reads: the base stays exactly as it
// was, later reads answer as if the writes had happened, the snapshots list
// exactly what changed, and a commit makes the same changes in the base. Run
// over the in-memory registry in both builds and over advapi32 under Wine.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "registry/memory/fault_injecting_registry.h"
#include "registry/memory/memory_registry.h"
#include "registry/changes/apply_changes.h"
#include "registry/overlay/overlay_registry.h"
#include "registry/reg_file/reg_file.h"
#include "registry/changes/registry_changes.h"
#include "registry/api/registry_helpers.h"
#include "text/code_page.h"
#include "tests/support/narrow_registry.h"
#ifdef _WIN32
#include "registry/api/win32_registry.h"
#endif

namespace qz {
namespace {

enum class Base { Memory, Advapi32 };

const char kScratch[] = "Software\\QzOverlay";

class OverlayRegistryTest : public ::testing::TestWithParam<Base> {
protected:
    void SetUp() override {
#ifdef _WIN32
        if (GetParam() == Base::Advapi32) base_ = &win32_;
#endif
        Clean();
        // The base: a key with a value and a subtree, and a class under the classes root.
        Write(HKEY_LOCAL_MACHINE, std::string(kScratch) + "\\Kept", "name", "base");
        Write(HKEY_LOCAL_MACHINE, std::string(kScratch) + "\\Tree\\Deep\\Deeper", "", "leaf");
        Write(HKEY_CLASSES_ROOT, "QzOverlayClass", "", "class");
        before_ = BaseExport();
    }
    void TearDown() override { Clean(); }

    void Clean() {
        (void)DeleteRegistryTreeSilently(*base_, HKEY_LOCAL_MACHINE, kScratch);
        (void)DeleteRegistryTreeSilently(*base_, HKEY_CLASSES_ROOT, "QzOverlayClass");
    }

    void Write(HKEY root, const std::string& path, const std::string& name, const std::string& text) {
        Write(*base_, root, path, name, text);
    }
    static void Write(RegistryApi& registry, HKEY root, const std::string& path, const std::string& name,
                      const std::string& text) {
        UniqueKey key(registry);
        ASSERT_EQ(NarrowRegistry(registry).CreateKeyEx(root, path.c_str(), 0, KEY_ALL_ACCESS, key.put()), ERROR_SUCCESS)
            << path;
        ASSERT_EQ(SetRegistryString(registry, key.get(), name, text), 1);
    }
    static std::string Read(RegistryApi& registry, HKEY root, const std::string& path, const std::string& name) {
        UniqueKey key(registry);
        if (NarrowRegistry(registry).OpenKeyEx(root, path.c_str(), KEY_READ, key.put()) != ERROR_SUCCESS)
            return "<no key>";
        char data[256] = {};
        DWORD size = sizeof data - 1;
        if (NarrowRegistry(registry).QueryValueEx(key.get(), name.c_str(), nullptr, reinterpret_cast<BYTE*>(data),
                                                  &size) != ERROR_SUCCESS)
            return "<no value>";
        return data;
    }
    // Everything the tests touch in the base, as text.
    std::string BaseExport() {
        return Read(*base_, HKEY_LOCAL_MACHINE, std::string(kScratch) + "\\Kept", "name") + "|" +
               Read(*base_, HKEY_LOCAL_MACHINE, std::string(kScratch) + "\\Tree\\Deep\\Deeper", "") + "|" +
               Read(*base_, HKEY_LOCAL_MACHINE, std::string(kScratch) + "\\New", "v") + "|" +
               Read(*base_, HKEY_CLASSES_ROOT, "QzOverlayClass", "") + "|" +
               Read(*base_, HKEY_LOCAL_MACHINE, "Software\\Classes\\QzOverlayClass", "");
    }

    // A typical pass: change a value, add a key, remove a subtree, delete and rebuild a class key.
    void RunPass(OverlayRegistry& overlay) {
        Write(overlay, HKEY_LOCAL_MACHINE, std::string(kScratch) + "\\Kept", "name", "changed");
        Write(overlay, HKEY_LOCAL_MACHINE, std::string(kScratch) + "\\New", "v", "added");
        EXPECT_EQ(DeleteRegistryTreeSilently(overlay, HKEY_LOCAL_MACHINE, std::string(kScratch) + "\\Tree"), 1);
        EXPECT_EQ(DeleteRegistryTreeSilently(overlay, HKEY_CLASSES_ROOT, "QzOverlayClass"), 1);
        Write(overlay, HKEY_CLASSES_ROOT, "QzOverlayClass", "", "rebuilt");
    }

    MemoryRegistry memory_;
#ifdef _WIN32
    Win32Registry win32_;
#endif
    RegistryApi* base_ = &memory_;
    std::string before_;
};

TEST_P(OverlayRegistryTest, ReadsAfterWritesAnswerAsTheRegistryWouldAndTheBaseStaysAsItWas) {
    OverlayRegistry overlay(*base_);
    EXPECT_EQ(Read(overlay, HKEY_LOCAL_MACHINE, std::string(kScratch) + "\\Kept", "name"), "base") << "read through";
    RunPass(overlay);

    EXPECT_EQ(Read(overlay, HKEY_LOCAL_MACHINE, std::string(kScratch) + "\\Kept", "name"), "changed");
    EXPECT_EQ(Read(overlay, HKEY_LOCAL_MACHINE, std::string(kScratch) + "\\New", "v"), "added");
    EXPECT_EQ(Read(overlay, HKEY_LOCAL_MACHINE, std::string(kScratch) + "\\Tree\\Deep", ""), "<no key>");
    EXPECT_EQ(Read(overlay, HKEY_LOCAL_MACHINE, "Software\\Classes\\QzOverlayClass", ""), "rebuilt")
        << "the classes root and the machine's Software\\Classes are one key";
    UniqueKey scratch(overlay);
    ASSERT_EQ(NarrowRegistry(overlay).OpenKeyEx(HKEY_LOCAL_MACHINE, kScratch, KEY_READ, scratch.put()), ERROR_SUCCESS);
    DWORD subKeys = 0;
    ASSERT_EQ(NarrowRegistry(overlay).QueryInfoKey(scratch.get(), nullptr, nullptr, &subKeys, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(subKeys, 2u) << "Kept and New; Tree is gone";
    scratch.reset();

    EXPECT_EQ(BaseExport(), before_);
    EXPECT_EQ(overlay.OpenHandleCount(), 0u);
}

// Names of the longest length a registry takes, already in the base: the
// overlay reads them through, and a pass removes them with their parent.
TEST_P(OverlayRegistryTest, TheLongestNamesInTheBaseReadThroughAndGo) {
    const std::u16string keyName(kMaxKeyNameLength, u'k');
    const std::u16string valueName(kMaxValueNameLength, u'v');
    const std::string longPath = std::string(kScratch) + "\\Long";
    const BYTE data[] = {42};
    {
        UniqueKey parent(*base_);
        ASSERT_EQ(
            NarrowRegistry(*base_).CreateKeyEx(HKEY_LOCAL_MACHINE, longPath.c_str(), 0, KEY_ALL_ACCESS, parent.put()),
            ERROR_SUCCESS);
        UniqueKey child(*base_);
        ASSERT_EQ(base_->CreateKeyExW(parent.get(), keyName.c_str(), 0, KEY_ALL_ACCESS, child.put()), ERROR_SUCCESS);
        ASSERT_EQ(base_->SetValueExW(child.get(), valueName.c_str(), REG_BINARY, data, 1), ERROR_SUCCESS);
    }

    OverlayRegistry overlay(*base_);
    {
        UniqueKey parent(overlay);
        ASSERT_EQ(NarrowRegistry(overlay).OpenKeyEx(HKEY_LOCAL_MACHINE, longPath.c_str(), KEY_READ, parent.put()),
                  ERROR_SUCCESS);
        char16_t name[kMaxKeyNameLength + 1];
        DWORD length = kMaxKeyNameLength + 1;
        ASSERT_EQ(overlay.EnumKeyExW(parent.get(), 0, name, &length), ERROR_SUCCESS);
        EXPECT_EQ(std::u16string(name, length), keyName);
        UniqueKey child(overlay);
        ASSERT_EQ(overlay.OpenKeyExW(parent.get(), keyName.c_str(), KEY_READ, child.put()), ERROR_SUCCESS);
        BYTE read = 0;
        DWORD size = 1;
        EXPECT_EQ(overlay.QueryValueExW(child.get(), valueName.c_str(), nullptr, &read, &size), ERROR_SUCCESS);
        EXPECT_EQ(read, 42);
    }
    EXPECT_EQ(DeleteRegistryTreeSilently(overlay, HKEY_LOCAL_MACHINE, longPath), 1);
    EXPECT_EQ(Read(overlay, HKEY_LOCAL_MACHINE, longPath, ""), "<no key>");
    UniqueKey stillThere(*base_);
    EXPECT_EQ(NarrowRegistry(*base_).OpenKeyEx(HKEY_LOCAL_MACHINE, longPath.c_str(), KEY_READ, stillThere.put()),
              ERROR_SUCCESS)
        << "the base stays as it was";
}

TEST_P(OverlayRegistryTest, SnapshotsListExactlyThePassesChanges) {
    OverlayRegistry overlay(*base_);
    RunPass(overlay);
    MemoryRegistry before;
    MemoryRegistry after;
    overlay.Snapshots(before, after);
    EXPECT_EQ(DescribeRegistryChanges(before, after),
              "Windows Registry Editor Version 5.00\n"
              "\n"
              "[HKEY_CLASSES_ROOT\\QzOverlayClass]\n"
              "@=\"rebuilt\"\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\Software\\QzOverlay\\Kept]\n"
              "\"name\"=\"changed\"\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\Software\\QzOverlay\\New]\n"
              "\"v\"=\"added\"\n"
              "\n"
              "[-HKEY_LOCAL_MACHINE\\Software\\QzOverlay\\Tree]\n"
              "\n");
}

TEST_P(OverlayRegistryTest, AppliedItsChangesAreMadeInTheBaseAndAppliedAgainChangeNothing) {
    OverlayRegistry overlay(*base_);
    RunPass(overlay);
    const std::vector<RegistryChange> changes = overlay.Changes();
    std::string error;
    ASSERT_TRUE(ApplyRegistryChanges(changes, *base_, error)) << error;
    EXPECT_EQ(BaseExport(), "changed|<no key>|added|rebuilt|rebuilt");

    ASSERT_TRUE(ApplyRegistryChanges(changes, *base_, error)) << error;
    MemoryRegistry before;
    MemoryRegistry after;
    OverlayRegistry fresh(*base_);
    EXPECT_EQ(Read(fresh, HKEY_LOCAL_MACHINE, std::string(kScratch) + "\\New", "v"), "added");
    fresh.Snapshots(before, after);
    EXPECT_EQ(DescribeRegistryChanges(before, after), "") << "reading changes nothing";
}

// What the in-memory base is made to answer, which advapi32 cannot be.
using InMemoryBaseOverlayTest = OverlayRegistryTest;

TEST_P(InMemoryBaseOverlayTest, ARefusedChangeNamesTheKeyAndTheRestAreMade) {
    OverlayRegistry overlay(*base_);
    RunPass(overlay);
    const std::vector<RegistryChange> changes = overlay.Changes();
    // Another process made the removed subtree grow meanwhile: the delete is refused.
    Write(HKEY_LOCAL_MACHINE, std::string(kScratch) + "\\Tree\\Deep\\Deeper\\Newer", "", "x");
    std::string error;
    EXPECT_FALSE(ApplyRegistryChanges(changes, *base_, error));
    const std::string refused = "Unable to delete HKEY_LOCAL_MACHINE\\Software\\QzOverlay\\Tree\\Deep\\Deeper (error 5";
#ifdef _WIN32
    const std::string expected = refused + ": ";  // the system's text follows the number
#else
    const std::string expected = refused + ")";
#endif
    EXPECT_NE(error.find(expected), std::string::npos) << error;
    EXPECT_EQ(Read(*base_, HKEY_LOCAL_MACHINE, std::string(kScratch) + "\\New", "v"), "added") << "went on";
}

// The base's two "not there" answers both read as a key that is missing; any
// other failure is the base's answer to the caller.
TEST_P(InMemoryBaseOverlayTest, EitherNotFoundAnswerOfTheBaseReadsAsAMissingKey) {
    const std::string kept = std::string(kScratch) + "\\Kept";
    for (const LONG answer : {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND}) {
        SCOPED_TRACE(answer);
        FaultInjectingRegistry base(*base_);
        base.Fail(RegOp::OpenKey, std::string("HKEY_LOCAL_MACHINE\\") + kScratch, answer);
        OverlayRegistry overlay(base);
        EXPECT_EQ(Read(overlay, HKEY_LOCAL_MACHINE, kept, "name"), "<no key>");
        Write(overlay, HKEY_LOCAL_MACHINE, kept, "name", "written");
        EXPECT_EQ(Read(overlay, HKEY_LOCAL_MACHINE, kept, "name"), "written");
    }
    FaultInjectingRegistry base(*base_);
    base.Fail(RegOp::OpenKey, std::string("HKEY_LOCAL_MACHINE\\") + kScratch, ERROR_ACCESS_DENIED);
    OverlayRegistry overlay(base);
    UniqueKey key(overlay);
    EXPECT_EQ(NarrowRegistry(overlay).OpenKeyEx(HKEY_LOCAL_MACHINE, kept.c_str(), KEY_READ, key.put()),
              ERROR_ACCESS_DENIED);
}

INSTANTIATE_TEST_SUITE_P(Bases, OverlayRegistryTest,
#ifdef _WIN32
                         ::testing::Values(Base::Memory, Base::Advapi32),
#else
                         ::testing::Values(Base::Memory),
#endif
                         [](const auto& info) { return std::string(info.param == Base::Memory ? "Memory" : "Advapi32"); });
INSTANTIATE_TEST_SUITE_P(Bases, InMemoryBaseOverlayTest, ::testing::Values(Base::Memory),
                         [](const auto&) { return std::string("Memory"); });

}  // namespace
}  // namespace qz
