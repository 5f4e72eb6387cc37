// Typed registry data read as values: as far as the data's size says and no
// further, whatever the data holds.
#include <gtest/gtest.h>

#include <optional>

#include "registry/changes/registry_data.h"

namespace qz {
namespace {

using Data = std::vector<BYTE>;

struct StringCase {
    const char* what;
    Data data;
    std::u16string text;                  // StringOfData
    std::u16string whole;                 // WholeStringOfData
    std::vector<std::u16string> strings;  // MultiStringOfData
};

TEST(RegistryData, ReadsStringsAsFarAsTheDataGoes) {
    const StringCase cases[] = {
        {"terminated", Data{'A', 0, 'B', 0, 0, 0}, u"AB", u"AB", {u"AB"}},
        {"no terminating NUL", Data{'A', 0, 'B', 0}, u"AB", u"AB", {u"AB"}},
        {"an odd last byte", Data{'A', 0, 'B'}, u"A", u"A", {u"A"}},
        {"empty", Data{}, u"", u"", {}},
        {"only NULs", Data{0, 0, 0, 0}, u"", u"", {}},
        {"text after a NUL", Data{'A', 0, 0, 0, 'B', 0, 0, 0}, u"A", std::u16string(u"A\0B", 3), {u"A", u"B"}},
        {"a multi-string", Data{'A', 0, 0, 0, 'B', 0, 'C', 0, 0, 0, 0, 0}, u"A", std::u16string(u"A\0BC", 4),
         {u"A", u"BC"}},
        {"an empty string ends the list", Data{'A', 0, 0, 0, 0, 0, 'B', 0, 0, 0}, u"A",
         std::u16string(u"A\0\0B", 4), {u"A"}},
        {"a code unit above ASCII", Data{0xAC, 0x20, 0, 0}, u"\u20AC", u"\u20AC", {u"\u20AC"}},
    };
    for (const StringCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(StringOfData(c.data), c.text);
        EXPECT_EQ(WholeStringOfData(c.data), c.whole);
        EXPECT_EQ(MultiStringOfData(c.data), c.strings);
    }
}

TEST(RegistryData, ReadsNumbersOnlyOfTheirSize) {
    const Data four = Data{0xF7, 0xFF, 0xFF, 0xFF};
    const Data eight = Data{1, 2, 3, 4, 5, 6, 7, 0x88};
    EXPECT_EQ(DwordOfData(four), std::optional<std::uint32_t>(0xFFFFFFF7u));
    EXPECT_EQ(QwordOfData(eight), std::optional<std::uint64_t>(0x8807060504030201ull));
    EXPECT_EQ(DwordOfData(Data{1, 2}), std::nullopt);
    EXPECT_EQ(DwordOfData(eight), std::nullopt);
    EXPECT_EQ(QwordOfData(four), std::nullopt);
    EXPECT_EQ(LittleEndianNumber(Data{1, 2}, 4), 0x0201u);
    EXPECT_EQ(LittleEndianNumber(eight, 4), 0x04030201u);
    EXPECT_EQ(LittleEndianNumber(Data{}, 8), 0u);
}

TEST(RegistryData, WritesHexAndTypeNames) {
    EXPECT_EQ(HexOfData(Data{0xDE, 0xAD, 0x00, 0x0F}, HexCase::Lower), "dead000f");
    EXPECT_EQ(HexOfData(Data{0xDE, 0xAD, 0x00, 0x0F}, HexCase::Upper), "DEAD000F");
    EXPECT_EQ(HexOfData(Data{}, HexCase::Upper), "");
    EXPECT_EQ(RegistryTypeName(REG_EXPAND_SZ), "REG_EXPAND_SZ");
    EXPECT_EQ(RegistryTypeName(REG_QWORD), "REG_QWORD");
    EXPECT_EQ(RegistryTypeName(0x1f), "0x1f");
}

}  // namespace
}  // namespace qz
