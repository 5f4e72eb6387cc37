// End-to-end support for tests of the real DLL under Wine (Windows build only).
// Every test program runs in a throwaway prefix of its own with its own
// wineserver (cmake/wine-test-run.sh), so a test may write anywhere in it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace qz::test {

// Copies the built DLL to "C:\Program Files\Orvantis Test\qzproduct.dll" (a path with spaces); returns that path.
std::string InstallModuleCopy();
// Copies it to "C:\Program Files\<folderName>\qzproduct.dll" through the wide file
// calls, so that a folder named in any script works; paths in UTF-8.
std::string InstallModuleCopyIn(const std::string& folderName);

// `regsvr32 /s [/u] "<path>"` (UTF-8) in a new process; regsvr32's exit code (0 ok, 3 not loaded,
// 4 export missing, 5 the export reported failure).
int RunRegsvr32(const std::string& dllPath, bool unregister);

struct RecordedBox {
    std::string text;
    std::string caption;
    unsigned style = 0;
    unsigned language = 0;
};

// The same regsvr32 run with Wine's relay trace limited to MessageBoxExA (set up
// in the template prefix): the boxes the DLL showed inside regsvr32 itself.
// Long texts are cut by the trace (~290 characters); use RunHookedPass for exact texts.
int RunRegsvr32Traced(const std::string& dllPath, bool unregister, std::vector<RecordedBox>* boxes);

// `reg import` of a .reg file of the source tree (path relative to the source dir). The fixture
// is UTF-8 text with a "Windows Registry Editor Version 5.00" or REGEDIT4 header; it is handed to
// reg as UTF-16LE with a BOM and CRLF line ends. Adds a test failure when the import fails.
void ImportRegFixture(const std::string& relativePath);

// `reg export` of one key (e.g. "HKLM\Software\Corvalen") as UTF-8 text with LF line ends, in reg
// export's layout; "" when the key does not exist.
std::string ExportKey(const std::string& key);

// A .reg fixture of the source tree as UTF-8 text with LF line ends, for comparing with ExportKey.
std::string ReadRegFixture(const std::string& relativePath);

// One pass in a separate hook host process (tests/hook_host): it loads the DLL, records every
// MessageBoxExA instead of showing it, fails the chosen registry calls with ERROR_ACCESS_DENIED,
// and calls the export. Rules: "RegCreateKeyExW:HKEY_LOCAL_MACHINE\Software\Corvalen" (one key),
// "...\Corvalen\*" (the key and everything below it), "RegSetValueExW:*" (every call).
// The host also records the events the module reports (ReportEventW) and the debug output it
// writes (OutputDebugStringW), and whether it ran on a visible window station.
struct RecordedEvent {
    std::string source;
    unsigned type = 0;
    unsigned category = 0;
    unsigned long id = 0;
    std::vector<std::string> strings;
};
struct HookedPass {
    long result = -1;  // the export's HRESULT; -1 when the host did not report one
    bool stationVisible = false;
    std::vector<RecordedBox> boxes;
    std::vector<RecordedEvent> events;
    std::vector<std::string> debugOutput;
};
HookedPass RunHookedPass(const std::string& dllPath, bool unregister, const std::vector<std::string>& failRules = {});
// The same pass with the hook host on a window station that is not visible, as a service or a
// SYSTEM deployment runs (tests/hook_host/qz_hidden_station), given at most timeoutMs.
HookedPass RunHookedPassOnHiddenStation(const std::string& dllPath, bool unregister,
                                        const std::vector<std::string>& failRules = {},
                                        unsigned long timeoutMs = 60000);

// Runs a command line (UTF-8) on a window station that is not visible and waits at most timeoutMs;
// its exit code, or kHiddenStationTimedOut when it did not end in time (it is then ended).
constexpr int kHiddenStationTimedOut = 124;
int RunOnHiddenStation(const std::string& commandLine, unsigned long timeoutMs, const std::string& stdoutPath = {},
                       const std::string& stderrPath = {});

// Creates a key with REG_OPTION_VOLATILE (it must not exist yet). For as long as this test
// program's wineserver runs, non-volatile keys cannot be created below it: the subtree is unwritable.
void MakeVolatileKey(HKEY root, const std::string& path);

// Removes everything a pass of this product or a seed fixture may have left in the prefix's
// registry (the company keys in both views and the product's classes-root keys), so that the
// tests of one program, which share one prefix, start from the same registry.
void ResetProductRegistry();

// `reg export` of every key a registration of the product writes or removes, one after the other,
// each under its name: the product's whole trace in the registry, for comparing two passes.
std::string ExportProductRegistry();

// The texts of the boxes, in order.
std::vector<std::string> BoxTexts(const std::vector<RecordedBox>& boxes);

}  // namespace qz::test
