#include "module/unattended_report_win32.h"

#include <windows.h>

#include <vector>

#include "text/wide_text_win32.h"

namespace qz {

bool WindowStationIsVisible() {
    HWINSTA station = ::GetProcessWindowStation();
    if (station == nullptr) return false;
    USEROBJECTFLAGS flags{};
    DWORD needed = 0;
    if (!::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed)) return false;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

void RecordUnattendedMessage(const std::string& source, const ReportedMessage& message) {
    const std::wstring wideSource = Utf8ToWide(source);
    // The event's id is the message's number in the catalogue and its strings are the
    // inserts: the module's message table (the source's EventMessageFile, registered by
    // the package) renders them into the text the box shows. Where the source is not
    // registered, event viewers still list the inserts under the event.
    std::vector<std::wstring> inserts;
    inserts.reserve(message.inserts.size());
    for (const std::string& insert : message.inserts) inserts.push_back(Utf8ToWide(insert));
    std::vector<LPCWSTR> strings;
    for (const std::wstring& insert : inserts) strings.push_back(insert.c_str());
    if (HANDLE log = ::RegisterEventSourceW(nullptr, wideSource.c_str())) {
        ::ReportEventW(log, EVENTLOG_ERROR_TYPE, 0, static_cast<DWORD>(message.message), nullptr,
                       static_cast<WORD>(strings.size()), 0, strings.empty() ? nullptr : strings.data(), nullptr);
        ::DeregisterEventSource(log);
    }
    const std::wstring debugLine = wideSource + L": Registration Error: " + Utf8ToWide(message.text) + L"\n";
    ::OutputDebugStringW(debugLine.c_str());
}

}  // namespace qz
