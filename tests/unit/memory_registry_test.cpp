// What only the in-memory registry has: copies as snapshots, direct access by
// full path, and its narrow code page (the semantics it shares with advapi32
// are in registry_conformance_test).
#include <gtest/gtest.h>

#include <string>

#include "text/code_page.h"
#include "registry/memory/memory_registry.h"
#include "text/utf16_data.h"
#include "tests/support/narrow_registry.h"
#ifdef _WIN32
#include <windows.h>
#endif

namespace qz {
namespace {

TEST(MemoryRegistry, ACopyIsAnIndependentSnapshotWithoutHandles) {
    MemoryRegistry registry;
    HKEY key = nullptr;
    ASSERT_EQ(NarrowRegistry(registry).CreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\A", 0, KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    const MemoryRegistry before = registry;
    EXPECT_EQ(before.OpenHandleCount(), 0u);
    ASSERT_EQ(NarrowRegistry(registry).SetValueEx(key, "v", REG_SZ, reinterpret_cast<const BYTE*>("x"), 2),
              ERROR_SUCCESS);
    EXPECT_EQ(before.FindKey(u"HKLM\\Software\\A")->FindValue(u"v"), nullptr);
    EXPECT_NE(registry.FindKey(u"HKLM\\Software\\A")->FindValue(u"v"), nullptr);

    // Assigned another tree, the registry's open handles are no longer valid.
    MemoryRegistry other = registry;
    other = before;
    EXPECT_TRUE(SameContent(other.Hive(RegRoot::LocalMachine), before.Hive(RegRoot::LocalMachine)));
    registry = before;
    EXPECT_EQ(NarrowRegistry(registry).SetValueEx(key, "v", REG_SZ, reinterpret_cast<const BYTE*>("x"), 2),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(registry.OpenHandleCount(), 0u);
}

TEST(MemoryRegistry, DirectAccessByFullPath) {
    MemoryRegistry registry;
    EXPECT_TRUE(registry.PutValue(u"HKCR\\.ovxf", RegValue{u"", REG_SZ, Utf16Data(u"OVX.Document")}));
    EXPECT_NE(registry.FindKey(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\classes\\.OVXF"), nullptr);
    EXPECT_FALSE(registry.EnsureKey(u"HKEY_USERS\\x"));
    EXPECT_FALSE(registry.EnsureKey(u"HKCU\\a\\\\b"));
    EXPECT_TRUE(registry.RemoveValue(u"HKCR\\.ovxf", u""));
    EXPECT_FALSE(registry.RemoveValue(u"HKCR\\.ovxf", u""));
    // Removing the classes root empties it; HKEY_CLASSES_ROOT still has its key.
    EXPECT_TRUE(registry.RemoveTree(u"HKEY_CLASSES_ROOT"));
    EXPECT_NE(registry.FindKey(u"HKCR"), nullptr);
    EXPECT_EQ(registry.FindKey(u"HKCR\\.ovxf"), nullptr);
    EXPECT_FALSE(registry.RemoveTree(u"HKLM"));
    EXPECT_EQ(NarrowRegistry(registry).DeleteKey(HKEY_LOCAL_MACHINE, "Software\\Classes"), ERROR_ACCESS_DENIED);
}

// Handles name their keys directly: when a key goes, by whatever way, every
// handle to it or to a key below it answers ERROR_KEY_DELETED, also once a key
// of the same path exists again; other handles go on working.
TEST(MemoryRegistry, HandlesToRemovedKeysAnswerThatTheKeyIsDeleted) {
    struct Case {
        const char* what;
        bool (*remove)(MemoryRegistry&, HKEY top, HKEY mid, HKEY leaf);
        bool topGoes, midGoes;
    };
    const Case cases[] = {
        {"RemoveTree of the top", [](MemoryRegistry& r, HKEY, HKEY, HKEY) { return r.RemoveTree(u"HKCU\\Top"); },
         true, true},
        {"RemoveTree of the middle",
         [](MemoryRegistry& r, HKEY, HKEY, HKEY) { return r.RemoveTree(u"HKEY_CURRENT_USER\\TOP\\mid"); }, false,
         true},
        {"DeleteKey of the leaf by its parent's handle",
         [](MemoryRegistry& r, HKEY, HKEY mid, HKEY) { return r.DeleteKeyW(mid, u"Leaf") == ERROR_SUCCESS; }, false,
         false},
        {"DeleteKey of the leaf by a path from the root",
         [](MemoryRegistry& r, HKEY, HKEY, HKEY) {
             return r.DeleteKeyW(HKEY_CURRENT_USER, u"Top\\Mid\\Leaf") == ERROR_SUCCESS;
         },
         false, false},
        {"DeleteKey of the leaf by its own handle",
         [](MemoryRegistry& r, HKEY, HKEY, HKEY leaf) { return r.DeleteKeyW(leaf, u"") == ERROR_SUCCESS; }, false,
         false},
    };
    for (const Case& c : cases) {
        MemoryRegistry registry;
        HKEY top = nullptr, mid = nullptr, leaf = nullptr, sibling = nullptr, leafAgain = nullptr;
        ASSERT_EQ(registry.CreateKeyExW(HKEY_CURRENT_USER, u"Top", 0, KEY_ALL_ACCESS, &top), ERROR_SUCCESS);
        ASSERT_EQ(registry.CreateKeyExW(top, u"Mid", 0, KEY_ALL_ACCESS, &mid), ERROR_SUCCESS);
        ASSERT_EQ(registry.CreateKeyExW(mid, u"Leaf", 0, KEY_ALL_ACCESS, &leaf), ERROR_SUCCESS);
        ASSERT_EQ(registry.OpenKeyExW(HKEY_CURRENT_USER, u"Top\\Mid\\Leaf", KEY_READ, &leafAgain), ERROR_SUCCESS);
        ASSERT_EQ(registry.CreateKeyExW(top, u"Sibling", 0, KEY_ALL_ACCESS, &sibling), ERROR_SUCCESS);
        ASSERT_TRUE(c.remove(registry, top, mid, leaf)) << c.what;
        // The same paths again, as new keys.
        ASSERT_TRUE(registry.EnsureKey(u"HKCU\\Top\\Mid\\Leaf")) << c.what;

        const auto status = [&registry](HKEY key) {
            DWORD subkeys = 0;
            return registry.QueryInfoKeyW(key, &subkeys, nullptr);
        };
        EXPECT_EQ(status(leaf), ERROR_KEY_DELETED) << c.what;
        EXPECT_EQ(status(leafAgain), ERROR_KEY_DELETED) << c.what;
        EXPECT_EQ(status(mid), c.midGoes ? ERROR_KEY_DELETED : ERROR_SUCCESS) << c.what;
        EXPECT_EQ(status(top), c.topGoes ? ERROR_KEY_DELETED : ERROR_SUCCESS) << c.what;
        EXPECT_EQ(status(sibling), c.topGoes ? ERROR_KEY_DELETED : ERROR_SUCCESS) << c.what;
        EXPECT_EQ(registry.SetValueExW(leaf, u"v", REG_DWORD, reinterpret_cast<const BYTE*>("\1\0\0\0"), 4),
                  ERROR_KEY_DELETED)
            << c.what;
        EXPECT_FALSE(registry.FindKey(u"HKCU\\Top\\Mid\\Leaf")->HasValues()) << c.what;
        for (HKEY key : {top, mid, leaf, sibling, leafAgain}) EXPECT_EQ(registry.CloseKey(key), ERROR_SUCCESS);
        EXPECT_EQ(registry.OpenHandleCount(), 0u) << c.what;
    }
}

TEST(MemoryRegistry, ValuesPutByPathAfterTheKeyWentGoToTheNewKey) {
    MemoryRegistry registry;
    ASSERT_TRUE(registry.PutValue(u"HKCU\\A\\B", RegValue{u"first", REG_SZ, Utf16Data(u"1")}));
    ASSERT_TRUE(registry.RemoveTree(u"HKCU\\A"));
    ASSERT_TRUE(registry.PutValue(u"HKCU\\A\\B", RegValue{u"second", REG_SZ, Utf16Data(u"2")}));
    const RegKey* key = registry.FindKey(u"HKCU\\A\\B");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->ValueCount(), 1u);
    EXPECT_NE(key->FindValue(u"second"), nullptr);

    ASSERT_EQ(registry.DeleteKeyW(HKEY_CURRENT_USER, u"A\\B"), ERROR_SUCCESS);
    ASSERT_TRUE(registry.PutValue(u"HKCU\\A\\B", RegValue{u"third", REG_SZ, Utf16Data(u"3")}));
    key = registry.FindKey(u"HKCU\\A\\B");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->ValueCount(), 1u);
    EXPECT_NE(key->FindValue(u"third"), nullptr);
}

// Far deeper than the 512 levels Windows allows, and than the stack would
// allow a removal that recursed once per level.
TEST(MemoryRegistry, AChainAHundredThousandKeysDeepIsRemovedWhole) {
    MemoryRegistry registry;
    std::u16string path = u"HKCU\\Top";
    for (int level = 0; level < 100000; ++level) path += u"\\k";
    ASSERT_TRUE(registry.EnsureKey(path));
    HKEY deepest = nullptr;
    ASSERT_EQ(registry.OpenKeyExW(HKEY_CURRENT_USER, path.substr(5).c_str(), KEY_READ, &deepest), ERROR_SUCCESS);
    EXPECT_TRUE(registry.RemoveTree(u"HKCU\\Top"));
    EXPECT_EQ(registry.FindKey(u"HKCU\\Top"), nullptr);
    DWORD subkeys = 0;
    EXPECT_EQ(registry.QueryInfoKeyW(deepest, &subkeys, nullptr), ERROR_KEY_DELETED);
    EXPECT_EQ(registry.CloseKey(deepest), ERROR_SUCCESS);
}

TEST(MemoryRegistry, VolatileKeysAreMarkedAndTheirDirectChildrenToo) {
    MemoryRegistry registry;
    HKEY key = nullptr;
    ASSERT_EQ(
        NarrowRegistry(registry).CreateKeyEx(HKEY_CURRENT_USER, "Fleeting", REG_OPTION_VOLATILE, KEY_ALL_ACCESS, &key),
        ERROR_SUCCESS);
    registry.CloseKey(key);
    EXPECT_TRUE(registry.FindKey(u"HKCU\\Fleeting")->isVolatile);
    ASSERT_TRUE(registry.EnsureKey(u"HKCU\\Fleeting\\Child"));
    EXPECT_TRUE(registry.FindKey(u"HKCU\\Fleeting\\Child")->isVolatile);
}

TEST(MemoryRegistry, StringsTheNarrowCodePageCannotShowReadAsQuestionMarks) {
    MemoryRegistry registry;
    ASSERT_TRUE(registry.EnsureKey(u"HKCU\\\u4E2D"));
    HKEY key = nullptr;
    ASSERT_EQ(NarrowRegistry(registry).OpenKeyEx(HKEY_CURRENT_USER, "?", KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    char name[8];
    DWORD length = sizeof name;
    ASSERT_EQ(NarrowRegistry(registry).EnumKeyEx(HKEY_CURRENT_USER, 0, name, &length), ERROR_SUCCESS);
    EXPECT_EQ(std::string(name, length), "?");
    char16_t wideName[8];
    length = 8;
    ASSERT_EQ(registry.EnumKeyExW(HKEY_CURRENT_USER, 0, wideName, &length), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(wideName, length), u"\u4E2D");

    ASSERT_TRUE(registry.PutValue(u"HKCU\\Plain", RegValue{u"v", REG_SZ, Utf16Data(u"\u4E2D\u00E9\u20AC")}));
    ASSERT_EQ(NarrowRegistry(registry).OpenKeyEx(HKEY_CURRENT_USER, "Plain", KEY_READ, &key), ERROR_SUCCESS);
    BYTE data[16];
    DWORD size = sizeof data;
    ASSERT_EQ(NarrowRegistry(registry).QueryValueEx(key, "v", nullptr, data, &size), ERROR_SUCCESS);
    registry.CloseKey(key);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), std::string("?\xE9\x80\0", 4));
}

TEST(CodePage, Windows1252BothWays) {
    EXPECT_EQ(NarrowToWide("a\x80\x9F\xE9\x81"), u"a\u20AC\u0178\u00E9\u0081");
    EXPECT_EQ(WideToNarrow(u"a\u20AC\u0178\u00E9\u0081"), "a\x80\x9F\xE9\x81");
    // One code unit, one byte: a character outside the code page, even a surrogate pair, gives '?' per unit.
    EXPECT_EQ(WideToNarrow(u"\u4E2D\U0001F600x"), "???x");
    for (int c = 0; c < 256; ++c) {
        const char narrow = static_cast<char>(c);
        EXPECT_EQ(WideToNarrow(NarrowToWide(std::string(1, narrow))), std::string(1, narrow)) << c;
    }
}

TEST(CodePage, CharactersOutsideTheCodePageTakeTheirBestFitByte) {
    // Accented Latin letters the code page lacks lose their accent; fullwidth
    // forms and typographic variants become their ASCII counterparts.
    const std::u16string outside = u"\u0141\u00F3d\u017A \u0151\u0100 \uFF21\uFF5E \u2044\u2215 \u0110";
    EXPECT_EQ(WideToNarrowBestFit(outside), "L\xF3" "dz oA A~ // \xD0");
    EXPECT_EQ(WideToNarrow(outside), "?\xF3" "d? ?? ?? ?? ?");
    // Inside the code page both are the same; without a best fit both give '?' per code unit.
    EXPECT_EQ(WideToNarrowBestFit(u"a\u20AC\u0178\u00E9\u0081"), "a\x80\x9F\xE9\x81");
    EXPECT_EQ(WideToNarrowBestFit(u"\u041F\u0440\u0438 \u4E2D\U0001F600"), "??? ???");
}

#ifdef _WIN32
// The whole table, against the system's own conversion for code page 1252.
TEST(CodePage, EveryCodeUnitNarrowsAsTheSystemConvertsIt) {
    for (unsigned unit = 0; unit <= 0xFFFF; ++unit) {
        const wchar_t wide = static_cast<wchar_t>(unit);
        char narrow[4] = {};
        ASSERT_EQ(WideCharToMultiByte(1252, 0, &wide, 1, narrow, sizeof narrow, nullptr, nullptr), 1) << unit;
        ASSERT_EQ(Utf16ToWindows1252BestFit(static_cast<char16_t>(unit)), narrow[0]) << "U+" << std::hex << unit;
    }
}
#endif

TEST(CodePage, Utf8BothWays) {
    const std::u16string text = u"a\u00E9\u20AC\U0001F600";
    EXPECT_EQ(Utf16ToUtf8(text), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(Utf8ToUtf16("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), text);
    EXPECT_EQ(Utf8ToUtf16("\xC3"), u"\uFFFD");            // cut short
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAFx"), u"\uFFFDx");      // overlong
    EXPECT_EQ(Utf8ToUtf16("\xFFx"), u"\uFFFDx");          // not a lead byte
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t{0xD800})), "\xEF\xBF\xBD");  // lone surrogate
}

}  // namespace
}  // namespace qz
