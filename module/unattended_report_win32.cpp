#include "module/unattended_report_win32.h"

#include <windows.h>

#include "text/wide_text_win32.h"

namespace qz {
namespace {

// The event's number within the source. No message file is registered for the
// source, so event viewers show the event's text as it was given.
constexpr DWORD kRegistrationErrorEvent = 1;

}  // namespace

bool WindowStationIsVisible() {
    HWINSTA station = ::GetProcessWindowStation();
    if (station == nullptr) return false;
    USEROBJECTFLAGS flags{};
    DWORD needed = 0;
    if (!::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed)) return false;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

void RecordUnattendedMessage(const std::string& source, const std::string& message) {
    const std::wstring wideSource = Utf8ToWide(source);
    const std::wstring text = Utf8ToWide(message);
    if (HANDLE log = ::RegisterEventSourceW(nullptr, wideSource.c_str())) {
        LPCWSTR strings[] = {text.c_str()};
        ::ReportEventW(log, EVENTLOG_ERROR_TYPE, 0, kRegistrationErrorEvent, nullptr, 1, 0, strings, nullptr);
        ::DeregisterEventSource(log);
    }
    const std::wstring debugLine = wideSource + L": Registration Error: " + text + L"\n";
    ::OutputDebugStringW(debugLine.c_str());
}

}  // namespace qz
