// The two exports. Each is one complete pass; no exception ever leaves them.
#include "module/platform_pass.h"
#include "module/registration_steps.h"
#include "text/code_page.h"

#ifdef _WIN32
#define QZ_EXPORT extern "C"
#else
#define QZ_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace qz {
namespace {

// The module path goes into command lines and icon values as it stands: a path
// that is not well-formed text (a native file name that is not UTF-8) cannot
// be carried into the registry unchanged, so the pass says so and writes nothing.
bool RecordModulePath(const std::string& path) {
    std::u16string wide;
    if (!Utf8ToUtf16Exact(path, wide)) {
        ReportRegistrationError("Unable to represent the module path in the registry: " +
                                Utf16ToUtf8(Utf8ToUtf16(path)));
        return false;
    }
    ModulePath() = path;
    return true;
}

// Every step and every box of the pass runs whatever happens; the result then
// tells the truth: a pass that showed a "Registration Error" box fails, so that
// regsvr32, installers and scripts do not report a broken registration as done.
template <typename Pass>
HRESULT RunPass(bool recordModulePath, Pass pass) {
    try {
        PlatformPass platform;
        if (!platform.Ready()) return SELFREG_E_CLASS;
        ScopedServices services(platform.Services());
        ResetReportedFailureCount();
        if (recordModulePath && !RecordModulePath(platform.ModuleFileName())) return SELFREG_E_CLASS;
        pass();
        const bool committed = platform.Commit();
        return committed && ReportedFailureCount() == 0 ? S_OK : SELFREG_E_CLASS;
    } catch (...) {
        return SELFREG_E_CLASS;
    }
}

}  // namespace
}  // namespace qz

QZ_EXPORT HRESULT DllRegisterServer() {
    return qz::RunPass(true, [] {
        qz::RegisterApplicationName();
        qz::RunRegistrationSteps(1);
    });
}

QZ_EXPORT HRESULT DllUnregisterServer() {
    return qz::RunPass(false, [] {
        qz::RemoveProductKeys();
        qz::RunRegistrationSteps(0);
    });
}
