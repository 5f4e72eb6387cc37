// The .reg reader and writer: every value type and its spelling, escapes,
// continuation lines, deletions, REGEDIT4, malformed files refused with their
// line and without effect, and a writer whose output reads back to the same data.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/code_page.h"
#include "registry/memory/memory_registry.h"
#include "registry/reg_file/reg_file.h"
#include "text/utf16_data.h"
#include "tests/support/narrow_registry.h"

namespace qz {
namespace {

std::vector<BYTE> Bytes(std::initializer_list<int> values) {
    std::vector<BYTE> bytes;
    for (int v : values) bytes.push_back(static_cast<BYTE>(v));
    return bytes;
}

std::string Import(const std::string& utf8Text, MemoryRegistry& registry) {
    std::string error;
    if (!ImportRegText(Utf8ToUtf16(utf8Text), registry, error)) return error;
    return {};
}

struct ValueCase {
    const char* what;
    const char* line;  // below [HKEY_CURRENT_USER\T] of a 5.00 file
    const char16_t* name;
    DWORD type;
    std::vector<BYTE> data;
};

TEST(RegFileReader, ReadsEveryValueTypeAndSpelling) {
    const ValueCase cases[] = {
        {"string", R"("s"="abc")", u"s", REG_SZ, Utf16Data(u"abc")},
        {"escapes", R"("s"="C:\\dir\\ \"q\"")", u"s", REG_SZ, Utf16Data(u"C:\\dir\\ \"q\"")},
        {"line break escapes", R"("s"="a\nb\r")", u"s", REG_SZ, Utf16Data(u"a\nb\r")},
        {"empty string", R"("s"="")", u"s", REG_SZ, Utf16Data(u"")},
        {"non-ASCII", "\"s\"=\"Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC\"", u"s", REG_SZ, Utf16Data(u"Gr\u00FC\u00DF \u20AC")},
        {"default value", R"(@="d")", u"", REG_SZ, Utf16Data(u"d")},
        {"escaped name", R"("a\"b\\c"="x")", u"a\"b\\c", REG_SZ, Utf16Data(u"x")},
        {"blanks around =", "\"s\"  =\t\"x\"", u"s", REG_SZ, Utf16Data(u"x")},
        {"comment after data", R"("s"="x" ; note)", u"s", REG_SZ, Utf16Data(u"x")},
        {"dword", R"("d"=dword:0000002a)", u"d", REG_DWORD, Bytes({0x2a, 0, 0, 0})},
        {"dword, short and upper case", R"("d"=DWORD:FfFf)", u"d", REG_DWORD, Bytes({0xff, 0xff, 0, 0})},
        {"dword, largest", R"("d"=dword:ffffffff)", u"d", REG_DWORD, Bytes({0xff, 0xff, 0xff, 0xff})},
        {"binary", R"("b"=hex:00,ff,1,A0)", u"b", REG_BINARY, Bytes({0x00, 0xff, 0x01, 0xa0})},
        {"binary with blanks", R"("b"=hex: 01 , 02,03 )", u"b", REG_BINARY, Bytes({1, 2, 3})},
        {"empty binary", R"("b"=hex:)", u"b", REG_BINARY, Bytes({})},
        {"none", R"("n"=hex(0):)", u"n", REG_NONE, Bytes({})},
        {"sz as hex", R"("s"=hex(1):41,00,00,00)", u"s", REG_SZ, Bytes({0x41, 0, 0, 0})},
        {"expand sz", R"("e"=hex(2):25,00,41,00,25,00,00,00)", u"e", REG_EXPAND_SZ, Utf16Data(u"%A%")},
        {"big endian", R"("x"=hex(5):12,34,56,78)", u"x", REG_DWORD_BIG_ENDIAN, Bytes({0x12, 0x34, 0x56, 0x78})},
        {"multi sz", R"("m"=hex(7):61,00,00,00,62,00,00,00,00,00)", u"m", REG_MULTI_SZ,
         Utf16Data(std::u16string(u"a\0b\0", 4))},
        {"resource list", R"("r"=hex(8):01)", u"r", REG_RESOURCE_LIST, Bytes({1})},
        {"qword", R"("q"=hex(b):01,02,03,04,05,06,07,08)", u"q", REG_QWORD, Bytes({1, 2, 3, 4, 5, 6, 7, 8})},
        {"private type", R"("p"=hex(1234abcd):09)", u"p", 0x1234abcd, Bytes({9})},
        {"continued hex", "\"b\"=hex:01,02,\\\n  03,\\\n  04", u"b", REG_BINARY, Bytes({1, 2, 3, 4})},
        {"continued hex, CRLF", "\"b\"=hex:01,\\\r\n  02\r", u"b", REG_BINARY, Bytes({1, 2})},
        {"continued hex, comment between", "\"b\"=hex:01,\\\n; note\n  02", u"b", REG_BINARY, Bytes({1, 2})},
    };
    for (const ValueCase& c : cases) {
        MemoryRegistry registry;
        ASSERT_EQ(Import(std::string("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\T]\n") + c.line +
                             "\n",
                         registry),
                  "")
            << c.what;
        const RegKey* key = registry.FindKey(u"HKCU\\T");
        ASSERT_NE(key, nullptr) << c.what;
        ASSERT_EQ(key->ValueCount(), 1u) << c.what;
        EXPECT_EQ(key->ValueAt(0).name, c.name) << c.what;
        EXPECT_EQ(key->ValueAt(0).type, c.type) << c.what;
        EXPECT_EQ(key->ValueAt(0).data, c.data) << c.what;
    }
}

TEST(RegFileReader, ReadsKeysCommentsAndDeletions) {
    MemoryRegistry registry;
    ASSERT_TRUE(registry.PutValue(u"HKLM\\Software\\Old\\Deep\\Deeper", RegValue{u"v", REG_SZ, Utf16Data(u"x")}));
    ASSERT_TRUE(registry.PutValue(u"HKCU\\Keep", RegValue{u"gone", REG_SZ, Utf16Data(u"x")}));
    ASSERT_EQ(Import("\n"
                     "Windows Registry Editor Version 5.00\n"
                     "; a comment\n"
                     "\n"
                     "[HKEY_LOCAL_MACHINE\\Software\\New\\Sub]   ; trailing comment\n"
                     "  \"indented\"=\"ok\"\n"
                     "[HKCR\\.ovxf]\n"
                     "[HKEY_CURRENT_USER\\Key]With]Brackets]\n"
                     "[-HKEY_LOCAL_MACHINE\\Software\\Old]\n"
                     "[-HKEY_LOCAL_MACHINE\\Software\\NeverThere]\n"
                     "[HKEY_CURRENT_USER\\Keep]\n"
                     "\"gone\"=-\n"
                     "\"never there\"=-\n",
                     registry),
              "");
    EXPECT_NE(registry.FindKey(u"HKLM\\Software\\New\\Sub"), nullptr);
    EXPECT_NE(registry.FindKey(u"HKLM\\Software\\New\\Sub")->FindValue(u"indented"), nullptr);
    EXPECT_NE(registry.FindKey(u"HKLM\\Software\\Classes\\.ovxf"), nullptr);
    EXPECT_NE(registry.FindKey(u"HKCU\\Key]With]Brackets"), nullptr);
    EXPECT_EQ(registry.FindKey(u"HKLM\\Software\\Old"), nullptr);
    ASSERT_NE(registry.FindKey(u"HKCU\\Keep"), nullptr);
    EXPECT_FALSE(registry.FindKey(u"HKCU\\Keep")->HasValues());
}

TEST(RegFileReader, ReadsRegedit4AnsiFiles) {
    // Windows-1252 text; string data written as hex is narrow in this form.
    const std::string bytes =
        "REGEDIT4\r\n\r\n"
        "[HKEY_CURRENT_USER\\Caf\xE9]\r\n"
        "@=\"\x80 5\"\r\n"
        "\"e\"=hex(2):25,41,25,00\r\n"
        "\"m\"=hex(7):61,00,e9,00,00\r\n"
        "\"b\"=hex:e9\r\n";
    MemoryRegistry registry;
    std::string error;
    ASSERT_TRUE(ImportRegText(DecodeRegFileBytes(bytes), registry, error)) << error;
    const RegKey* key = registry.FindKey(u"HKCU\\Caf\u00E9");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->FindValue(u"")->data, Utf16Data(u"\u20AC 5"));
    EXPECT_EQ(key->FindValue(u"e")->data, Utf16Data(u"%A%"));
    EXPECT_EQ(key->FindValue(u"m")->data, Utf16Data(std::u16string(u"a\0\u00E9\0", 4)));
    EXPECT_EQ(key->FindValue(u"b")->data, Bytes({0xe9}));
}

TEST(RegFileReader, DecodesUtf16AndUtf8Files) {
    const std::u16string text = u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\\u4E2D]\r\n";
    EXPECT_EQ(DecodeRegFileBytes(EncodeUtf16LeWithBom(text)), text);
    EXPECT_EQ(DecodeRegFileBytes("\xEF\xBB\xBF" + Utf16ToUtf8(text)), text);
}

struct DecodeCase {
    const char* what;
    std::string bytes;
    const char* hive;    // under RegFileRule::Hive: empty when accepted, else the start of the error
    std::u16string import;  // the text under RegFileRule::Import
};

TEST(RegFileReader, HiveFilesMustBeWhatTheFolderWritesImportsAreReadAsRegeditReadsThem) {
    const std::u16string header = u"Windows Registry Editor Version 5.00\r\n";
    const std::u16string value = u"[HKEY_CURRENT_USER\\T]\r\n\"v\"=\"h\u00E9lp \u20AC\"\r\n";
    const std::string utf8 = Utf16ToUtf8(header + value);
    const std::string utf16 = EncodeUtf16LeWithBom(header + value);
    const DecodeCase cases[] = {
        {"UTF-16LE with a BOM", utf16, "", header + value},
        // What a text editor leaves: read as Windows-1252 it would be saved back as "hÃ©lp â‚¬".
        {"UTF-8 without a BOM", utf8, "line 1: not a hive file: it has no UTF-16LE byte order mark",
         NarrowToWide(utf8)},
        {"UTF-8 with a BOM", "\xEF\xBB\xBF" + utf8, "line 1: not a hive file: it is UTF-8 text", header + value},
        {"REGEDIT4 in Windows-1252", "REGEDIT4\r\n[HKEY_CURRENT_USER\\T]\r\n\"v\"=\"h\xE9lp \x80\"\r\n",
         "line 1: not a hive file: it is a REGEDIT4 file", u"REGEDIT4\r\n[HKEY_CURRENT_USER\\T]\r\n\"v\"=\"h\u00E9lp \u20AC\"\r\n"},
        {"REGEDIT4 in UTF-16LE", EncodeUtf16LeWithBom(u"REGEDIT4\r\n" + value),
         "line 1: not a hive file: the first line is not", u"REGEDIT4\r\n" + value},
        {"UTF-16 big-endian", std::string("\xFE\xFF\0W", 4), "line 1: not a hive file: it is UTF-16 big-endian",
         NarrowToWide(std::string("\xFE\xFF\0W", 4))},
        {"a torn last character", utf16 + "x", "line 4: the file ends in the middle of a UTF-16 character",
         header + value},
        {"empty", "", "line 1: not a hive file: the file is empty", u""},
    };
    for (const DecodeCase& c : cases) {
        std::u16string text = u"left over";
        std::string error;
        const bool accepted = DecodeRegFileBytes(c.bytes, RegFileRule::Hive, text, error);
        if (*c.hive == '\0') {
            EXPECT_TRUE(accepted) << c.what << ": " << error;
            EXPECT_EQ(text, c.import) << c.what;
        } else {
            EXPECT_FALSE(accepted) << c.what;
            EXPECT_EQ(error.rfind(c.hive, 0), 0u) << c.what << ": " << error;
            EXPECT_TRUE(text.empty()) << c.what;
        }
        EXPECT_TRUE(DecodeRegFileBytes(c.bytes, RegFileRule::Import, text, error)) << c.what;
        EXPECT_EQ(Utf16ToUtf8(text), Utf16ToUtf8(c.import)) << c.what;
        EXPECT_EQ(DecodeRegFileBytes(c.bytes), c.import) << c.what;
    }
}

// Files are decoded a block at a time: wherever the blocks split a character,
// the text is the one the whole file gives.
TEST(RegFileReader, DecodesFilesFedInBlocksSplitAnywhere) {
    const std::u16string text = u"Windows Registry Editor Version 5.00\r\n[HKCU\\\u00E9\u4E2D\U0001F600]\r\n@=\"x\"";
    struct Case {
        const char* what;
        std::string bytes;
        std::u16string expected;
    };
    const Case cases[] = {
        {"UTF-16LE", EncodeUtf16LeWithBom(text), text},
        {"UTF-16LE with a lone last byte", EncodeUtf16LeWithBom(u"ab") + "c", u"ab"},
        {"UTF-8", "\xEF\xBB\xBF" + Utf16ToUtf8(text), text},
        {"UTF-8 cut short at the end", "\xEF\xBB\xBF" "a\xE4\xB8", u"a\uFFFD"},
        {"UTF-8 cut short before more text", "\xEF\xBB\xBF" "a\xE4\xB8z", u"a\uFFFDz"},
        {"Windows-1252", "REGEDIT4\r\n\xE9\x80", u"REGEDIT4\r\n\u00E9\u20AC"},
        {"one byte", "\xFF", u"\u00FF"},
        {"only a UTF-16 mark", "\xFF\xFE", u""},
        {"empty", "", u""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DecodeRegFileBytes(c.bytes), c.expected) << c.what;
        for (std::size_t blockSize = 1; blockSize <= 5; ++blockSize) {
            for (std::size_t first = 0; first <= c.bytes.size(); ++first) {
                // A first block of any length, then blocks of one size.
                RegFileDecoder decoder;
                std::u16string decoded;
                std::string error;
                decoder.Feed(std::string_view(c.bytes).substr(0, first), decoded);
                for (std::size_t at = first; at < c.bytes.size(); at += blockSize)
                    decoder.Feed(std::string_view(c.bytes).substr(at, blockSize), decoded);
                ASSERT_TRUE(decoder.Finish(decoded, error)) << c.what;
                ASSERT_EQ(decoded, c.expected) << c.what << ", first block " << first << ", then " << blockSize;
            }
        }
    }
}

// A text that comes in pieces reads as the whole text does, wherever the pieces
// end (within a line, between CR and LF, at the end of the last line), and
// errors name the same line.
TEST(RegFileReader, ReadsTextGivenInPiecesAsTheWholeText) {
    const std::u16string texts[] = {
        u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n\"v\"=hex:01,\\\r\n  02\r\n"
        u"@=\"x\"\r\n\r\n[-HKEY_CURRENT_USER\\B]\r\n\r\n[HKEY_CURRENT_USER\\C]\r\n\"last\"=dword:00000002",
        u"REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"v\"=\"y\"\n\n\n",
        u"REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"v\"=hex:01,\\\n",
        u"REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"v\"=dword:zz\n[HKEY_CURRENT_USER\\B]\n",
        u"\r\n\n",
        u"",
    };
    const auto describe = [](RegFileEntry& entry, std::vector<std::string>& seen) {
        seen.push_back(std::to_string(static_cast<int>(entry.kind)) + " " + Utf16ToUtf8(entry.keyPath()) + " " +
                       Utf16ToUtf8(entry.value.name) + " " + std::to_string(entry.value.data.size()) + " line " +
                       std::to_string(entry.line));
    };
    for (const std::u16string& text : texts) {
        std::vector<std::string> whole;
        std::string wholeError;
        const bool wholeParsed = VisitRegText(
            text,
            [&](RegFileEntry& entry, std::string&) {
                describe(entry, whole);
                return true;
            },
            wholeError);
        for (std::size_t pieceSize = 1; pieceSize <= text.size() + 1; pieceSize += (pieceSize < 8 ? 1 : 13)) {
            std::size_t at = 0;
            const RegTextSource source = [&](std::u16string& out) {
                if (at >= text.size()) return false;
                out += text.substr(at, pieceSize);
                at += pieceSize;
                return true;
            };
            std::vector<std::string> pieces;
            std::string error;
            const bool parsed = VisitRegText(
                source,
                [&](RegFileEntry& entry, std::string&) {
                    describe(entry, pieces);
                    return true;
                },
                error);
            EXPECT_EQ(parsed, wholeParsed) << Utf16ToUtf8(text) << " in pieces of " << pieceSize;
            EXPECT_EQ(error, wholeError) << Utf16ToUtf8(text) << " in pieces of " << pieceSize;
            EXPECT_EQ(pieces, whole) << Utf16ToUtf8(text) << " in pieces of " << pieceSize;
        }
    }
}

// Hive files are judged a block at a time as they are whole: the same verdict
// and the same error wherever the blocks split the bytes.
TEST(RegFileReader, HiveFilesFedInBlocksAreJudgedAsWholeFiles) {
    const std::u16string good = u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\T]\r\n";
    const std::string cases[] = {
        EncodeUtf16LeWithBom(good),
        EncodeUtf16LeWithBom(good) + "x",
        EncodeUtf16LeWithBom(u"REGEDIT4\r\n[HKEY_CURRENT_USER\\T]\r\n"),
        EncodeUtf16LeWithBom(u"Windows Registry Editor Version 5.00"),
        EncodeUtf16LeWithBom(u"Windows Registry Editor Version 5.000\r\n"),
        "\xEF\xBB\xBF" + Utf16ToUtf8(good),
        "REGEDIT4\r\n",
        "REGEDIT",
        std::string("\xFE\xFF\0W", 4),
        "\xFF",
        "",
    };
    for (const std::string& bytes : cases) {
        std::u16string wholeText;
        std::string wholeError;
        const bool whole = DecodeRegFileBytes(bytes, RegFileRule::Hive, wholeText, wholeError);
        for (std::size_t blockSize = 1; blockSize <= 9; blockSize += 4) {
            RegFileDecoder decoder(RegFileRule::Hive);
            std::u16string text;
            std::string error;
            for (std::size_t at = 0; at < bytes.size(); at += blockSize)
                decoder.Feed(std::string_view(bytes).substr(at, blockSize), text);
            const bool accepted = decoder.Finish(text, error);
            EXPECT_EQ(accepted, whole) << wholeError;
            EXPECT_EQ(error, wholeError);
            if (accepted) {
                EXPECT_EQ(text, wholeText);
            }
        }
    }
}

// A key path this many levels below its root.
std::string Nested(const char* root, std::size_t levels) {
    std::string path = root;
    for (std::size_t i = 0; i < levels; ++i) path += "\\k";
    return path;
}

struct DepthCase {
    const char* what;
    std::string section;  // the line after the header
    const char* refusal;  // empty when accepted
};

TEST(RegFileReader, RefusesKeysNestedDeeperThanWindowsAllows) {
    const DepthCase cases[] = {
        {"512 levels", "[" + Nested("HKEY_CURRENT_USER", 512) + "]", ""},
        {"513 levels", "[" + Nested("HKEY_CURRENT_USER", 513) + "]", "line 3: the key is nested 513 levels deep"},
        {"classes root, 510 levels (512 in the machine hive)", "[" + Nested("HKEY_CLASSES_ROOT", 510) + "]", ""},
        {"classes root, 511 levels", "[" + Nested("HKCR", 511) + "]", "line 3: the key is nested 513 levels deep"},
        {"a removal", "[-" + Nested("HKEY_LOCAL_MACHINE", 600) + "]", "line 3: the key is nested 600 levels deep"},
        {"a million levels in 2 MB", "[" + Nested("HKCU", 1000000) + "]",
         "line 3: the key is nested 1000000 levels deep"},
    };
    for (const DepthCase& c : cases) {
        std::vector<RegFileEntry> entries;
        std::string error;
        const bool parsed =
            ParseRegText(Utf8ToUtf16("Windows Registry Editor Version 5.00\r\n\r\n" + c.section + "\r\n"), entries, error);
        if (*c.refusal == '\0') {
            EXPECT_TRUE(parsed) << c.what << ": " << error;
            EXPECT_EQ(entries.size(), 1u) << c.what;
        } else {
            EXPECT_FALSE(parsed) << c.what;
            EXPECT_EQ(error.rfind(c.refusal, 0), 0u) << c.what << ": " << error.substr(0, 200);
        }
    }
}

struct NameLengthCase {
    const char* what;
    std::string section;  // the lines after the header
    const char* refusal;  // how the message starts; empty when accepted
    const char* says;     // what else it says
};

// Names a registry call would refuse: no registry could hold, open or remove
// such a key or value, so a file that has one is refused whole.
TEST(RegFileReader, RefusesNamesLongerThanARegistryTakes) {
    const std::string longestKey(256, 'k');
    const std::string longestValue(16383, 'v');
    const NameLengthCase cases[] = {
        {"a key name of 256", "[HKEY_CURRENT_USER\\A\\" + longestKey + "]", "", ""},
        {"a key name of 257", "[HKEY_CURRENT_USER\\A\\" + longestKey + "k]", "line 3: the key name \"kkk",
         "\" has 257 characters; a key name holds at most 256"},
        {"a long name above a short one", "[HKEY_LOCAL_MACHINE\\Software\\" + longestKey + "kk\\short]",
         "line 3: the key name \"kkk", "has 258 characters"},
        {"a removal", "[-HKEY_CURRENT_USER\\" + longestKey + "k]", "line 3: the key name \"kkk", "has 257"},
        {"a value name of 16383", "[HKEY_CURRENT_USER\\A]\r\n\"" + longestValue + "\"=\"x\"", "", ""},
        {"a value name of 16384", "[HKEY_CURRENT_USER\\A]\r\n\"" + longestValue + "v\"=\"x\"",
         "line 4: the value name \"vvv", "\" has 16384 characters; a value name holds at most 16383"},
    };
    for (const NameLengthCase& c : cases) {
        MemoryRegistry registry;
        std::string error;
        const bool imported = ImportRegText(
            Utf8ToUtf16("Windows Registry Editor Version 5.00\r\n\r\n" + c.section + "\r\n"), registry, error);
        if (*c.refusal == '\0') {
            EXPECT_TRUE(imported) << c.what << ": " << error;
            EXPECT_NE(registry.FindKey(u"HKCU\\A"), nullptr) << c.what;
        } else {
            EXPECT_FALSE(imported) << c.what;
            EXPECT_EQ(error.rfind(c.refusal, 0), 0u) << c.what << ": " << error.substr(0, 300);
            EXPECT_NE(error.find(c.says), std::string::npos) << c.what << ": " << error.substr(0, 300);
            EXPECT_EQ(registry.FindKey(u"HKCU\\A"), nullptr) << c.what;
        }
    }
}

struct MalformedCase {
    const char* what;
    const char* text;
    int line;
    const char* says;
};

TEST(RegFileReader, RefusesMalformedFilesNamingTheLineAndAppliesNothing) {
    const MalformedCase cases[] = {
        {"empty file", "", 1, "empty"},
        {"blank file", "\n  \n", 2, "empty"},
        {"no header", "[HKEY_CURRENT_USER\\T]\n", 1, "first line"},
        {"unknown header", "REGEDIT5\n", 1, "first line"},
        {"unclosed key", "REGEDIT4\n[HKEY_CURRENT_USER\\T\n", 2, "closing ]"},
        {"unknown root", "REGEDIT4\n\n[HKEY_NOWHERE\\T]\n", 3, "bad key name"},
        {"empty key part", "REGEDIT4\n[HKEY_CURRENT_USER\\A\\\\B]\n", 2, "bad key name"},
        {"text after key", "REGEDIT4\n[HKEY_CURRENT_USER\\A] x\n", 2, "after the key name"},
        {"value outside a key", "REGEDIT4\n\"v\"=\"x\"\n", 2, "outside of any key"},
        {"value after a removal", "REGEDIT4\n[-HKEY_CURRENT_USER\\A]\n\"v\"=\"x\"\n", 3, "outside of any key"},
        {"stray text", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\nv=x\n", 3, "expected [key]"},
        {"unterminated name", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"v\n", 3, "closing \""},
        {"missing =", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"v\" \"x\"\n", 3, "expected ="},
        {"unterminated string", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"v\"=\"x\n", 3, "closing \""},
        {"unknown escape", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"v\"=\"a\\qb\"\n", 3, "unknown escape"},
        {"text after string", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"v\"=\"x\" y\n", 3, "after the closing"},
        {"unknown type", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"v\"=text\n", 3, "unknown data type"},
        {"empty dword", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"v\"=dword:\n", 3, "without a hexadecimal"},
        {"long dword", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"v\"=dword:123456789\n", 3, "at most 8"},
        {"bad dword", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"v\"=dword:12x\n", 3, "after the dword"},
        {"bad hex byte", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"v\"=hex:01,0g\n", 3, "expected ,"},
        {"three-digit byte", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"v\"=hex:123\n", 3, "at most two"},
        {"missing comma", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"v\"=hex:01 02\n", 3, "expected ,"},
        {"dangling comma", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"v\"=hex:01,\n", 3, "ends with a comma"},
        {"bad hex type", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"v\"=hex(zz):00\n", 3, "hex(N)"},
        {"continued past the end", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"v\"=hex:01,\\\n", 3, "last line"},
        {"continued into a blank line", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"v\"=hex:01,\\\n\n\"w\"=\"x\"\n", 4,
         "next line is empty"},
        {"bad continuation", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"v\"=hex:01,\\\n[HKEY_CURRENT_USER\\B]\n", 4,
         "bad hex byte"},
        {"text after =-", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"v\"=-x\n", 3, "after =-"},
    };
    for (const MalformedCase& c : cases) {
        MemoryRegistry registry;
        // Good entries before the bad line are not applied either.
        const std::string text = c.text;
        std::string error;
        std::vector<RegFileEntry> entries;
        EXPECT_FALSE(ParseRegText(Utf8ToUtf16(text), entries, error)) << c.what;
        EXPECT_TRUE(entries.empty()) << c.what;
        EXPECT_EQ(error.rfind("line " + std::to_string(c.line) + ": ", 0), 0u) << c.what << ": " << error;
        EXPECT_NE(error.find(c.says), std::string::npos) << c.what << ": " << error;
        EXPECT_FALSE(ImportRegText(Utf8ToUtf16(text), registry, error)) << c.what;
        EXPECT_EQ(registry.FindKey(u"HKCU\\A"), nullptr) << c.what;
    }
}

// Entries reach a visitor one by one as they are read; one it refuses stops the
// reading there and names the line the entry starts on.
TEST(RegFileReader, AVisitorSeesEntriesInOrderAndCanStopAtOne) {
    const std::u16string text =
        u"Windows Registry Editor Version 5.00\r\n\r\n"
        u"[HKEY_CURRENT_USER\\A]\r\n"
        u"\"first\"=dword:00000001\r\n"
        u"\"refused\"=hex:01,02,\\\r\n"
        u"  03\r\n"
        u"\"never seen\"=\"x\"\r\n";
    std::vector<std::string> seen;
    std::string error;
    const bool parsed = VisitRegText(
        text,
        [&seen](RegFileEntry& entry, std::string& message) {
            seen.push_back(Utf16ToUtf8(entry.kind == RegFileEntry::Kind::Key ? entry.keyPath() : entry.value.name));
            if (entry.value.name != u"refused") return true;
            message = "not wanted";
            return false;
        },
        error);
    EXPECT_FALSE(parsed);
    EXPECT_EQ(error, "line 5: not wanted");
    EXPECT_EQ(seen, (std::vector<std::string>{"HKEY_CURRENT_USER\\A", "first", "refused"}));

    // A malformed text after accepted entries fails with its own line.
    seen.clear();
    EXPECT_FALSE(VisitRegText(text.substr(0, text.find(u"\"refused")) + u"junk\r\n",
                              [&seen](RegFileEntry&, std::string&) {
                                  seen.push_back("entry");
                                  return true;
                              },
                              error));
    EXPECT_EQ(error.rfind("line 5: ", 0), 0u) << error;
    EXPECT_EQ(seen.size(), 2u);
}

TEST(RegFileWriter, WritesWhatItReadsBackByteForByte) {
    RegKey top;
    top.name = u"T";
    top.SetValue(RegValue{u"", REG_SZ, Utf16Data(u"default")});
    top.SetValue(RegValue{u"escapes \"\\", REG_SZ, Utf16Data(u"\\\\server\\\"share\"")});
    top.SetValue(RegValue{u"no terminator", REG_SZ, Utf16Data(u"abc", false)});
    top.SetValue(RegValue{u"odd size", REG_SZ, Bytes({0x41, 0x00, 0x42})});
    top.SetValue(RegValue{u"inner nul", REG_SZ, Utf16Data(std::u16string(u"a\0b", 3))});
    top.SetValue(RegValue{u"line breaks", REG_SZ, Utf16Data(u"one\r\ntwo")});
    top.SetValue(RegValue{u"no data", REG_SZ, Bytes({})});
    top.SetValue(RegValue{u"dword", REG_DWORD, Bytes({1, 0, 0, 0x80})});
    top.SetValue(RegValue{u"short dword", REG_DWORD, Bytes({1, 2})});
    top.SetValue(RegValue{u"multi", REG_MULTI_SZ, Utf16Data(std::u16string(u"x\0y\0", 4))});
    top.SetValue(RegValue{u"qword", REG_QWORD, Bytes({1, 2, 3, 4, 5, 6, 7, 8})});
    top.SetValue(RegValue{u"\u4E2D", 0xABCDEF, Bytes({0xff})});
    RegKey sub;
    sub.name = u"Sub \u00E9";
    top.AddSubkey(sub);

    std::u16string text = RegFileHeader();
    AppendRegKey(text, u"HKEY_CURRENT_USER\\T", top);
    MemoryRegistry registry;
    std::string error;
    ASSERT_TRUE(ImportRegText(DecodeRegFileBytes(EncodeUtf16LeWithBom(text)), registry, error)) << error;
    ASSERT_NE(registry.FindKey(u"HKCU\\T"), nullptr);
    EXPECT_TRUE(SameContent(*registry.FindKey(u"HKCU\\T"), top)) << Utf16ToUtf8(text);
}

TEST(RegFileWriter, LaysValuesOutAsRegExportDoes) {
    RegValue binary{u"v", REG_BINARY, {}};
    for (int i = 0; i < 30; ++i) binary.data.push_back(static_cast<BYTE>(i));
    // The first line breaks after the 23rd byte (77 characters), later ones after 25.
    EXPECT_EQ(Utf16ToUtf8(FormatRegValue(binary, u"\n")),
              "\"v\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\n"
              "  17,18,19,1a,1b,1c,1d");
    EXPECT_EQ(Utf16ToUtf8(FormatRegValue(RegValue{u"", REG_DWORD, Bytes({0xef, 0xbe, 0xad, 0xde})})),
              "@=dword:deadbeef");
    EXPECT_EQ(Utf16ToUtf8(FormatRegValue(RegValue{u"e", REG_EXPAND_SZ, Utf16Data(u"%A%")})),
              "\"e\"=hex(2):25,00,41,00,25,00,00,00");
    EXPECT_EQ(Utf16ToUtf8(FormatRegValue(RegValue{u"q", REG_QWORD, Bytes({1})})), "\"q\"=hex(b):01");
    EXPECT_EQ(Utf16ToUtf8(FormatRegValue(RegValue{u"n", REG_NONE, {}})), "\"n\"=hex(0):");
    // The escapes of a name and the digits of a type count towards the first line's length.
    RegValue escaped{u"a\"b", 0x12345, {}};
    for (int i = 0; i < 24; ++i) escaped.data.push_back(static_cast<BYTE>(i));
    EXPECT_EQ(Utf16ToUtf8(FormatRegValue(escaped, u"\n")),
              "\"a\\\"b\"=hex(12345):00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,\\\n"
              "  14,15,16,17");
}


struct EscapeCase {
    const char* what;
    RegValue value;
    const char* line;  // as reg export writes it
};

TEST(RegFileWriter, EscapesWhatTheReaderUnescapesAsRegExportDoes) {
    const EscapeCase cases[] = {
        {"line feed in a name", RegValue{u"a\nb", REG_SZ, Utf16Data(u"x")}, R"("a\nb"="x")"},
        {"carriage return in a name", RegValue{u"c\rd", REG_SZ, Utf16Data(u"plain")}, R"("c\rd"="plain")"},
        {"quote and backslash in a name", RegValue{u"q\"\\", REG_SZ, Utf16Data(u"v")}, R"("q\"\\"="v")"},
        {"line breaks in a string", RegValue{u"s", REG_SZ, Utf16Data(u"x\ny\rz")}, R"("s"="x\ny\rz")"},
        {"line break in the name of binary data", RegValue{u"b\n", REG_BINARY, Bytes({1})}, R"("b\n"=hex:01)"},
        {"line break in the name of a dword", RegValue{u"\r\n", REG_DWORD, Bytes({1, 0, 0, 0})},
         R"("\r\n"=dword:00000001)"},
    };
    for (const EscapeCase& c : cases) {
        EXPECT_EQ(Utf16ToUtf8(FormatRegValue(c.value)), c.line) << c.what;
        MemoryRegistry registry;
        ASSERT_EQ(Import(std::string("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\T]\r\n") +
                             c.line + "\r\n",
                         registry),
                  "")
            << c.what;
        const RegKey* key = registry.FindKey(u"HKCU\\T");
        ASSERT_NE(key, nullptr) << c.what;
        ASSERT_EQ(key->ValueCount(), 1u) << c.what;
        EXPECT_EQ(key->ValueAt(0), c.value) << c.what;
    }
}

// Found by fuzzing: a value name holding a line feed was read, then written
// unescaped, and the saved hive no longer parsed.
TEST(RegFileWriter, AHiveWithLineBreaksInNamesAndDataReadsBackAsItWasWritten) {
    const std::string file =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_CURRENT_USER\\T]\r\n"
        "\"\\n\"=hex:01\r\n"
        "\"two\\nlines\"=\"a\\r\\nb\"\r\n"
        "\r\n";
    MemoryRegistry first;
    ASSERT_EQ(Import(file, first), "");
    RegWriteOptions options;
    options.skipEmptyTop = true;
    std::u16string written = RegFileHeader(options);
    std::string error;
    ASSERT_TRUE(AppendReadableRegKey(written, u"HKEY_CURRENT_USER", first.Hive(RegRoot::CurrentUser), options, error))
        << error;
    EXPECT_EQ(Utf16ToUtf8(written), file);
    std::u16string text;
    ASSERT_TRUE(DecodeRegFileBytes(EncodeUtf16LeWithBom(written), RegFileRule::Hive, text, error)) << error;
    MemoryRegistry second;
    ASSERT_TRUE(ImportRegText(text, second, error)) << error;
    EXPECT_TRUE(SameContent(second.Hive(RegRoot::CurrentUser), first.Hive(RegRoot::CurrentUser)));
}

TEST(RegFileWriter, RefusesToWriteForReadingWhatWouldNotReadBack) {
    struct Case {
        const char* what;
        std::u16string key;   // created in the registry
        const char* refusal;  // empty when the hive is written
    };
    const Case cases[] = {
        {"512 levels", Utf8ToUtf16(Nested("HKEY_CURRENT_USER", 512)), ""},
        {"513 levels", Utf8ToUtf16(Nested("HKEY_CURRENT_USER", 513)), "is nested 513 levels deep"},
        {"a line feed in a key name", u"HKEY_CURRENT_USER\\Software\\a\nb", "has a line break in its name"},
        {"a carriage return in a key name", u"HKEY_CURRENT_USER\\Software\\a\rb", ""},
    };
    for (const Case& c : cases) {
        MemoryRegistry registry;
        ASSERT_TRUE(registry.EnsureKey(c.key)) << c.what;
        ASSERT_TRUE(registry.PutValue(u"HKCU\\Before", RegValue{u"v", REG_SZ, Utf16Data(u"x")})) << c.what;
        std::u16string text = u"kept";
        std::string error;
        const bool written =
            AppendReadableRegKey(text, u"HKEY_CURRENT_USER", registry.Hive(RegRoot::CurrentUser), {}, error);
        if (*c.refusal == '\0') {
            ASSERT_TRUE(written) << c.what << ": " << error;
            MemoryRegistry readBack;
            ASSERT_TRUE(ImportRegText(RegFileHeader() + text.substr(4), readBack, error)) << c.what << ": " << error;
            EXPECT_TRUE(SameContent(readBack.Hive(RegRoot::CurrentUser), registry.Hive(RegRoot::CurrentUser)))
                << c.what;
        } else {
            EXPECT_FALSE(written) << c.what;
            EXPECT_NE(error.find(c.refusal), std::string::npos) << c.what << ": " << error.substr(0, 300);
            EXPECT_EQ(text, u"kept") << c.what;
        }
    }
}

// The hive files are written straight into a buffer: the same bytes as the text
// AppendRegKey gives, encoded, for every choice of options.
TEST(RegFileWriter, AnEncodedFileIsTheWrittenTextInUtf16Le) {
    MemoryRegistry registry;
    ASSERT_TRUE(registry.PutValue(u"HKCU\\A\\B", RegValue{u"", REG_SZ, Utf16Data(u"default")}));
    ASSERT_TRUE(registry.PutValue(u"HKCU\\A\\B", RegValue{u"q\"uote", REG_SZ, Utf16Data(u"C:\\x\"y\"")}));
    ASSERT_TRUE(registry.PutValue(u"HKCU\\A\\B\\C", RegValue{u"bin", REG_BINARY, Bytes({1, 2, 3})}));
    ASSERT_TRUE(registry.PutValue(u"HKCU\\A\\D", RegValue{u"\u00E9t\u00E9", REG_DWORD, Bytes({1, 0, 0, 0})}));
    ASSERT_TRUE(
        registry.PutValue(u"HKCU\\Top value", RegValue{u"x", REG_MULTI_SZ, Utf16Data(std::u16string(u"a\0b\0", 4))}));
    HKEY key = nullptr;
    ASSERT_EQ(NarrowRegistry(registry).CreateKeyEx(HKEY_CURRENT_USER, "A\\Fleeting\\Inner", REG_OPTION_VOLATILE,
                                                   KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    registry.CloseKey(key);
    const RegKey& hive = registry.Hive(RegRoot::CurrentUser);
    for (const char16_t* newline : {u"\r\n", u"\n"}) {
        for (bool skipVolatile : {false, true}) {
            for (bool skipEmptyTop : {false, true}) {
                RegWriteOptions options;
                options.newline = newline;
                options.skipVolatile = skipVolatile;
                options.skipEmptyTop = skipEmptyTop;
                std::u16string text = RegFileHeader(options);
                AppendRegKey(text, u"HKEY_CURRENT_USER", hive, options);
                EXPECT_EQ(EncodeRegFile(u"HKEY_CURRENT_USER", hive, options), EncodeUtf16LeWithBom(text))
                    << Utf16ToUtf8(text);
                EXPECT_EQ(text.find(u"Fleeting") == std::u16string::npos, skipVolatile) << Utf16ToUtf8(text);
            }
        }
    }
}

TEST(RegFileWriter, CanLeaveOutVolatileKeysAndAnEmptyTop) {
    MemoryRegistry registry;
    ASSERT_TRUE(registry.PutValue(u"HKCU\\Lasting", RegValue{u"v", REG_SZ, Utf16Data(u"x")}));
    HKEY key = nullptr;
    ASSERT_EQ(NarrowRegistry(registry).CreateKeyEx(HKEY_CURRENT_USER, "Fleeting\\Inner", REG_OPTION_VOLATILE,
                                                   KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    registry.CloseKey(key);
    RegWriteOptions options;
    options.newline = u"\n";
    options.skipVolatile = true;
    options.skipEmptyTop = true;
    std::u16string text;
    AppendRegKey(text, u"HKEY_CURRENT_USER", registry.Hive(RegRoot::CurrentUser), options);
    EXPECT_EQ(Utf16ToUtf8(text), "[HKEY_CURRENT_USER\\Lasting]\n\"v\"=\"x\"\n\n");
}

}  // namespace
}  // namespace qz
