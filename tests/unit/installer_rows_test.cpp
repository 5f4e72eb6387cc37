// The custom action's translation of a pass's changes into Windows Installer
// rows: the Value column's syntax for every registry type, the escapes of the
// Formatted columns, and which table and marker each kind of change becomes
// when installing and when removing.
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
        {"brackets are not properties", Value(REG_SZ, Text(u"[x] {y}")), "[\\[]x[\\]] {y}"},
        {"expandable", Value(REG_EXPAND_SZ, Text(u"%ProgramFiles%\\a")), "#%%ProgramFiles%\\a"},
        {"dword", Value(REG_DWORD, {1, 0, 0, 0}), "#1"},
        {"dword above 2^31 as the signed number", Value(REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}), "#-1"},
        {"binary", Value(REG_BINARY, {0x01, 0xAB}), "#x01AB"},
        {"multi-string", Value(REG_MULTI_SZ, Utf16Data(std::u16string(u"a\0b\0", 4))), "[~]a[~]b[~]"},
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
                                   "Registry HKEY_CLASSES_ROOT\\Doc name=(default) value=Doc [\\[]1[\\]]",
                                   "Registry HKEY_CLASSES_ROOT\\Doc\\Insertable name=*",
                                   "Registry HKEY_CLASSES_ROOT\\Doc\\shell\\Open name=(default) value=new.exe",
                                   "RemoveRegistry HKEY_CLASSES_ROOT\\Doc\\shell\\Open Old name=-",
                                   "Registry HKEY_CURRENT_USER\\Software\\User name=u value=x",
                                   "RemoveRegistry HKEY_LOCAL_MACHINE\\Software\\Kept name=gone",
                                   "Registry HKEY_LOCAL_MACHINE\\Software\\Kept name=n value=#2",
                               }));
    EXPECT_EQ(rows.rows[0].root, 0);
    EXPECT_EQ(rows.rows[0].name, "") << "the default value is a null Name";
    EXPECT_EQ(rows.rows[4].root, 1);
    EXPECT_EQ(rows.rows[5].root, 2);
}

TEST(InstallerRows, ARemovalRemovesKeysAndValuesAndCannotWrite) {
    const InstallerRows rows = RowsForUnregistration(Changes(kBefore, kAfter));
    EXPECT_EQ(Described(rows), (std::vector<std::string>{
                                   "Registry HKEY_CLASSES_ROOT\\Doc\\shell\\Open Old name=-",
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

}  // namespace
}  // namespace qz
