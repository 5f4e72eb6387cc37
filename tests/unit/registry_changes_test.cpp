// The change listing of a pass: added keys with their values, changed and
// removed values, removed subtrees once, classes under HKEY_CLASSES_ROOT; and it
// is a .reg text that turns the "before" registry into the "after" one.
#include <gtest/gtest.h>

#include "text/code_page.h"
#include "registry/reg_file.h"
#include "registry/registry_changes.h"

namespace qz {
namespace {

void Import(MemoryRegistry& registry, const std::string& text) {
    std::string error;
    ASSERT_TRUE(ImportRegText(Utf8ToUtf16(text), registry, error)) << error;
}

TEST(RegistryChanges, ListsWhatChangedAndNothingElse) {
    MemoryRegistry before;
    Import(before, R"(REGEDIT4
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
)");
    MemoryRegistry after = before;
    EXPECT_EQ(DescribeRegistryChanges(before, after), "");

    Import(after, R"(REGEDIT4
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
)");
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

}  // namespace
}  // namespace qz
