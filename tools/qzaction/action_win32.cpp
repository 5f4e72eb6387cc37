// The package's custom action: the module's own registration, computed on the
// machine being installed, handed to Windows Installer as rows.
//
// It runs immediate, after RemoveExistingProducts (an older build of this
// version is gone by then, so the rows are computed on the machine without it)
// and before InstallInitialize, on installation, repair and removal. The action
// carries the module's code and string table (it is linked from the same
// sources and resources/product.rc) and runs the module's pass in this process,
// recording the path where the package installs the module: it writes no file
// and loads no other DLL. The pass runs on an overlay of the machine's
// registry, which is read, never written.
//
// The action runs as the user who started the installation, and what it
// computes is written for every user: it reads only what that user cannot
// steer. The classes come from HKEY_LOCAL_MACHINE\Software\Classes in the
// 64-bit view (the store the rows are written to), not through
// HKEY_CLASSES_ROOT, which merges in the user's own; the modelling system's
// expandable directories expand with the machine's variables, not the user's.
//
// What the pass would change becomes temporary rows of the Registry and
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

#include <optional>
#include <string>
#include <vector>

#include "registry/api/registry_table.h"
#include "registry/api/win32_registry.h"
#include "tools/host/pass_on_overlay.h"
#include "tools/qzaction/installer_rows.h"
#include "tools/qzaction/machine_environment_win32.h"
#include "tools/qzaction/msi_session_win32.h"
#include "tools/qzaction/package_rules_win32.h"

namespace qz {
namespace {

// The package's names for the module: its component and its file.
const wchar_t kModuleComponent[] = L"Module";
const wchar_t kModuleFileReference[] = L"[#qzproduct.dll]";

UINT Run(MSIHANDLE install) {
    MsiSession session(install);
    INSTALLSTATE installed = INSTALLSTATE_UNKNOWN;
    INSTALLSTATE action = INSTALLSTATE_UNKNOWN;
    if (const UINT status = MsiGetComponentStateW(install, kModuleComponent, &installed, &action);
        status != ERROR_SUCCESS) {
        session.Log("the state of the component Module cannot be read (MsiGetComponentState, error " +
                    std::to_string(status) + ")");
        return ERROR_INSTALL_FAILURE;
    }
    const bool registering = action == INSTALLSTATE_LOCAL;
    const bool unregistering = action == INSTALLSTATE_ABSENT;
    if (!registering && !unregistering) {
        session.Log("the module is neither installed nor removed: no registry rows");
        return ERROR_SUCCESS;
    }

    // The registration records the module where the package puts it.
    std::string modulePath;
    if (registering) {
        std::string error;
        const std::optional<std::string> formatted = session.Format(kModuleFileReference, error);
        if (!formatted) {
            session.Log("the module's target path cannot be read: " + error);
            return ERROR_INSTALL_FAILURE;
        }
        if (formatted->empty()) {
            session.Log("the module's target path is not known yet: the action must run after CostFinalize");
            return ERROR_INSTALL_FAILURE;
        }
        modulePath = *formatted;
    }

    MachineEnvironment environment;
    if (std::string error; !environment.Load(error)) {
        session.Log(error);
        return ERROR_INSTALL_FAILURE;
    }
    Win32Registry machine(Win32Registry::Classes::Machine);
    const EnvironmentLookup machineVariables = [&environment](const std::u16string& name) {
        return environment.Variable(name);
    };
    const PassOutcome pass =
        RunPassOnOverlay(QzRunRegistrationPass, machine, registering ? QZ_PASS_REGISTER : QZ_PASS_UNREGISTER,
                         registering ? &modulePath : nullptr, {}, machineVariables);
    for (const std::string& message : pass.messages) session.Log("Registration Error: " + message);
    const InstallerRows rows = registering ? RowsForRegistration(pass.changes) : RowsForUnregistration(pass.changes);
    for (const std::string& skipped : rows.skipped) session.Log("not in the tables: " + skipped);

    if (registering && (pass.result != 0 || !rows.skipped.empty())) {
        session.Log(std::string("the registration by the module ") +
                    (pass.result != 0 ? "reported a failure" : "writes what Windows Installer cannot") +
                    ": the installation stops");
        return ERROR_INSTALL_FAILURE;
    }
    std::string error;
    if (!session.InsertTemporaryRows(rows.rows, kModuleComponent, error)) {
        session.Log(error);
        return ERROR_INSTALL_FAILURE;
    }
    // Every user's part of the registration, for the Active Setup entry.
    if (registering && !SetLogonCommands(install, QzRunRegistrationPass, machine, modulePath, machineVariables, error)) {
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
