// The custom action's translation of a pass's changes into Windows Installer
// rows: the Value column's syntax for every registry type, the escapes of the
// Formatted columns, which table and marker each kind of change becomes when
// installing and when removing, and the names and data the tables would read
// as another operation.
#include <gtest/gtest.h>

#include "registry/reg_file/reg_file.h"
#include "text/code_page.h"
#include "text/utf16_data.h"
#include "tools/qzaction/installer_rows.h"

namespace qz {
namespace {

RegValue Value(DWORD type, std::vector<BYTE> data, std::u16string name = u"v") {
    RegValue value;
    value.name = std::move(name);
    value.type = type;
    value.data = std::move(data);
    return value;
}

std::vector<BYTE> Text(std::u16string_view text) { return Utf16Data(text); }

struct ValueCase {
    const char* what;
    RegValue value;
    std::optional<std::string> column;
};

TEST(InstallerRows, ValuesInTheRegistryTablesSyntax) {
    const ValueCase cases[] = {
        {"text", Value(REG_SZ, Text(u"ole32")), "ole32"},
        {"text starting with #", Value(REG_SZ, Text(u"#1")), "##1"},
        {"brackets are not properties, braces no group", Value(REG_SZ, Text(u"[x] {y}")),
         "[\\[]x[\\]] [\\{]y[\\}]"},
        {"a group around a property", Value(REG_SZ, Text(u"{[INSTALLFOLDER]}")),
         "[\\{][\\[]INSTALLFOLDER[\\]][\\}]"},
        {"a list separator in text", Value(REG_SZ, Text(u"a[~]b")), "a[\\[]~[\\]]b"},
        {"text that reads as a number", Value(REG_SZ, Text(u"#x01")), "##x01"},
        {"expandable text starting with #", Value(REG_EXPAND_SZ, Text(u"#{a}")), "#%#[\\{]a[\\}]"},
        {"expandable", Value(REG_EXPAND_SZ, Text(u"%ProgramFiles%\\a")), "#%%ProgramFiles%\\a"},
        {"dword", Value(REG_DWORD, {1, 0, 0, 0}), "#1"},
        {"dword above 2^31 as the signed number", Value(REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}), "#-1"},
        {"binary", Value(REG_BINARY, {0x01, 0xAB}), "#x01AB"},
        {"multi-string", Value(REG_MULTI_SZ, Utf16Data(std::u16string(u"a\0b\0", 4))), "[~]a[~]b[~]"},
        {"multi-string holding a separator", Value(REG_MULTI_SZ, Utf16Data(std::u16string(u"[~]\0{}\0", 8))),
         "[~][\\[]~[\\]][~][\\{][\\}][~]"},
        {"a type the table cannot hold", Value(11 /* REG_QWORD */, {1, 0, 0, 0, 0, 0, 0, 0}), std::nullopt},
    };
    for (const ValueCase& c : cases) EXPECT_EQ(RegistryTableValue(c.value), c.column) << c.what;
}

std::vector<RegistryChange> Changes(const std::string& before, const std::string& after) {
    MemoryRegistry a;
    MemoryRegistry b;
    std::string error;
    EXPECT_TRUE(ImportRegText(Utf8ToUtf16(before), a, error)) << error;
    EXPECT_TRUE(ImportRegText(Utf8ToUtf16(after), b, error)) << error;
    return ListRegistryChanges(a, b);
}

std::vector<std::string> Described(const InstallerRows& rows) {
    std::vector<std::string> lines;
    for (const InstallerRow& row : rows.rows) lines.push_back(DescribeRow(row));
    return lines;
}

const char kBefore[] = R"(REGEDIT4
[HKEY_LOCAL_MACHINE\Software\Classes\Doc\shell\Open Old]
[HKEY_LOCAL_MACHINE\Software\Classes\Doc\shell\Open Old\command]
@="old.exe"
[HKEY_LOCAL_MACHINE\Software\Kept]
"gone"="g"
[HKEY_CURRENT_USER\Software]
)";
const char kAfter[] = R"(REGEDIT4
[HKEY_LOCAL_MACHINE\Software\Classes\Doc]
@="Doc [1]"
[HKEY_LOCAL_MACHINE\Software\Classes\Doc\Insertable]
[HKEY_LOCAL_MACHINE\Software\Classes\Doc\shell\Open]
@="new.exe"
[HKEY_LOCAL_MACHINE\Software\Kept]
"n"=dword:00000002
[HKEY_CURRENT_USER\Software\User]
"u"="x"
)";

TEST(InstallerRows, ARegistrationWritesValuesCreatesEmptyKeysAndRemovesWhatItRemoves) {
    const InstallerRows rows = RowsForRegistration(Changes(kBefore, kAfter));
    EXPECT_TRUE(rows.skipped.empty());
    EXPECT_EQ(Described(rows), (std::vector<std::string>{
                                   "Registry HKEY_LOCAL_MACHINE\\Software\\Classes\\Doc name=(default) value=Doc [\\[]1[\\]]",
                                   "Registry HKEY_LOCAL_MACHINE\\Software\\Classes\\Doc\\Insertable name=*",
                                   "Registry HKEY_LOCAL_MACHINE\\Software\\Classes\\Doc\\shell\\Open name=(default) value=new.exe",
                                   "RemoveRegistry HKEY_LOCAL_MACHINE\\Software\\Classes\\Doc\\shell\\Open Old name=-",
                                   "Registry HKEY_CURRENT_USER\\Software\\User name=u value=x",
                                   "RemoveRegistry HKEY_LOCAL_MACHINE\\Software\\Kept name=gone",
                                   "Registry HKEY_LOCAL_MACHINE\\Software\\Kept name=n value=#2",
                               }));
    // The classes as the machine's own key (Root 0 would be the user's classes in RemoveRegistry).
    EXPECT_EQ(rows.rows[0].root, InstallerRoot::LocalMachine);
    EXPECT_EQ(rows.rows[3].root, InstallerRoot::LocalMachine);
    EXPECT_EQ(rows.rows[0].name, "") << "the default value is a null Name";
    EXPECT_EQ(rows.rows[4].root, InstallerRoot::CurrentUser);
    EXPECT_EQ(rows.rows[5].root, InstallerRoot::LocalMachine);
}

TEST(InstallerRows, ARemovalRemovesKeysAndValuesAndCannotWrite) {
    const InstallerRows rows = RowsForUnregistration(Changes(kBefore, kAfter));
    EXPECT_EQ(Described(rows), (std::vector<std::string>{
                                   "Registry HKEY_LOCAL_MACHINE\\Software\\Classes\\Doc\\shell\\Open Old name=-",
                                   "Registry HKEY_LOCAL_MACHINE\\Software\\Kept name=gone value=g",
                               }));
    // The writes of the same changes are named, not rows: 4 values and the 3 new keys.
    EXPECT_EQ(rows.skipped.size(), 7u);
    for (const std::string& line : rows.skipped) EXPECT_NE(line.find("stays as it is"), std::string::npos) << line;

    // A removed empty text still gives a value row (a null Value would make it a key row).
    const InstallerRows empty = RowsForUnregistration(Changes("REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n@=\"\"\n",
                                                              "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n"));
    ASSERT_EQ(empty.rows.size(), 1u);
    EXPECT_EQ(empty.rows[0].name, "");
    EXPECT_EQ(empty.rows[0].value, std::optional<std::string>("#x"));
}

// Names and keys the tables would read as something else: each change either
// becomes rows that state it exactly, or is skipped (a registration then stops)
// with a line that names the value.
struct SpecialCase {
    const char* what;
    const char* before;
    const char* after;
    bool registering;
    std::vector<std::string> rows;  // DescribeRow of each
    const char* skipped;            // "" when nothing is skipped, else what the one skipped line names
};

const SpecialCase kSpecialCases[] = {
    {"a value name with brackets is no property", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n",
     "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"[ProgramFilesFolder]\"=\"x\"\n", true,
     {"Registry HKEY_LOCAL_MACHINE\\K name=[\\[]ProgramFilesFolder[\\]] value=x"}, ""},
    {"a key named {} removed is that key, not its parent",
     "REGEDIT4\n[HKEY_CLASSES_ROOT\\Doc\\shell\\{}]\n@=\"x\"\n[HKEY_CLASSES_ROOT\\Doc\\shell\\Open]\n",
     "REGEDIT4\n[HKEY_CLASSES_ROOT\\Doc\\shell\\Open]\n", true,
     {"RemoveRegistry HKEY_LOCAL_MACHINE\\Software\\Classes\\Doc\\shell\\[\\{][\\}] name=-"}, ""},
    {"a folder with braces and brackets in a key and a value", "REGEDIT4\n",
     "REGEDIT4\n[HKEY_CLASSES_ROOT\\{a}[b]]\n\"{c}\"=\"C:\\\\{x}\\\\[y]\"\n", true,
     {"Registry HKEY_LOCAL_MACHINE\\Software\\Classes\\[\\{]a[\\}][\\[]b[\\]] name=[\\{]c[\\}] "
      "value=C:\\[\\{]x[\\}]\\[\\[]y[\\]]"},
     ""},
    {"a value named - removed would be the whole key", "REGEDIT4\n[HKEY_CLASSES_ROOT\\Lang]\n\"-\"=\"x\"\n@=\"L\"\n",
     "REGEDIT4\n[HKEY_CLASSES_ROOT\\Lang]\n@=\"L\"\n", true, {}, "HKEY_CLASSES_ROOT\\Lang, value \"-\""},
    {"a value named + or * removed is only that value",
     "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"+\"=\"x\"\n\"*\"=\"y\"\n", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n", true,
     {"RemoveRegistry HKEY_LOCAL_MACHINE\\K name=*", "RemoveRegistry HKEY_LOCAL_MACHINE\\K name=+"}, ""},
    {"a value named - written with text is that value", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n",
     "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"-\"=\"x\"\n", true, {"Registry HKEY_LOCAL_MACHINE\\K name=- value=x"}, ""},
    {"an empty text named * would be a key operation", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n",
     "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"*\"=\"\"\n", true, {}, "HKEY_LOCAL_MACHINE\\K, value \"*\""},
    {"an empty text with another name is a null Value", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n",
     "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"e\"=\"\"\n", true, {"Registry HKEY_LOCAL_MACHINE\\K name=e value="}, ""},
    {"removing, a value named - is a value row", "REGEDIT4\n[HKEY_CLASSES_ROOT\\Lang]\n\"-\"=\"\"\n",
     "REGEDIT4\n[HKEY_CLASSES_ROOT\\Lang]\n", false,
     {"Registry HKEY_LOCAL_MACHINE\\Software\\Classes\\Lang name=- value=#x"}, ""},
};

TEST(InstallerRows, NamesAndDataTheTablesReadAsAnotherOperationAreStatedExactlyOrStopTheInstallation) {
    for (const SpecialCase& c : kSpecialCases) {
        const std::vector<RegistryChange> changes = Changes(c.before, c.after);
        const InstallerRows rows = c.registering ? RowsForRegistration(changes) : RowsForUnregistration(changes);
        EXPECT_EQ(Described(rows), c.rows) << c.what;
        if (*c.skipped == '\0') {
            EXPECT_EQ(rows.skipped, std::vector<std::string>{}) << c.what;
        } else {
            ASSERT_EQ(rows.skipped.size(), 1u) << c.what;
            EXPECT_NE(rows.skipped[0].find(c.skipped), std::string::npos) << c.what << ": " << rows.skipped[0];
        }
    }
}

}  // namespace
}  // namespace qz
