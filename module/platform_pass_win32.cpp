// The Windows pass: advapi32, the "Registration Error" message box (or, where
// nobody can see one, the event log), and the string table of this module (not
// of whichever program loaded it).
#include <vector>

#include "module/module_instance_win32.h"
#include "module/module_strings.h"
#include "module/platform_pass.h"
#include "module/unattended_report_win32.h"
#include "registry/api/win32_registry.h"
#include "resources/resource_ids.h"
#include "text/code_page.h"
#include "text/wide_text_win32.h"

namespace qz {
namespace {

// Where nobody can see a box. Deployment tools run regsvr32 as SYSTEM, services and tasks
// without a logon: a box on their window station would never be dismissed, so each message
// is recorded with its number and inserts instead (unattended_report_win32.h).
class EventLogReporter final : public ErrorReporter {
public:
    void Report(const std::string& message) override {
        ReportCatalogueMessage(MakeReportedMessage(ReportMessage::Unlisted, {message}));
    }

    void ReportCatalogueMessage(const ReportedMessage& message) override {
        RecordUnattendedMessage(ModuleStrings().Load(IDS_PRODUCT_NAME), message);
    }
};

// The "Registration Error" box, for a pass someone sees.
class MessageBoxReporter final : public ErrorReporter {
public:
    void Report(const std::string& message) override {
        // No owner window; OK button, error icon, brought to the foreground; the
        // button texts in the system's default language. The message is the
        // module's UTF-8 text, shown in the system code page as the box takes it.
        const std::string shown = ToAnsiCodePage(message);
        ::MessageBoxExA(nullptr, shown.c_str(), "Registration Error", MB_OK | MB_ICONERROR | MB_SETFOREGROUND,
                        ::GetSystemDefaultLangID());
    }

private:
    static std::string ToAnsiCodePage(const std::string& utf8) {
        const std::wstring wide = Utf8ToWide(utf8);
        const wchar_t* text = wide.data();
        const int length = static_cast<int>(wide.size());
        const int size = ::WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
        if (size <= 0) return utf8;
        std::string narrow(static_cast<size_t>(size), '\0');
        ::WideCharToMultiByte(CP_ACP, 0, text, length, &narrow[0], size, nullptr, nullptr);
        return narrow;
    }
};

// The path as UTF-8. A file name may hold a lone surrogate, which no UTF-8 text
// can carry: it is kept in the 3-byte form UTF-8 forbids, so that recording the
// path refuses it with a box instead of storing a replacement character.
std::string PathText(std::u16string_view path) {
    std::string text;
    if (Utf16ToUtf8Exact(path, text)) return text;
    text.clear();
    for (std::size_t i = 0; i < path.size(); ++i) {
        const char16_t c = path[i];
        const bool pair = c >= 0xD800 && c <= 0xDBFF && i + 1 < path.size() && path[i + 1] >= 0xDC00 &&
                          path[i + 1] <= 0xDFFF;
        if (pair) {
            text += Utf16ToUtf8(path.substr(i, 2));
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            text.push_back(static_cast<char>(0xED));
            text.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            text += Utf16ToUtf8(path.substr(i, 1));
        }
    }
    return text;
}

}  // namespace

struct PlatformPass::Impl {
    Win32Registry registry;
};

ErrorReporter& PlatformReporter() {
    // Chosen once, as the pass starts: the process keeps its window station through the pass.
    static MessageBoxReporter box;
    static EventLogReporter eventLog;
    if (WindowStationIsVisible()) return box;
    return eventLog;
}

PlatformPass::PlatformPass() : impl_(new Impl) {}
PlatformPass::~PlatformPass() = default;

bool PlatformPass::Ready() const { return true; }

ModuleServices PlatformPass::Services() const {
    ModuleServices services;
    services.registry = &impl_->registry;
    services.reporter = &PlatformReporter();
    services.strings = &ModuleStrings();
    return services;
}

std::string PlatformPass::ModuleFileName() const { return ThisModuleFileName(); }

std::string ThisModuleFileName() {
    // The full path, however long (grow the buffer until it fits), in UTF-16 so
    // that a path in any script arrives whole; the module keeps it as UTF-8.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(ModuleInstance(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return std::string();
        if (length < buffer.size() || buffer.size() >= 32768)
            return PathText(AsUtf16(buffer.data(), length));
        buffer.resize(buffer.size() * 2);
    }
}

bool PlatformPass::Commit() { return true; }

}  // namespace qz
