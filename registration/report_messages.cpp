#include "registration/report_messages.h"

namespace qz {
namespace {

constexpr ReportMessageEntry kCatalogue[] = {
#define QZ_REPORT_MESSAGE(number, name, text) {number, #name, text},
#include "resources/report_messages.inc"
#undef QZ_REPORT_MESSAGE
};

}  // namespace

const ReportMessageEntry* ReportMessageCatalogue(std::size_t& count) {
    count = sizeof kCatalogue / sizeof kCatalogue[0];
    return kCatalogue;
}

const char* ReportMessageText(ReportMessage message) {
    for (const ReportMessageEntry& entry : kCatalogue)
        if (entry.number == static_cast<unsigned>(message)) return entry.text;
    return "%1";
}

std::string FormatReportMessage(const char* text, const std::vector<std::string>& inserts) {
    std::string result;
    for (const char* at = text; *at != '\0'; ++at) {
        if (at[0] == '%' && at[1] >= '1' && at[1] <= '9') {
            const std::size_t index = static_cast<std::size_t>(at[1] - '1');
            if (index < inserts.size()) result += inserts[index];
            ++at;
        } else {
            result.push_back(*at);
        }
    }
    return result;
}

ReportedMessage MakeReportedMessage(ReportMessage message, std::vector<std::string> inserts) {
    ReportedMessage report;
    report.message = message;
    report.text = FormatReportMessage(ReportMessageText(message), inserts);
    report.inserts = std::move(inserts);
    return report;
}

}  // namespace qz
