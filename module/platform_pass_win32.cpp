// The Windows pass: advapi32, the "Registration Error" message box, and the
// string table of this module (not of whichever program loaded it).
#include <vector>

#include "module/module_instance_win32.h"
#include "module/module_strings.h"
#include "module/platform_pass.h"
#include "registry/win32_registry.h"

namespace qz {
namespace {

class MessageBoxReporter final : public ErrorReporter {
public:
    void Report(const std::string& message) override {
        // No owner window; OK button, error icon, brought to the foreground; the
        // button texts in the system's default language.
        ::MessageBoxExA(nullptr, message.c_str(), "Registration Error", MB_OK | MB_ICONERROR | MB_SETFOREGROUND,
                        ::GetSystemDefaultLangID());
    }
};

}  // namespace

struct PlatformPass::Impl {
    Win32Registry registry;
    MessageBoxReporter reporter;
};

PlatformPass::PlatformPass() : impl_(new Impl) {}
PlatformPass::~PlatformPass() = default;

bool PlatformPass::Ready() const { return true; }

ModuleServices PlatformPass::Services() const {
    ModuleServices services;
    services.registry = &impl_->registry;
    services.reporter = &impl_->reporter;
    services.strings = &ModuleStrings();
    return services;
}

std::string PlatformPass::ModuleFileName() const {
    // The full path, however long: grow the buffer until the path fits.
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetModuleFileNameA(ModuleInstance(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return std::string();
        if (length < buffer.size()) return std::string(buffer.data(), length);
        if (buffer.size() >= 32768) return std::string(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

bool PlatformPass::Commit() { return true; }

}  // namespace qz
