// Runs a command on a window station that is not visible, as services, SYSTEM
// deployments and scheduled tasks without a logon run, and waits for it at most
// a given time.
//
//   qz_hidden_station <timeout-ms> <command line>
//   qz_hidden_station --show-box      shows one modal box (for checking that a box
//                                     there really waits: run it as the command)
//
// It creates the station "QzUnattended" (a station created this way lacks
// WSF_VISIBLE; only WinSta0 has it) with a desktop "Default", moves itself
// there, and starts the command on that station's desktop. A modal box shown
// there is never dismissed, so a command that shows one runs into the timeout.
// Exit status: the command's; 124 when it did not end in time (it is then
// ended); 125 when the station or the process could not be made.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

constexpr int kTimedOut = 124;
constexpr int kSetupFailed = 125;

// The command line after the first two tokens (this program and the timeout).
const wchar_t* SkipToken(const wchar_t* p) {
    while (*p == L' ' || *p == L'\t') ++p;
    bool quoted = false;
    for (; *p != L'\0'; ++p) {
        if (*p == L'"') quoted = !quoted;
        else if (!quoted && (*p == L' ' || *p == L'\t')) break;
    }
    while (*p == L' ' || *p == L'\t') ++p;
    return p;
}

}  // namespace

int main() {
    const wchar_t* timeoutText = SkipToken(GetCommandLineW());
    if (std::wcsncmp(timeoutText, L"--show-box", 10) == 0) {
        MessageBoxW(nullptr, L"A box nobody dismisses", L"qz_hidden_station", MB_OK | MB_ICONERROR);
        return 0;
    }
    const wchar_t* command = SkipToken(timeoutText);
    const unsigned long timeoutMs = std::wcstoul(timeoutText, nullptr, 10);
    if (timeoutMs == 0 || *command == L'\0') {
        std::fprintf(stderr, "usage: qz_hidden_station <timeout-ms> <command line>\n");
        return kSetupFailed;
    }

    HWINSTA station = CreateWindowStationW(L"QzUnattended", 0, WINSTA_ALL_ACCESS, nullptr);
    if (station == nullptr || !SetProcessWindowStation(station)) {
        std::fprintf(stderr, "qz_hidden_station: cannot create or enter the window station (error %lu)\n",
                     GetLastError());
        return kSetupFailed;
    }
    HDESK desktop = CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    if (desktop == nullptr || !SetThreadDesktop(desktop)) {
        std::fprintf(stderr, "qz_hidden_station: cannot create or enter the desktop (error %lu)\n", GetLastError());
        return kSetupFailed;
    }

    std::wstring commandLine(command);
    wchar_t desktopName[] = L"QzUnattended\\Default";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.lpDesktop = desktopName;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        std::fprintf(stderr, "qz_hidden_station: cannot start %ls (error %lu)\n", command, GetLastError());
        return kSetupFailed;
    }
    CloseHandle(process.hThread);
    if (WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        std::fprintf(stderr, "qz_hidden_station: %ls did not end within %lu ms; ended\n", command, timeoutMs);
        TerminateProcess(process.hProcess, kTimedOut);
        WaitForSingleObject(process.hProcess, 5000);
        CloseHandle(process.hProcess);
        return kTimedOut;
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    return static_cast<int>(exitCode);
}
