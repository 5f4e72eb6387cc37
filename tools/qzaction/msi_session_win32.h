// The few Windows Installer calls the custom action makes: its log, formatted
// text and temporary rows.
#pragma once

#include <windows.h>
#include <msi.h>

#include <string>
#include <vector>

#include "tools/qzaction/installer_rows.h"

namespace qz {

class MsiSession {
public:
    explicit MsiSession(MSIHANDLE install) : install_(install) {}

    // A line in the installation log (INSTALLMESSAGE_INFO): never a box.
    void Log(const std::string& text) const;
    // A Formatted text as the installer resolves it now ("[#file]": the file's target path).
    std::string Format(const std::wstring& formatted) const;
    // The rows, temporary (gone when the session ends), for the given component.
    bool InsertTemporaryRows(const std::vector<InstallerRow>& rows, const std::wstring& component,
                             std::string& error) const;

private:
    MSIHANDLE install_;
};

}  // namespace qz
