// The module's message table under Wine: for every message of the catalogue
// (resources/report_messages.inc), FormatMessageW with the real DLL, the
// message's number as event id and its inserts gives exactly the text the
// "Registration Error" box shows, whatever the inserts hold: the characters
// FormatMessage and windmc treat specially, backslashes, text beyond ASCII.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "registration/report_messages.h"
#include "tests/support/event_text.h"
#include "tests/support/module_e2e.h"
#include "tests/support/windows_commands.h"

namespace qz::test {
namespace {

// The highest insertion point of a catalogue text (%1 to %9).
std::size_t InsertCount(const std::string& text) {
    std::size_t count = 0;
    for (std::size_t i = 0; i + 1 < text.size(); ++i)
        if (text[i] == '%' && text[i + 1] >= '1' && text[i + 1] <= '9')
            count = std::max<std::size_t>(count, static_cast<std::size_t>(text[i + 1] - '0'));
    return count;
}

// Inserts a pass could give: a key name, a path with the characters FormatMessage reads
// as escapes in a message text (never in an insert), text in other scripts.
const std::vector<std::vector<std::string>> kInsertSets = {
    {"HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Dir", "help", "C:\\Program Files\\Tessaryn\\bin"},
    {"C:\\100% sure\\%1 %2 %% %n %0 %. %! %r %t !s! %1!s!", "trailing backslash\\", "  spaces  "},
    {"Ünïcødé \xE2\x98\x83 \xE6\x96\x87\xE5\xAD\x97 \xF0\x9F\x98\x80", "\"quoted\" 'single' \xC2\xA0nbsp", ""},
};

TEST(EventMessages, EveryMessageRendersAsTheBoxShowsIt) {
    const std::string module = WindowsPath(QZ_MODULE_FILE);
    std::size_t count = 0;
    const ReportMessageEntry* catalogue = ReportMessageCatalogue(count);
    ASSERT_GT(count, 40u);
    std::set<unsigned> numbers;
    for (std::size_t i = 0; i < count; ++i) {
        const ReportMessageEntry& entry = catalogue[i];
        SCOPED_TRACE(entry.name);
        EXPECT_TRUE(numbers.insert(entry.number).second) << "the number " << entry.number << " is given twice";
        const std::size_t inserts = InsertCount(entry.text);
        for (const std::vector<std::string>& set : kInsertSets) {
            const std::vector<std::string> given(set.begin(), set.begin() + static_cast<long>(inserts));
            const ReportedMessage report = MakeReportedMessage(static_cast<ReportMessage>(entry.number), given);
            const RenderedEvent rendered = RenderEvent(module, entry.number, report.inserts);
            ASSERT_TRUE(rendered.found) << "no message " << entry.number << " in the table (error " << rendered.error
                                        << ")";
            EXPECT_EQ(rendered.text, report.text);
        }
    }
}

TEST(EventMessages, TheTableHoldsTheCataloguesTextsAsWritten) {
    // Spot checks against texts written out here, not taken from the catalogue: a catalogue and
    // a table that went wrong alike would pass the test above.
    const std::string module = WindowsPath(QZ_MODULE_FILE);
    EXPECT_EQ(RenderEvent(module, 25, {}).text, "Unable to open customization  key");  // two spaces
    EXPECT_EQ(RenderEvent(module, 32, {}).text, "Unable to create What's new OVX key");
    EXPECT_EQ(RenderEvent(module, 8, {"HKEY_LOCAL_MACHINE\\X", "help"}).text,
              "The installation directory of the modelling system was not found: HKEY_LOCAL_MACHINE\\X, value help "
              "(the key is missing)");
    EXPECT_EQ(RenderEvent(module, 1, {"any text, 100%"}).text, "any text, 100%");
}

TEST(EventMessages, ANumberOutsideTheCatalogueIsNotInTheTable) {
    const RenderedEvent rendered = RenderEvent(WindowsPath(QZ_MODULE_FILE), 9999, {"x"});
    EXPECT_FALSE(rendered.found) << rendered.text;
    EXPECT_EQ(rendered.error, static_cast<unsigned long>(ERROR_MR_MID_NOT_FOUND));
}

}  // namespace
}  // namespace qz::test
