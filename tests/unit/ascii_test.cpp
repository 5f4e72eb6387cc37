// ASCII names compared without regard to case, whatever the locale, and hex
// digits read from a code unit of any width.
#include <gtest/gtest.h>

#include <string>

#include "text/ascii.h"

namespace qz {
namespace {

TEST(AsciiText, ComparesAsciiLettersOnlyWithoutRegardToCase) {
    struct Case {
        const char* a;
        const char* b;
        bool equal;
    };
    const Case cases[] = {
        {"Tessaryn", "TESSARYN", true},
        {"none", "NoNe", true},
        {"none", "none ", false},
        {"", "", true},
        {"@", "`", false},                 // the neighbours of the letters are not letters
        {"[", "{", false},
        {"\xC3\xA9", "\xC3\x89", false},  // é and É in UTF-8: only ASCII folds
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " / " + c.b);
        EXPECT_EQ(AsciiEqualIgnoringCase(c.a, c.b), c.equal);
    }
    EXPECT_TRUE(AsciiEndsWithIgnoringCase("Software\\X\\INISETTINGS", "\\IniSettings"));
    EXPECT_FALSE(AsciiEndsWithIgnoringCase("IniSettings", "\\IniSettings"));
    EXPECT_EQ(AsciiUpper(std::string("a-z\xC3\xA9")), "A-Z\xC3\xA9");
}

TEST(AsciiText, ReadsHexDigitsOfAnyCodeUnit) {
    EXPECT_EQ(HexDigitValue('0'), 0);
    EXPECT_EQ(HexDigitValue('f'), 15);
    EXPECT_EQ(HexDigitValue(u'A'), 10);
    for (char32_t c : {U'g', U'G', U'/', U':', U'@', U'`', U'\xFF10'}) EXPECT_EQ(HexDigitValue(c), -1);
    EXPECT_EQ(HexDigitValue(static_cast<char>(0xC3)), -1);  // a byte above ASCII, char signed or not
}

}  // namespace
}  // namespace qz
