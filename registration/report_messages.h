// The messages a registration pass reports, by number (resources/report_messages.inc).
// A report is a message of the catalogue and the texts inserted into it; the box shows
// the catalogue's text with the inserts in place, and the event log records the number
// and the inserts, which the module's message table renders into the same text.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace qz {

enum class ReportMessage : unsigned {
#define QZ_REPORT_MESSAGE(number, name, text) name = number,
#include "resources/report_messages.inc"
#undef QZ_REPORT_MESSAGE
};

struct ReportMessageEntry {
    unsigned number;
    const char* name;
    const char* text;  // with %1 to %9 where the inserts go
};

// Every message of the catalogue, in its order.
const ReportMessageEntry* ReportMessageCatalogue(std::size_t& count);

// The catalogue's text of a message ("%1" for a number it does not hold).
const char* ReportMessageText(ReportMessage message);

// The text with each %1 to %9 replaced by that insert (empty when there is none); an insert
// is put in as it is, never read for insertion points itself.
std::string FormatReportMessage(const char* text, const std::vector<std::string>& inserts);

// One report: which message, its inserts (UTF-8), and the text the box shows.
struct ReportedMessage {
    ReportMessage message = ReportMessage::Unlisted;
    std::vector<std::string> inserts;
    std::string text;
};

ReportedMessage MakeReportedMessage(ReportMessage message, std::vector<std::string> inserts);

}  // namespace qz
