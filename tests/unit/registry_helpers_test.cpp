// The shared registry helpers as the steps call them (SetRegistryString,
// DeleteRegistryTree), run the same way against the in-memory registry and
// (under Wine) against advapi32, each behind the fault injector so that the
// order and number of registry calls can be checked.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "registration/product_lookups.h"
#include "tests/support/key_chain_names.h"
#include "tests/support/module_registry_fixture.h"

namespace qz {
namespace {

using test::kScratch;
using test::NumberedLevels;
using test::Repeated;
using RegistryHelpers = test::ModuleRegistryTest;

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

// The shapes of tree real machines have below the keys this module removes:
// deep, with long full paths, with long names, with names in other scripts
// (and beside them the names a narrow code page would turn them into).
struct TreeShape {
    const char* what;
    std::vector<std::vector<std::u16string>> chains;  // each below the doomed key
};

const std::u16string kCyrillic = u"\u041F\u0440\u043E\u0435\u043A\u0442\u044B";  // Проекты
const std::u16string kCyrillicChild = u"\u041C\u043E\u0434\u0435\u043B\u044C";   // Модель

std::vector<TreeShape> TreeShapes() {
    return {
        {"500 levels", {Repeated(500, u"d")}},
        {"20 levels of 13-character names", {NumberedLevels(20)}},
        {"a 240-character name", {{std::u16string(240, u'n'), u"child"}, {u"beside"}}},
        {"255-character names three deep", {Repeated(3, std::u16string(255, u'x'))}},
        {"names outside the code page",
         {{kCyrillic, kCyrillicChild, u"\u65E5\u672C"},
          {u"???????", u"??????"},
          {u"\u0141\u00F3d\u017A"},
          {u"a\U0001F600b", kCyrillic}}},
        {"deep and wide", {Repeated(100, u"deep"), NumberedLevels(20), {u"wide", kCyrillic}, {u"zz"}}},
    };
}

TEST_P(RegistryHelpers, DeleteRegistryTreeRemovesTreesOfAnyDepthPathLengthAndScript) {
    const std::string doomed = std::string(kScratch) + "\\Doomed";
    for (const TreeShape& shape : TreeShapes()) {
        SCOPED_TRACE(shape.what);
        CreateKey(HKEY_LOCAL_MACHINE, std::string(kScratch) + "\\Kept");
        for (const std::vector<std::u16string>& chain : shape.chains) CreateChain(HKEY_LOCAL_MACHINE, doomed, chain);
        SetText(HKEY_LOCAL_MACHINE, doomed, "top", "x");
        registry().ClearCalls();

        EXPECT_EQ(DeleteRegistryTree(HKEY_LOCAL_MACHINE, doomed), 1);
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, doomed));
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, std::string(kScratch) + "\\Kept"));
        // Every delete succeeded the first time: no key was tried before its subkeys went.
        std::size_t keys = 1;
        for (const std::vector<std::u16string>& chain : shape.chains) keys += chain.size();
        std::size_t deletes = 0;
        for (const RegistryCall& call : registry().Calls()) {
            if (call.op != RegOp::DeleteKey) continue;
            ++deletes;
            EXPECT_EQ(call.result, ERROR_SUCCESS) << call.keyPath.substr(0, 300);
        }
        EXPECT_EQ(deletes, keys);
        EXPECT_EQ(registry().CountCalls(RegOp::OpenKey), registry().CountCalls(RegOp::CloseKey));
        RemoveTree(HKEY_LOCAL_MACHINE, kScratch);
    }
}

// Wine takes key names of 256 characters, one more than Windows documents; a
// tree holding one still goes.
TEST_P(RegistryHelpers, DeleteRegistryTreeRemovesAKeyNameOfAnyLengthTheRegistryTakes) {
    const std::string doomed = std::string(kScratch) + "\\Doomed";
    HKEY key = nullptr;
    ASSERT_EQ(NarrowRegistry(registry()).CreateKeyEx(HKEY_LOCAL_MACHINE, doomed.c_str(), 0, KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    HKEY child = nullptr;
    const std::u16string longest(256, u'w');
    const LONG status = registry().CreateKeyExW(key, longest.c_str(), 0, KEY_ALL_ACCESS, &child);
    registry().CloseKey(key);
    if (status != ERROR_SUCCESS) GTEST_SKIP() << "this registry refuses a 256-character name (" << status << ")";
    registry().CloseKey(child);
    CreateChain(HKEY_LOCAL_MACHINE, doomed, {u"a", u"b"});
    CreateChain(HKEY_LOCAL_MACHINE, doomed, {u"zz"});

    EXPECT_EQ(DeleteRegistryTree(HKEY_LOCAL_MACHINE, doomed), 1);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, doomed));
}

TEST_P(RegistryHelpers, SetRegistryStringStoresTheTextWithItsTerminator) {
    CreateKey(HKEY_LOCAL_MACHINE, kScratch);
    HKEY key = nullptr;
    ASSERT_EQ(NarrowRegistry(registry()).OpenKeyEx(HKEY_LOCAL_MACHINE, kScratch, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
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
    ASSERT_EQ(NarrowRegistry(registry()).OpenKeyEx(HKEY_LOCAL_MACHINE, kScratch, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(SetRegistryString(key, "name", "abc"), 0);
    registry().CloseKey(key);
    EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, kScratch, "name"), std::nullopt);
    EXPECT_TRUE(reporter_.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Registries, RegistryHelpers, test::RegistryKinds(), test::RegistryKindName);

}  // namespace
}  // namespace qz
