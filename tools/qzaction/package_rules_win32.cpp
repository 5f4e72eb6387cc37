#include "tools/qzaction/package_rules_win32.h"

#include <msiquery.h>

#include <vector>

#include "text/wide_text_win32.h"
#include "tools/qzaction/logon_command.h"

namespace qz {
namespace {

class MsiRecord {
public:
    explicit MsiRecord(unsigned fields) : h_(MsiCreateRecord(fields)) {}
    MsiRecord(const MsiRecord&) = delete;
    MsiRecord& operator=(const MsiRecord&) = delete;
    ~MsiRecord() { MsiCloseHandle(h_); }
    MSIHANDLE get() const { return h_; }

private:
    MSIHANDLE h_;
};

// A line in the installation log, or with error an error message too (shown in
// a full user interface, logged in a silent one), under the action's name.
void Say(MSIHANDLE install, const char* action, const std::string& text, bool error = false) {
    MsiRecord record(1);
    MsiRecordSetStringW(record.get(), 0, (Utf8ToWide(action) + L": [1]").c_str());
    MsiRecordSetStringW(record.get(), 1, Utf8ToWide(text).c_str());
    MsiProcessMessage(install, error ? INSTALLMESSAGE(INSTALLMESSAGE_ERROR | MB_OK | MB_ICONERROR) : INSTALLMESSAGE_INFO,
                      record.get());
}

std::wstring Property(MSIHANDLE install, const wchar_t* name) {
    DWORD size = 0;
    wchar_t empty[1] = {L'\0'};
    if (MsiGetPropertyW(install, name, empty, &size) != ERROR_MORE_DATA) return std::wstring();
    std::wstring value(size + 1, L'\0');
    DWORD length = size + 1;
    if (MsiGetPropertyW(install, name, value.data(), &length) != ERROR_SUCCESS) return std::wstring();
    value.resize(length);
    return value;
}

bool Removing(MSIHANDLE install) { return lstrcmpiW(Property(install, L"REMOVE").c_str(), L"ALL") == 0; }

// ---- the install folder -------------------------------------------------------

// Why the folder cannot take the product, or "" when it can. The module is loaded
// by every user's host and qzreg.exe is what detection scripts run as SYSTEM: the
// folder must be a local one whose permissions the package sets, named in full.
std::string RefusedFolder(const std::wstring& folder) {
    const std::string shown = "INSTALLFOLDER \"" + WideToUtf8(folder) + "\"";
    const auto slash = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    if (folder.size() >= 2 && slash(folder[0]) && slash(folder[1]))
        return shown + " is a network folder (a UNC path) or a device path: the product's folder must be on a local "
                       "drive, named with its drive letter (D:\\Tools\\Orv), so that its permissions are the "
                       "package's own and every host and SYSTEM find the module there";
    const bool drive = folder.size() >= 3 && ((folder[0] >= L'A' && folder[0] <= L'Z') ||
                                              (folder[0] >= L'a' && folder[0] <= L'z')) &&
                       folder[1] == L':' && slash(folder[2]);
    if (!drive)
        return shown + " is a relative folder: the product's folder must be named in full, with its drive "
                       "(D:\\Tools\\Orv), or the module would land where the installation happened to run";
    const wchar_t root[] = {folder[0], L':', L'\\', L'\0'};
    if (GetDriveTypeW(root) == DRIVE_REMOTE)
        return shown + " is on a network drive: the product's folder must be on a local drive, so that its "
                       "permissions are the package's own and every host and SYSTEM find the module there";
    return {};
}

// ---- the installed build ----------------------------------------------------

std::wstring SummaryPackageCode(const std::wstring& package) {
    MSIHANDLE summary = 0;
    if (MsiGetSummaryInformationW(0, package.c_str(), 0, &summary) != ERROR_SUCCESS) return std::wstring();
    wchar_t code[64] = {};
    DWORD size = 64;
    UINT type = 0;
    INT number = 0;
    FILETIME time{};
    const UINT status = MsiSummaryInfoGetPropertyW(summary, 9 /* PID_REVNUMBER */, &type, &number, &time, code, &size);
    MsiCloseHandle(summary);
    return status == ERROR_SUCCESS ? std::wstring(code, size) : std::wstring();
}

// Why this package must not run over the installed product of its ProductCode, or "".
// A build of another commit with the same build number has the installed build's
// ProductCode and another package code. Windows refuses it (1638) before any action
// runs; an installer that runs the installed build's cached package instead would
// keep the old module and report success. The package that was launched is
// OriginalDatabase; the installed one is the product's registered package code.
std::string RefusedOtherPackage(MSIHANDLE install, std::string& note) {
    const std::wstring product = Property(install, L"ProductCode");
    wchar_t installedCode[64] = {};
    DWORD size = 64;
    if (MsiGetProductInfoW(product.c_str(), L"PackageCode", installedCode, &size) != ERROR_SUCCESS)
        return {};
    const std::wstring launched = Property(install, L"OriginalDatabase");
    const std::wstring launchedCode = SummaryPackageCode(launched);
    if (launchedCode.empty()) {
        note = "the package " + WideToUtf8(launched) + " cannot be read: its build is not compared";
        return {};
    }
    if (lstrcmpiW(launchedCode.c_str(), installedCode) == 0) return {};
    const std::string name = WideToUtf8(Property(install, L"ProductName"));
    const std::string version = WideToUtf8(Property(install, L"ProductVersion"));
    return name + " build " + version + " is installed from another package (package code " +
           WideToUtf8(installedCode) + ") than " + WideToUtf8(launched) + " (package code " + WideToUtf8(launchedCode) +
           "): this package is a build of another commit with the same build number, and changes nothing. Remove "
           "the installed build first (msiexec /x " + WideToUtf8(product) + "), or install a build with a higher "
           "build number.";
}

// ---- files held after a removal ---------------------------------------------

std::vector<std::wstring> FolderFiles(MSIHANDLE install) {
    std::vector<std::wstring> names;
    const MSIHANDLE database = MsiGetActiveDatabase(install);
    MSIHANDLE view = 0;
    if (MsiDatabaseOpenViewW(database,
                             L"SELECT `File`.`FileName` FROM `File`, `Component` WHERE `File`.`Component_` = "
                             L"`Component`.`Component` AND `Component`.`Directory_` = 'INSTALLFOLDER'",
                             &view) == ERROR_SUCCESS &&
        MsiViewExecute(view, 0) == ERROR_SUCCESS) {
        for (MSIHANDLE record = 0; MsiViewFetch(view, &record) == ERROR_SUCCESS; MsiCloseHandle(record)) {
            wchar_t name[512] = {};
            DWORD size = 512;
            if (MsiRecordGetStringW(record, 1, name, &size) != ERROR_SUCCESS) continue;
            std::wstring fileName(name, size);
            if (const std::size_t bar = fileName.find(L'|'); bar != std::wstring::npos) fileName.erase(0, bar + 1);
            names.push_back(fileName);
        }
    }
    if (view != 0) MsiCloseHandle(view);
    MsiCloseHandle(database);
    return names;
}

}  // namespace

bool SetLogonCommands(MSIHANDLE install, PassEntry entry, RegistryApi& machine, const std::string& modulePath,
                      const EnvironmentLookup& environment, std::string& error) {
    EmptyUserHive base(machine);
    const PassOutcome pass = RunPassOnOverlay(entry, base, QZ_PASS_REGISTER, &modulePath, {}, environment);
    wchar_t system[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    const std::string regExe = WideToUtf8(std::wstring(system, length)) + "\\reg.exe";
    const LogonCommands logon = LogonCommandsFor(pass.changes, regExe);
    if (pass.result != 0 || !logon.refused.empty()) {
        error = "every user's part of the registration cannot be a logon command";
        for (const std::string& refused : logon.refused) error += "; " + refused;
        if (pass.result != 0) error += "; the registration reported a failure";
        error += ": the installation stops";
        return false;
    }
    if (MsiSetPropertyW(install, L"QZLOGONCOMMANDS", Utf8ToWide(logon.commands).c_str()) != ERROR_SUCCESS) {
        error = "the property QZLOGONCOMMANDS cannot be set";
        return false;
    }
    Say(install, "QzRegistrationRows", "every user's logon runs: " + logon.commands);
    return true;
}

}  // namespace qz

extern "C" __declspec(dllexport) UINT __stdcall QzCheckInstallation(MSIHANDLE install) {
    const char action[] = "QzCheckInstallation";
    try {
        if (qz::Removing(install)) return ERROR_SUCCESS;
        const std::wstring folder = qz::Property(install, L"INSTALLFOLDER");
        if (!folder.empty()) {
            if (const std::string refused = qz::RefusedFolder(folder); !refused.empty()) {
                qz::Say(install, action, refused + ". Nothing was changed.", true);
                return ERROR_INSTALL_FAILURE;
            }
        }
        if (!qz::Property(install, L"Installed").empty()) {
            std::string note;
            const std::string refused = qz::RefusedOtherPackage(install, note);
            if (!note.empty()) qz::Say(install, action, note);
            if (!refused.empty()) {
                qz::Say(install, action, refused, true);
                return ERROR_INSTALL_FAILURE;
            }
        }
        return ERROR_SUCCESS;
    } catch (...) {
        return ERROR_INSTALL_FAILURE;
    }
}

// Windows Installer moves a file it cannot delete out of the way and deletes it
// at the restart itself; an installer that leaves it in place (Wine's) would keep
// the module after the removal. What is still there is moved aside in its
// folder (a loaded module can be renamed, not deleted), so that a reinstallation
// before the restart finds its path free, and deleted at the restart with the
// folder.
extern "C" __declspec(dllexport) UINT __stdcall QzScheduleHeldFiles(MSIHANDLE install) {
    const char action[] = "QzScheduleHeldFiles";
    try {
        if (!qz::Removing(install)) return ERROR_SUCCESS;
        std::wstring folder = qz::Property(install, L"INSTALLFOLDER");
        if (folder.empty()) return ERROR_SUCCESS;
        if (folder.back() != L'\\') folder += L'\\';
        bool held = false;
        for (const std::wstring& name : qz::FolderFiles(install)) {
            const std::wstring path = folder + name;
            if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
            held = true;
            std::wstring doomed = path;
            wchar_t aside[MAX_PATH] = {};
            if (GetTempFileNameW(folder.c_str(), L"qz", 0, aside) != 0) {
                if (MoveFileExW(path.c_str(), aside, MOVEFILE_REPLACE_EXISTING))
                    doomed = aside;
                else
                    DeleteFileW(aside);
            }
            if (MoveFileExW(doomed.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
                qz::Say(install, action, qz::WideToUtf8(path) + " is held by a running program: " +
                                             (doomed == path ? "" : "moved to " + qz::WideToUtf8(doomed) + " and ") +
                                             "deleted at the next restart");
            else
                qz::Say(install, action, qz::WideToUtf8(path) + " is held by a running program and cannot be deleted "
                                             "at the next restart (error " + std::to_string(GetLastError()) + ")");
        }
        if (held) {
            folder.pop_back();  // the folder itself, once empty
            MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
            MsiSetMode(install, MSIRUNMODE_REBOOTATEND, TRUE);
        }
        return ERROR_SUCCESS;
    } catch (...) {
        return ERROR_SUCCESS;
    }
}
