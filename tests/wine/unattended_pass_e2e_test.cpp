// A pass on a window station nobody sees (a service, a SYSTEM deployment, a
// task without a logon) never waits for a person: the real DLL under Wine, run
// on such a station, records every message in the event log and as debug
// output instead of showing a box, fails as the interactive pass does, and
// leaves the registry as that pass leaves it. qzreg.exe shows no box in any
// state, so it never hangs there either.
#include <gtest/gtest.h>

#include <windows.h>

#include <sstream>
#include <string>
#include <vector>

#include "registration/report_messages.h"
#include "tests/support/event_text.h"
#include "tests/support/module_e2e.h"
#include "tests/support/test_services.h"
#include "tests/support/windows_commands.h"

namespace qz::test {
namespace {

constexpr long kSelfRegClassFailure = static_cast<long>(0x80040201u);
// Far beyond what a pass takes (well under a second): a pass that runs into it
// is waiting for a box nobody can dismiss.
constexpr unsigned long kHangLimitMs = 60000;

// The calls through which anything could show a box, for Wine's relay trace.
const char kBoxCalls[] =
    "user32.MessageBoxA;user32.MessageBoxW;user32.MessageBoxExA;user32.MessageBoxExW;"
    "user32.MessageBoxIndirectA;user32.MessageBoxIndirectW";

// States in which a pass reports: each is set up afresh before each of its two runs.
struct ReportingState {
    const char* name;
    bool installation;    // the modelling system's installation is there
    bool registered;      // a registration ran before
    bool unregister;      // the pass under test is an unregistration
    std::vector<std::string> failRules;  // registry calls that fail (the hook host's rules)
};

const ReportingState kReportingStates[] = {
    {"no installation of the modelling system", false, false, false, {}},
    {"unwritable settings and an unwritable application class",
     true,
     false,
     false,
     {"RegCreateKeyExW:HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\*",
      "RegSetValueExW:HKEY_CLASSES_ROOT\\OVX Application\\*"}},
    {"an unregistration that cannot remove the product's value and settings",
     true,
     true,
     true,
     {"RegDeleteValueW:HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Options",
      "RegDeleteKeyW:HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\*"}},
};

void Prepare(const ReportingState& state, const std::string& dll) {
    ResetProductRegistry();
    if (state.installation) ImportRegFixture("tests/e2e/fixtures/installation.reg");
    if (state.registered) {
        ASSERT_EQ(RunHookedPass(dll, false).result, 0) << "the registration before failed";
    }
}

// Wine's debug output of this test's prefix from `start` on (every process of the
// prefix writes it to the one file wine-test-run.sh collects).
class WineTrace {
public:
    WineTrace() {
        char path[1024] = {};
        const DWORD length = GetEnvironmentVariableA("QZ_WINE_STDERR", path, sizeof path);
        EXPECT_TRUE(length > 0 && length < sizeof path) << "not run through wine-test-run.sh";
        path_ = WindowsPath(path);
        start_ = ReadWholeFile(path_).size();
    }
    std::vector<std::string> LinesContaining(const std::string& needle) const {
        const std::string whole = ReadWholeFile(path_);
        std::istringstream trace(whole.size() > start_ ? whole.substr(start_) : std::string());
        std::vector<std::string> lines;
        for (std::string line; std::getline(trace, line);)
            if (line.find(needle) != std::string::npos) lines.push_back(line);
        return lines;
    }

private:
    std::string path_;
    size_t start_ = 0;
};

// Runs what follows with Wine's event log channel (and advapi32's notes, which name the event
// source) and a relay trace of the box calls on.
class ScopedBoxAndEventTrace {
public:
    ScopedBoxAndEventTrace() {
        RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\Debug", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                        nullptr);
        DWORD size = sizeof savedInclude_;
        hadInclude_ = RegQueryValueExA(key_, "RelayInclude", nullptr, nullptr,
                                       reinterpret_cast<BYTE*>(savedInclude_), &size) == ERROR_SUCCESS;
        RegSetValueExA(key_, "RelayInclude", 0, REG_SZ, reinterpret_cast<const BYTE*>(kBoxCalls), sizeof kBoxCalls);
        SetEnvironmentVariableA("WINEDEBUG", "-all,+relay,+eventlog,fixme+advapi");
    }
    ~ScopedBoxAndEventTrace() {
        SetEnvironmentVariableA("WINEDEBUG", "-all");
        if (hadInclude_) {
            RegSetValueExA(key_, "RelayInclude", 0, REG_SZ, reinterpret_cast<const BYTE*>(savedInclude_),
                           static_cast<DWORD>(strlen(savedInclude_) + 1));
        } else {
            RegDeleteValueA(key_, "RelayInclude");
        }
        RegCloseKey(key_);
    }

private:
    HKEY key_ = nullptr;
    char savedInclude_[1024] = {};
    bool hadInclude_ = false;
};

// A text as Wine's debugstr_w shows it in a trace line: L"..." with \ and " escaped.
std::string WineQuoted(const std::string& text) {
    std::string quoted = "L\"";
    for (char c : text) {
        if (c == '\\' || c == '"') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

TEST(UnattendedPass, ABoxOnAHiddenStationReallyWaits) {
    // The premise of everything below: on such a station a box is never dismissed.
    const std::string command = "\"" + WindowsPath(QZ_HIDDEN_STATION_FILE) + "\" --show-box";
    EXPECT_EQ(RunOnHiddenStation(command, 3000), kHiddenStationTimedOut);
}

TEST(UnattendedPass, RecordsEveryMessageShowsNoBoxFailsAndLeavesTheRegistryAsTheInteractivePass) {
    const std::string dll = InstallModuleCopy();
    for (const ReportingState& state : kReportingStates) {
        SCOPED_TRACE(state.name);
        Prepare(state, dll);
        const HookedPass interactive = RunHookedPass(dll, state.unregister, state.failRules);
        const std::string interactiveRegistry = ExportProductRegistry();

        Prepare(state, dll);
        const ULONGLONG start = GetTickCount64();
        const HookedPass unattended = RunHookedPassOnHiddenStation(dll, state.unregister, state.failRules, kHangLimitMs);
        const ULONGLONG elapsedMs = GetTickCount64() - start;

        EXPECT_TRUE(interactive.stationVisible);
        EXPECT_FALSE(unattended.stationVisible);
        EXPECT_LT(elapsedMs, 30000u);
        EXPECT_EQ(interactive.result, kSelfRegClassFailure);
        EXPECT_EQ(unattended.result, kSelfRegClassFailure);
        ASSERT_FALSE(interactive.boxes.empty()) << "the state reports nothing";
        EXPECT_TRUE(interactive.events.empty()) << "a visible station gets boxes only";
        EXPECT_TRUE(interactive.debugOutput.empty());
        EXPECT_TRUE(unattended.boxes.empty()) << unattended.boxes.front().text;

        // One error event per box, in the same order: its id is a message of the module's
        // message table, which renders it with the event's strings into the box's text.
        std::vector<std::string> eventTexts;
        std::vector<std::string> debugExpected;
        for (const RecordedEvent& event : unattended.events) {
            EXPECT_EQ(event.source, "Orvantis");
            EXPECT_EQ(event.type, static_cast<unsigned>(EVENTLOG_ERROR_TYPE));
            EXPECT_NE(event.id, static_cast<unsigned long>(ReportMessage::Unlisted)) << "a message outside the catalogue";
            const RenderedEvent rendered = RenderEvent(dll, event.id, event.strings);
            EXPECT_TRUE(rendered.found) << "event id " << event.id << " is not in the message table";
            eventTexts.push_back(rendered.text);
            debugExpected.push_back("Orvantis: Registration Error: " + rendered.text + "\n");
        }
        EXPECT_EQ(eventTexts, BoxTexts(interactive.boxes));
        EXPECT_EQ(unattended.debugOutput, debugExpected);

        EXPECT_EQ(ExportProductRegistry(), interactiveRegistry);
    }
}

TEST(UnattendedPass, Regsvr32OnAHiddenStationEndsAtOnceAndWineRecordsTheEvent) {
    ResetProductRegistry();  // no installation of the modelling system: one message
    const std::string dll = InstallModuleCopy();
    const WineTrace trace;
    int exitCode = -1;
    const ULONGLONG start = GetTickCount64();
    {
        ScopedBoxAndEventTrace tracing;
        exitCode = RunOnHiddenStation("regsvr32 /s \"" + dll + "\"", kHangLimitMs);
    }
    const ULONGLONG elapsedMs = GetTickCount64() - start;
    EXPECT_EQ(exitCode, 5) << "regsvr32's code for an export that failed; 124 is a box that waited";
    EXPECT_LT(elapsedMs, 30000u);
    // Wine's event log keeps each string of an error event as a line of its eventlog channel,
    // after advapi32's note of the call with the event id (8: the installation key is missing):
    // 0194:fixme:advapi:ReportEventW (00000000CAFE4242,0x0001,0x0000,0x00000008,...,0x0002,...): stub
    // 0194:err:eventlog:ReportEventW L"HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Dir"
    // 0194:err:eventlog:ReportEventW L"help"
    const std::vector<std::string> calls = trace.LinesContaining(":advapi:ReportEventW ");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_NE(calls[0].find(",0x0001,0x0000,0x00000008,"), std::string::npos) << calls[0];
    const std::vector<std::string> events = trace.LinesContaining(":eventlog:ReportEventW ");
    ASSERT_EQ(events.size(), 2u);
    EXPECT_NE(events[0].find("err:eventlog:ReportEventW " +
                             WineQuoted("HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Dir")),
              std::string::npos)
        << events[0];
    EXPECT_NE(events[1].find("err:eventlog:ReportEventW " + WineQuoted("help")), std::string::npos) << events[1];
    EXPECT_EQ(RenderEvent(dll, 8, {"HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Dir", "help"}).text,
              MissingInstallationBox("help"));
    EXPECT_EQ(trace.LinesContaining("RegisterEventSourceW ((null),L\"Orvantis\")").size(), 1u);
    EXPECT_TRUE(trace.LinesContaining("Call user32.MessageBox").empty());
}

// qzreg.exe hands the module a reporter of its own (stderr), so no state of it,
// failures included, may reach a box.
struct QzregState {
    const char* name;
    bool installation;
    const char* arguments;
    int exitCode;
};

const QzregState kQzregStates[] = {
    {"bad arguments", true, "--no-such-option", 1},
    {"no module", true, "--module \"C:\\No Such Folder\\qzproduct.dll\" register", 3},
    {"a module without the entry point", true, "--module C:\\windows\\system32\\version.dll register", 4},
    {"a pass that reports", false, "register", 5},
    {"a check that finds drift", true, "check", 6},
    {"a preview", true, "register --dry-run", 0},
    {"a registration", true, "register", 0},
};

TEST(UnattendedPass, QzregShowsNoBoxInAnyState) {
    const std::string dll = InstallModuleCopy();
    const std::string qzreg = "C:\\Program Files\\Orvantis Test\\qzreg.exe";
    ASSERT_TRUE(CopyFileA(WindowsPath(QZ_QZREG_FILE).c_str(), qzreg.c_str(), FALSE)) << GetLastError();
    for (const QzregState& state : kQzregStates) {
        SCOPED_TRACE(state.name);
        ResetProductRegistry();
        if (state.installation) ImportRegFixture("tests/e2e/fixtures/installation.reg");
        const WineTrace trace;
        const std::string err = ScratchFilePath("qzreg", ".err");
        int exitCode = -1;
        {
            ScopedBoxAndEventTrace tracing;
            exitCode = RunOnHiddenStation("\"" + qzreg + "\" " + state.arguments, kHangLimitMs, {}, err);
        }
        EXPECT_EQ(exitCode, state.exitCode) << ReadWholeFile(err);
        EXPECT_TRUE(trace.LinesContaining("Call user32.MessageBox").empty());
        // The module's messages reach qzreg, not the event log.
        EXPECT_TRUE(trace.LinesContaining(":eventlog:ReportEventW ").empty());
        if (state.exitCode == 5) {
            EXPECT_NE(ReadWholeFile(err).find("Registration Error: " + MissingInstallationBox("help")),
                      std::string::npos)
                << ReadWholeFile(err);
        }
    }
}

}  // namespace
}  // namespace qz::test
