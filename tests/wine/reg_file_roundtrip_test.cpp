// Our .reg files against Wine's `reg`: a file we write imports with `reg import`
// into exactly the tree we wrote (read back through advapi32's wide calls),
// `reg export` of it reads back through our reader into the same tree, and its
// bytes are the bytes our writer produces. A REGEDIT4 file means the same to
// our reader as to Wine's importer.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "text/code_page.h"
#include "registry/memory/memory_registry.h"
#include "registry/reg_file/reg_file.h"
#include "text/utf16_data.h"
#include "tests/support/windows_commands.h"
#include "text/wide_text_win32.h"

namespace qz {
namespace {

const std::u16string kTop = u"HKEY_CURRENT_USER\\Software\\QzRoundTrip";
constexpr const wchar_t* kTopRelative = L"Software\\QzRoundTrip";

std::vector<BYTE> Bytes(std::initializer_list<int> values) {
    std::vector<BYTE> bytes;
    for (int v : values) bytes.push_back(static_cast<BYTE>(v));
    return bytes;
}

RegValue Value(std::u16string name, DWORD type, std::vector<BYTE> data) {
    return RegValue{std::move(name), type, std::move(data)};
}

// Reads a key of the real registry and everything below it through the wide calls.
RegKey ReadTree(HKEY parent, const std::wstring& path, const std::u16string& name) {
    RegKey key;
    key.name = name;
    HKEY handle = nullptr;
    if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
        ADD_FAILURE() << "cannot open the key to read back";
        return key;
    }
    for (DWORD index = 0;; ++index) {
        wchar_t valueName[16384];
        DWORD nameLength = 16384;
        std::vector<BYTE> data(1 << 16);
        DWORD size = static_cast<DWORD>(data.size());
        DWORD type = 0;
        if (RegEnumValueW(handle, index, valueName, &nameLength, nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
            break;
        data.resize(size);
        key.SetValue(Value(std::u16string(AsUtf16(valueName, nameLength)), type, data));
    }
    for (DWORD index = 0;; ++index) {
        wchar_t subkeyName[256];
        DWORD nameLength = 256;
        if (RegEnumKeyExW(handle, index, subkeyName, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        key.AddSubkey(ReadTree(handle, std::wstring(subkeyName, nameLength),
                               std::u16string(AsUtf16(subkeyName, nameLength))));
    }
    RegCloseKey(handle);
    return key;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    ASSERT_TRUE(out.good()) << path;
}

// Two trees as .reg text (our writer is lossless), so that a difference shows.
std::string Text(const RegKey& key) {
    std::u16string text;
    RegWriteOptions options;
    options.newline = u"\n";
    AppendRegKey(text, u"HKEY_CURRENT_USER\\Software\\QzRoundTrip", key, options);
    return Utf16ToUtf8(text);
}

class RegFileRoundTrip : public ::testing::Test {
protected:
    void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, kTopRelative); }
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, kTopRelative); }

    int RegImport(const std::string& bytes) {
        const std::string path = test::ScratchFilePath("import", ".reg");
        WriteFile(path, bytes);
        return test::RunWindowsCommand("reg import \"" + path + "\"");
    }

    std::string RegExport() {
        const std::string path = test::ScratchFilePath("export", ".reg");
        // /y: without it reg asks before replacing a file, and loops without a console.
        EXPECT_EQ(test::RunWindowsCommand("reg export HKCU\\Software\\QzRoundTrip \"" + path + "\" /y"), 0);
        return test::ReadWholeFile(path);
    }

    // A file of our writer holding the tree at kTop.
    static std::string Written(const RegKey& top) {
        std::u16string text = RegFileHeader();
        AppendRegKey(text, kTop, top);
        return EncodeUtf16LeWithBom(text);
    }
};

// Values of every type as a registry commonly holds them.
RegKey OrdinaryTree() {
    RegKey top;
    top.name = u"QzRoundTrip";
    top.SetValue(Value(u"", REG_SZ, Utf16Data(u"default text")));
    top.SetValue(Value(u"quotes \"and\" \\slashes\\", REG_SZ, Utf16Data(u"C:\\Program Files\\\"x\"\\")));
    top.SetValue(Value(u"empty", REG_SZ, Utf16Data(u"")));
    top.SetValue(Value(u"line\nbreaks\r", REG_SZ, Utf16Data(u"one\r\ntwo\n")));
    top.SetValue(Value(u"accents", REG_SZ, Utf16Data(u"Gr\u00FC\u00DFe \u20AC \u4E2D\u6587")));
    top.SetValue(Value(u"expand", REG_EXPAND_SZ, Utf16Data(u"%SystemRoot%\\system32")));
    top.SetValue(Value(u"multi", REG_MULTI_SZ, Utf16Data(std::u16string(u"one\0two\0", 8))));
    top.SetValue(Value(u"dword", REG_DWORD, Bytes({0x78, 0x56, 0x34, 0x12})));
    top.SetValue(Value(u"big endian", REG_DWORD_BIG_ENDIAN, Bytes({0x12, 0x34, 0x56, 0x78})));
    top.SetValue(Value(u"qword", REG_QWORD, Bytes({1, 2, 3, 4, 5, 6, 7, 8})));
    top.SetValue(Value(u"none", REG_NONE, Bytes({})));
    top.SetValue(Value(u"empty binary", REG_BINARY, Bytes({})));
    std::vector<BYTE> longBinary;
    for (int i = 0; i < 200; ++i) longBinary.push_back(static_cast<BYTE>(i * 7));
    top.SetValue(Value(u"long binary", REG_BINARY, longBinary));
    top.SetValue(Value(u"a rather long value name that pushes the hex data to wrap early", REG_BINARY, longBinary));
    top.SetValue(Value(u"resource list", REG_RESOURCE_LIST, Bytes({0, 1, 2, 3})));
    top.SetValue(Value(u"private type", 0x1234, Bytes({9, 8, 7})));
    RegKey child;
    child.name = u"Child \u00C9t\u00E9";
    child.SetValue(Value(u"", REG_SZ, Utf16Data(u"child default")));
    RegKey grandchild;
    grandchild.name = u"Grand";
    child.AddSubkey(grandchild);
    top.AddSubkey(child);
    RegKey empty;
    empty.name = u"AEmpty";
    top.AddSubkey(empty);
    return top;
}

TEST_F(RegFileRoundTrip, OurFileImportsIntoTheSameTreeAndExportsAsWeWriteIt) {
    const RegKey tree = OrdinaryTree();
    const std::string ours = Written(tree);
    ASSERT_EQ(RegImport(ours), 0);
    EXPECT_EQ(Text(ReadTree(HKEY_CURRENT_USER, kTopRelative, tree.name)), Text(tree));

    const std::string exported = RegExport();
    EXPECT_EQ(Utf16ToUtf8(DecodeRegFileBytes(exported)), Utf16ToUtf8(DecodeRegFileBytes(ours)));
    EXPECT_EQ(exported, ours) << "the same text, but not the same bytes";

    MemoryRegistry readBack;
    std::string error;
    ASSERT_TRUE(ImportRegText(DecodeRegFileBytes(exported), readBack, error)) << error;
    const RegKey* key = readBack.FindKey(kTop);
    ASSERT_NE(key, nullptr);
    RegKey named = *key;
    named.name = tree.name;
    EXPECT_EQ(Text(named), Text(tree));
}

TEST_F(RegFileRoundTrip, DataThatNoQuotedStringHoldsSurvivesAsHex) {
    RegKey top;
    top.name = u"QzRoundTrip";
    // (String data without its terminator, or of an odd size, is written as hex
    // too, but Wine's importer does not give it back as written: like Windows'
    // RegSetValueExW it adds a terminator the data lacks. Our own reader keeps it.)
    top.SetValue(Value(u"inner nul", REG_SZ, Utf16Data(std::u16string(u"a\0b", 3))));
    top.SetValue(Value(u"line breaks", REG_SZ, Utf16Data(u"one\r\ntwo\n")));
    top.SetValue(Value(u"no data", REG_SZ, Bytes({})));
    top.SetValue(Value(u"short dword", REG_DWORD, Bytes({1, 2})));
    top.SetValue(Value(u"long dword", REG_DWORD, Bytes({1, 2, 3, 4, 5})));
    ASSERT_EQ(RegImport(Written(top)), 0);
    EXPECT_EQ(Text(ReadTree(HKEY_CURRENT_USER, kTopRelative, top.name)), Text(top));
}

TEST_F(RegFileRoundTrip, Regedit4FilesMeanTheSameToOurReaderAndToWine) {
    // ANSI text in Windows-1252; hex(2) and hex(7) data are narrow strings in this form.
    const std::string regedit4 =
        "REGEDIT4\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Software\\QzRoundTrip]\r\n"
        "@=\"caf\xE9 \x80\"\r\n"
        "\"path\"=\"C:\\\\dir\\\\\"\r\n"
        "\"n\"=dword:0000ffff\r\n"
        "\"expand\"=hex(2):25,54,45,4d,50,25,00\r\n"
        "\"multi\"=hex(7):61,00,e9,00,00\r\n"
        "\"bin\"=hex:01,02,\\\r\n"
        "  03,04\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Software\\QzRoundTrip\\Sub]\r\n"
        "\"gone\"=\"x\"\r\n"
        "\"gone\"=-\r\n"
        "[HKEY_CURRENT_USER\\Software\\QzRoundTrip\\Removed]\r\n"
        "[-HKEY_CURRENT_USER\\Software\\QzRoundTrip\\Removed]\r\n";
    ASSERT_EQ(RegImport(regedit4), 0);
    const RegKey wine = ReadTree(HKEY_CURRENT_USER, kTopRelative, u"QzRoundTrip");

    MemoryRegistry ours;
    std::string error;
    ASSERT_TRUE(ImportRegText(DecodeRegFileBytes(regedit4), ours, error)) << error;
    ASSERT_NE(ours.FindKey(kTop), nullptr);
    RegKey named = *ours.FindKey(kTop);
    named.name = u"QzRoundTrip";
    EXPECT_EQ(Text(named), Text(wine));
    ASSERT_NE(wine.FindValue(u"multi"), nullptr);
    EXPECT_EQ(wine.FindValue(u"multi")->data, Utf16Data(std::u16string(u"a\0\u00E9\0", 4)));
}

}  // namespace
}  // namespace qz
