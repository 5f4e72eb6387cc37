// The package's custom action: the module's own registration, computed on the
// machine being installed, handed to Windows Installer as rows.
//
// It runs immediate, after CostFinalize (the module's target path is known)
// and before InstallValidate, on installation, repair and removal. It takes the
// very module the package installs from the Binary table, loads it from a
// temporary file and runs the module's pass through its host entry point on an
// overlay of the machine's registry: the registry is read, never written. What
// the pass would change becomes temporary rows of the Registry and
// RemoveRegistry tables (installer_rows.h); Windows Installer's own actions
// write, log, roll back, repair and remove them. The module's messages go to
// the installation log; nothing shows a box.
//
// A registration that reports a failure fails the installation (1603), and
// Windows Installer rolls it back: a deployment tool sees the failure, and the
// machine is left as it was rather than half registered. An unregistration's
// messages are logged and the removal goes on.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <string>
#include <vector>

#include "registry/memory_registry.h"
#include "registry/overlay_registry.h"
#include "registry/registry_table_adapters.h"
#include "registry/win32_registry.h"
#include "text/code_page.h"
#include "tools/qzaction/installer_rows.h"
#include "tools/qzaction/msi_session_win32.h"
#include "tools/qzreg/module_library.h"

namespace qz {
namespace {

// The package's names for the module: its Binary row, its component and its file.
const wchar_t kModuleBinary[] = L"QzModule";
const wchar_t kModuleComponent[] = L"Module";
const wchar_t kModuleFileReference[] = L"[#qzproduct.dll]";

UINT Run(MSIHANDLE install) {
    MsiSession session(install);
    INSTALLSTATE installed = INSTALLSTATE_UNKNOWN;
    INSTALLSTATE action = INSTALLSTATE_UNKNOWN;
    if (MsiGetComponentStateW(install, kModuleComponent, &installed, &action) != ERROR_SUCCESS) {
        session.Log("the component Module is not in the package");
        return ERROR_INSTALL_FAILURE;
    }
    const bool registering = action == INSTALLSTATE_LOCAL;
    const bool unregistering = action == INSTALLSTATE_ABSENT;
    if (!registering && !unregistering) {
        session.Log("the module is neither installed nor removed: no registry rows");
        return ERROR_SUCCESS;
    }

    std::string error;
    TemporaryModule file;
    if (!file.Extract(session, kModuleBinary, error)) {
        session.Log(error);
        return ERROR_INSTALL_FAILURE;
    }
    ModuleLibrary module;
    if (module.Load(file.Path(), error) != ModuleLibrary::Failure::None) {
        session.Log(error);
        return ERROR_INSTALL_FAILURE;
    }
    // The registration records the module where the package puts it.
    const std::string modulePath = registering ? session.Format(kModuleFileReference) : std::string();
    if (registering && modulePath.empty()) {
        session.Log("the module's target path is not known yet: the action must run after CostFinalize");
        return ERROR_INSTALL_FAILURE;
    }

    Win32Registry machine;
    OverlayRegistry overlay(machine);
    std::vector<std::string> messages;
    HostedRegistry hosted;
    hosted.registry = &overlay;
    hosted.reportError = [&messages](const std::string& message) { messages.push_back(message); };
    const QzRegistryTable table = RegistryTableFor(hosted);
    const int32_t result = module.RunPass()(&table, registering ? 1 : 0, registering ? modulePath.c_str() : nullptr);
    for (const std::string& message : messages) session.Log("Registration Error: " + message);

    MemoryRegistry before;
    MemoryRegistry after;
    overlay.Snapshots(before, after);
    const std::vector<RegistryChange> changes = ListRegistryChanges(before, after);
    const InstallerRows rows = registering ? RowsForRegistration(changes) : RowsForUnregistration(changes);
    for (const std::string& skipped : rows.skipped) session.Log("not in the tables: " + skipped);

    if (registering && (result != 0 || !rows.skipped.empty())) {
        session.Log(std::string("the registration by the module ") +
                    (result != 0 ? "reported a failure" : "writes what Windows Installer cannot") +
                    ": the installation stops");
        return ERROR_INSTALL_FAILURE;
    }
    if (!session.InsertTemporaryRows(rows.rows, kModuleComponent, error)) {
        session.Log(error);
        return ERROR_INSTALL_FAILURE;
    }
    session.Log(std::string(registering ? "registration" : "unregistration") + ": " +
                std::to_string(rows.rows.size()) + " rows for Windows Installer");
    return ERROR_SUCCESS;
}

}  // namespace
}  // namespace qz

extern "C" __declspec(dllexport) UINT __stdcall QzRegistrationRows(MSIHANDLE install) {
    try {
        return qz::Run(install);
    } catch (...) {
        return ERROR_INSTALL_FAILURE;
    }
}

// For the rollback test of the package: an action after WriteRegistryValues
// that fails the installation when the property QZ_TEST_FAIL_AFTER_REGISTRY is 1.
extern "C" __declspec(dllexport) UINT __stdcall QzFailInstallation(MSIHANDLE install) {
    qz::MsiSession(install).Log("failing the installation after the registry was written, as asked");
    return ERROR_INSTALL_FAILURE;
}
