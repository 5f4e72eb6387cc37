// The module's exports: the two standard ones, each one complete pass into the
// platform's registry, and the entry point through which a host runs the same
// pass against a registry of its own. No exception ever leaves them.
#include <algorithm>
#include <cstring>
#include <type_traits>
#include <vector>

#include "module/module_strings.h"
#include "module/platform_pass.h"
#include "module/registration_driver.h"
#include "registration/environment.h"
#include "registration/product_lookups.h"
#include "registration/registration_steps.h"
#include "registry/api/registry_table.h"
#include "registry/api/registry_table_adapters.h"
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
        ReportRegistrationError(ReportMessage::ModulePathNotRepresentable, {Utf16ToUtf8(Utf8ToUtf16(path))});
        return false;
    }
    ModulePath() = path;
    return true;
}

// A registration: the module's path recorded first, then the pre-step and the steps.
void RegistrationPass(const std::string& modulePath) {
    if (!RecordModulePath(modulePath)) return;
    // Before the steps: the application class, last among them, makes this version current.
    NoteWhichVersionIsCurrent();
    RegisterApplicationName();
    RunRegistrationSteps(QZ_PASS_REGISTER);
}

void UnregistrationPass() {
    RemoveProductKeys();
    RunRegistrationSteps(QZ_PASS_UNREGISTER);
}

// Every step and every box of the pass runs whatever happens; the result then
// tells the truth: a pass that showed a "Registration Error" box fails, so that
// regsvr32, installers and scripts do not report a broken registration as done.
template <typename Pass>
HRESULT RunPlatformPass(Pass pass) {
    try {
        PlatformPass platform;
        if (!platform.Ready()) return SELFREG_E_CLASS;
        ScopedServices services(platform.Services());
        ResetReportedFailureCount();
        pass();
        // What the pass wrote stays, failures or not: nothing is rolled back.
        const bool committed = platform.Commit();
        return committed && ReportedFailureCount() == 0 ? S_OK : SELFREG_E_CLASS;
    } catch (...) {
        return SELFREG_E_CLASS;
    }
}

// Where the module's messages go when a host runs the pass: to the host.
class HostReporter final : public ErrorReporter {
public:
    explicit HostReporter(const QzRegistryTable& table) : table_(table) {}
    void Report(const std::string& message) override { table_.report_error(table_.context, message.c_str()); }

private:
    const QzRegistryTable& table_;
};

// The variables the host hands in, asked for one by one.
class HostEnvironment final : public EnvironmentSource {
public:
    explicit HostEnvironment(const QzRegistryTable& table) : table_(table) {}
    std::optional<std::string> Variable(const std::string& name) override {
        const std::u16string wide = Utf8ToUtf16(name);
        std::vector<char16_t> value(260);
        // A value that grows between two calls asks again; a host that keeps asking for more is refused.
        for (int attempt = 0; attempt < 4; ++attempt) {
            uint32_t length = static_cast<uint32_t>(value.size());
            const int32_t status = table_.environment_variable(table_.context, wide.c_str(), value.data(), &length);
            if (status == ERROR_SUCCESS && length < value.size()) return Utf16ToUtf8(std::u16string(value.data(), length));
            if (status != ERROR_MORE_DATA || length <= value.size()) return std::nullopt;
            value.resize(length);
        }
        return std::nullopt;
    }

private:
    const QzRegistryTable& table_;
};

// Where the pass's notes go when the host takes them.
class TableNotes final : public HostNotes {
public:
    explicit TableNotes(const QzRegistryTable& table) : table_(table) {}
    void Note(QzNote kind, HKEY root, const std::string& path, const std::string& valueName) override {
        const std::u16string widePath = Utf8ToUtf16(path);
        const std::u16string wideName = Utf8ToUtf16(valueName);
        table_.note(table_.context, kind, static_cast<QzKey>(root), widePath.c_str(),
                    valueName.empty() ? nullptr : wideName.c_str());
    }

private:
    const QzRegistryTable& table_;
};

}  // namespace
}  // namespace qz

static_assert(std::is_same_v<decltype(&QzRunRegistrationPass), QzRunRegistrationPassFunction>,
              "the entry point and the type hosts load it as are one signature");

QZ_EXPORT HRESULT DllRegisterServer() {
    return qz::RunPlatformPass([] { qz::RegistrationPass(qz::ThisModuleFileName()); });
}

QZ_EXPORT HRESULT DllUnregisterServer() { return qz::RunPlatformPass([] { qz::UnregistrationPass(); }); }

QZ_EXPORT int32_t QzRunRegistrationPass(const QzRegistryTable* table, int32_t registerFlag, const char* modulePath) {
    try {
        if (!qz::IsCompleteRegistryTable(table)) return SELFREG_E_CLASS;
        // Only as much of the table as the host filled in; the rest stays empty.
        QzRegistryTable copy{};
        std::memcpy(&copy, table, std::min<std::size_t>(table->struct_size, sizeof copy));
        qz::TableRegistry registry(copy);
        qz::HostReporter hostReporter(copy);
        qz::HostEnvironment hostEnvironment(copy);
        qz::TableNotes notes(copy);
        qz::ModuleServices services;
        services.registry = &registry;
        services.reporter = copy.report_error != nullptr ? static_cast<qz::ErrorReporter*>(&hostReporter)
                                                         : &qz::PlatformReporter();
        services.strings = &qz::ModuleStrings();
        services.environment = copy.environment_variable != nullptr ? &hostEnvironment : nullptr;
        // Beyond the end of the host's table, note stays null: an older host takes no notes.
        services.notes = copy.note != nullptr ? &notes : nullptr;
        qz::ScopedServices scoped(services);
        qz::ResetReportedFailureCount();
        if (registerFlag != QZ_PASS_UNREGISTER) {
            qz::RegistrationPass(modulePath != nullptr ? std::string(modulePath) : qz::ThisModuleFileName());
        } else {
            qz::UnregistrationPass();
        }
        return qz::ReportedFailureCount() == 0 ? S_OK : SELFREG_E_CLASS;
    } catch (...) {
        return SELFREG_E_CLASS;
    }
}
