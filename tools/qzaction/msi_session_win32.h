// The few Windows Installer calls the custom action makes: its log, formatted
// text and temporary rows. Every call's result is checked; a failure comes back
// as a text that names the call and its status, for the log.
#pragma once

#include <windows.h>
#include <msi.h>

#include <optional>
#include <string>
#include <vector>

#include "tools/qzaction/installer_rows.h"

namespace qz {

class MsiSession {
public:
    explicit MsiSession(MSIHANDLE install) : install_(install) {}

    // A line in the installation log (INSTALLMESSAGE_INFO): never a box. A line
    // the installer refuses has nowhere else to go: false then.
    bool Log(const std::string& text) const;
    // A Formatted text as the installer resolves it now ("[#file]": the file's
    // target path, empty before CostFinalize). nullopt, with error set, when
    // the installer could not format it.
    std::optional<std::string> Format(const std::wstring& formatted, std::string& error) const;
    // The rows, temporary (gone when the session ends), for the given component.
    bool InsertTemporaryRows(const std::vector<InstallerRow>& rows, const std::wstring& component,
                             std::string& error) const;

private:
    MSIHANDLE install_;
};

}  // namespace qz
