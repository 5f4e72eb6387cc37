// The native pass: the built-in registry folder, locked and loaded before the
// pass and saved after it; the error report on the terminal; the module's
// embedded string table.
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <cstdlib>

#include "module/module_strings.h"
#include "module/platform_pass.h"
#include "module/terminal_reporter_posix.h"
#include "registry/folder/registry_folder.h"

namespace qz {

struct PlatformPass::Impl {
    std::unique_ptr<RegistryFolder> folder;
};

ErrorReporter& PlatformReporter() {
    static TerminalReporter reporter;
    return reporter;
}

PlatformPass::PlatformPass() : impl_(new Impl) {
    std::string error;
    const std::string directory = DefaultRegistryFolder();
    // Behind another pass the module waits as a host does: it says so after a
    // second, and gives up after the lock timeout ($QZ_LOCK_TIMEOUT seconds, 60
    // when unset), naming the process that holds the folder.
    RegistryFolder::OpenOptions options;
    options.onWaiting = &RegistryFolder::PrintNotice;
    if (const char* timeout = std::getenv("QZ_LOCK_TIMEOUT"); timeout != nullptr && *timeout != '\0') {
        if (!ParseLockTimeout(timeout, options.lockTimeout, error)) {
            PlatformReporter().Report("Unable to open the registry folder " + directory + ": QZ_LOCK_TIMEOUT: " + error);
            return;
        }
    }
    impl_->folder = RegistryFolder::Open(directory, error, options);
    // Without its registry a pass cannot run at all: say why, once.
    if (!impl_->folder) PlatformReporter().Report("Unable to open the registry folder " + directory + ": " + error);
}

PlatformPass::~PlatformPass() = default;

bool PlatformPass::Ready() const { return impl_->folder != nullptr; }

ModuleServices PlatformPass::Services() const {
    ModuleServices services;
    services.registry = impl_->folder ? &impl_->folder->registry() : nullptr;
    services.reporter = &PlatformReporter();
    services.strings = &ModuleStrings();
    return services;
}

std::string PlatformPass::ModuleFileName() const { return ThisModuleFileName(); }

std::string ThisModuleFileName() {
    // The file this code was loaded from: the shared library, or the program it is linked into.
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&ModuleStrings), &info) == 0 || info.dli_fname == nullptr)
        return std::string();
    char* resolved = realpath(info.dli_fname, nullptr);
    if (resolved == nullptr) return info.dli_fname;
    std::string path(resolved);
    free(resolved);
    return path;
}

bool PlatformPass::Commit() {
    if (!impl_->folder) return false;
    std::string error;
    if (impl_->folder->Save(error)) return true;
    PlatformReporter().Report("Unable to save the registry folder " + impl_->folder->directory() + ": " + error);
    return false;
}

}  // namespace qz
