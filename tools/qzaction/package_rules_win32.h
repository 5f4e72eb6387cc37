// What the package's custom action does besides the registration's rows:
// refusing what must not be installed before anything changes, every user's
// part of the registration at logon, and the files a running host still holds
// after a removal.
//
//   QzCheckInstallation   (entry, immediate, early): refuses an install folder
//                         on a network share or a relative one, and a package of
//                         another commit that carries the installed build's number
//   QzScheduleHeldFiles   (entry, immediate, after InstallFinalize): after a
//                         removal, deletes at the next restart what of the
//                         product's folder a running program still holds, and
//                         asks for the restart (3010)
//   SetLogonCommands      (called by QzRegistrationRows while registering): the
//                         commands of the Active Setup entry (QZLOGONCOMMANDS)
#pragma once

#include <windows.h>
#include <msi.h>

#include <string>

#include "registry/api/registry_api.h"
#include "tools/host/pass_on_overlay.h"

namespace qz {

// Runs the registration once more on an overlay of machine whose
// HKEY_CURRENT_USER reads empty (with the same machine environment as the
// registration's own pass), and sets the property QZLOGONCOMMANDS to its
// writes there as reg.exe commands (logon_command.h). False, with error naming
// what cannot be stated safely, when the installation must stop.
bool SetLogonCommands(MSIHANDLE install, PassEntry entry, RegistryApi& machine, const std::string& modulePath,
                      const EnvironmentLookup& environment, std::string& error);

}  // namespace qz
