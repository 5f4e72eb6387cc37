// The change listing of a pass: added keys with their values, changed and
// removed values, removed subtrees once, classes under HKEY_CLASSES_ROOT; and it
// is a .reg text that turns the "before" registry into the "after" one.
#include <gtest/gtest.h>

#include <iterator>
#include <optional>

#include "text/code_page.h"
#include "registry/reg_file/reg_file.h"
#include "registry/changes/registry_changes.h"

namespace qz {
namespace {

void Import(MemoryRegistry& registry, const std::string& text) {
    std::string error;
    ASSERT_TRUE(ImportRegText(Utf8ToUtf16(text), registry, error)) << error;
}

// A registry before a pass, and what the pass does to it.
const char kBefore[] = R"(REGEDIT4
[HKEY_LOCAL_MACHINE\Software\Corvalen\Same]
"v"="same"
[HKEY_LOCAL_MACHINE\Software\Corvalen\Changed]
"kept"="k"
"changed"="old"
"type changed"="1"
"removed"="r"
@="default"
[HKEY_LOCAL_MACHINE\Software\Corvalen\Gone\Deeper\Deepest]
"v"="x"
[HKEY_CLASSES_ROOT\.old]
@="Old.Document"
[HKEY_CURRENT_USER\Software\Corvalen]
)";
const char kPass[] = R"(REGEDIT4
[HKEY_LOCAL_MACHINE\Software\Corvalen\Changed]
"changed"="new"
"type changed"=dword:00000001
"removed"=-
@=-
"added"=hex:01,02
[-HKEY_LOCAL_MACHINE\Software\Corvalen\Gone]
[HKEY_LOCAL_MACHINE\Software\Corvalen\New\Sub]
"v"="n"
[HKEY_CLASSES_ROOT\.ovxf]
@="OVX.Document"
[-HKEY_CLASSES_ROOT\.old]
[HKEY_CURRENT_USER\Software\Corvalen\IniSettings]
"whatsnew_ovx"=dword:00000001
)";

TEST(RegistryChanges, ListsWhatChangedAndNothingElse) {
    MemoryRegistry before;
    Import(before, kBefore);
    MemoryRegistry after = before;
    EXPECT_EQ(DescribeRegistryChanges(before, after), "");

    Import(after, kPass);
    const std::string changes = DescribeRegistryChanges(before, after);
    EXPECT_EQ(changes, R"(Windows Registry Editor Version 5.00

[-HKEY_CLASSES_ROOT\.old]

[HKEY_CLASSES_ROOT\.ovxf]
@="OVX.Document"

[HKEY_CURRENT_USER\Software\Corvalen\IniSettings]
"whatsnew_ovx"=dword:00000001

[HKEY_LOCAL_MACHINE\Software\Corvalen\Changed]
@=-
"added"=hex:01,02
"changed"="new"
"removed"=-
"type changed"=dword:00000001

[-HKEY_LOCAL_MACHINE\Software\Corvalen\Gone]

[HKEY_LOCAL_MACHINE\Software\Corvalen\New]

[HKEY_LOCAL_MACHINE\Software\Corvalen\New\Sub]
"v"="n"

)");

    // Applied to the registry before the pass, the listing gives the registry after it.
    Import(before, changes);
    EXPECT_EQ(DescribeRegistryChanges(before, after), "");
    EXPECT_TRUE(SameContent(before.Hive(RegRoot::LocalMachine), after.Hive(RegRoot::LocalMachine)));
    EXPECT_TRUE(SameContent(before.Hive(RegRoot::CurrentUser), after.Hive(RegRoot::CurrentUser)));
}

// A removed value's name is escaped as a set value's is, so that the listing
// still reads back as the change: a raw line break would end the line inside
// the name.
TEST(RegistryChanges, EscapeTheNamesOfRemovedValuesAsTheNamesOfValuesSet) {
    struct Row {
        const char* what;
        const char* escapedName;  // as the .reg text writes it, between the quotes
    };
    const Row rows[] = {
        {"backslash", R"(back\\slash)"},
        {"double quote", R"(say \"hi\")"},
        {"line feed", R"(first\nsecond)"},
        {"carriage return", R"(first\rsecond)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string key = "[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Names]\n";
        const std::string line = "\"" + std::string(row.escapedName) + "\"";
        MemoryRegistry before;
        Import(before, "Windows Registry Editor Version 5.00\n" + key + line + "=\"old\"\n");
        MemoryRegistry afterRemoval = before;
        Import(afterRemoval, "Windows Registry Editor Version 5.00\n" + key + line + "=-\n");
        MemoryRegistry afterSetting = before;
        Import(afterSetting, "Windows Registry Editor Version 5.00\n" + key + line + "=\"new\"\n");

        const std::string removal = DescribeRegistryChanges(before, afterRemoval);
        EXPECT_EQ(removal, "Windows Registry Editor Version 5.00\n\n" + key + line + "=-\n\n");
        EXPECT_EQ(DescribeRegistryChanges(before, afterSetting),
                  "Windows Registry Editor Version 5.00\n\n" + key + line + "=\"new\"\n\n");

        // The listing applied to the registry before the pass gives the one after it.
        MemoryRegistry replayed = before;
        Import(replayed, removal);
        EXPECT_EQ(DescribeRegistryChanges(replayed, afterRemoval), "");
    }
}

// The list the .reg text, the JSON, the drift and the installer rows are made of: each change
// once, with what the value held before and whether its key is new.
TEST(RegistryChanges, ListEachChangeWithItsOldValueAndItsKey) {
    MemoryRegistry before;
    Import(before, kBefore);
    MemoryRegistry after = before;
    Import(after, kPass);

    using Kind = RegistryChange::Kind;
    struct Row {
        Kind kind;
        std::string key;
        std::string value;  // the value's name, "" for a key
        bool keyIsNew;
        bool hasOld;
    };
    const Row expected[] = {
        {Kind::RemoveKey, "HKEY_CLASSES_ROOT\\.old", "", false, false},
        {Kind::AddKey, "HKEY_CLASSES_ROOT\\.ovxf", "", false, false},
        {Kind::SetValue, "HKEY_CLASSES_ROOT\\.ovxf", "", true, false},
        {Kind::AddKey, "HKEY_CURRENT_USER\\Software\\Corvalen\\IniSettings", "", false, false},
        {Kind::SetValue, "HKEY_CURRENT_USER\\Software\\Corvalen\\IniSettings", "whatsnew_ovx", true, false},
        {Kind::RemoveValue, "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Changed", "", false, true},
        {Kind::SetValue, "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Changed", "added", false, false},
        {Kind::SetValue, "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Changed", "changed", false, true},
        {Kind::RemoveValue, "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Changed", "removed", false, true},
        {Kind::SetValue, "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Changed", "type changed", false, true},
        {Kind::RemoveKey, "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Gone", "", false, false},
        {Kind::AddKey, "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\New", "", false, false},
        {Kind::AddKey, "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\New\\Sub", "", false, false},
        {Kind::SetValue, "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\New\\Sub", "v", true, false},
    };
    const std::vector<RegistryChange> changes = ListRegistryChanges(before, after);
    ASSERT_EQ(changes.size(), std::size(expected));
    for (std::size_t i = 0; i < changes.size(); ++i) {
        const RegistryChange& change = changes[i];
        const Row& row = expected[i];
        SCOPED_TRACE(row.key + " " + row.value);
        EXPECT_EQ(change.kind, row.kind);
        EXPECT_EQ(FullKeyName(change), row.key);
        const std::optional<RegValue>& value = change.newValue ? change.newValue : change.oldValue;
        EXPECT_EQ(value ? Utf16ToUtf8(value->name) : std::string(), row.value);
        EXPECT_EQ(change.keyIsNew, row.keyIsNew);
        EXPECT_EQ(change.oldValue.has_value(), row.hasOld);
        EXPECT_EQ(change.newValue.has_value(), row.kind == Kind::SetValue);
    }
    // What a value held before, as it was.
    EXPECT_EQ(changes[9].oldValue->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(changes[9].newValue->type, static_cast<DWORD>(REG_DWORD));
}

}  // namespace
}  // namespace qz
