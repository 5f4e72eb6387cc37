// The host application's automation class for this product: one COM class served
// by the host executable, reachable under a version-independent and a versioned
// ProgID. The version-independent ProgID's CurVer says which version is current.
#include <array>
#include <string>

#include "registration/module_state.h"
#include "registration/registration_steps.h"
#include "registration/documents/host_command.h"
#include "registration/product_lookups.h"
#include "resources/resource_ids.h"

namespace qz {
namespace {

struct ApplicationClassTexts {
    std::string progId;           // OVX Application
    std::string versionedProgId;  // OVX Application 3800
    std::string classId;          // {FDE14674-...}
    std::string serverCommand;    // "[bin]\Tessaryn.exe" /ovx /Automation
};

// A key under HKEY_CLASSES_ROOT and its default value; an empty value creates the key alone.
struct ApplicationClassEntry {
    std::string keyPath;
    std::string value;
};

std::array<ApplicationClassEntry, 10> ApplicationClassEntries(const ApplicationClassTexts& t) {
    const std::string classKey = "CLSID\\" + t.classId;
    return {{
        {t.progId, t.progId},
        {t.progId + "\\CLSID", t.classId},
        {t.progId + "\\CurVer", t.versionedProgId},
        {t.versionedProgId, t.progId},
        {t.versionedProgId + "\\CLSID", t.classId},
        {classKey, ""},
        {classKey + "\\InProcHandler32", "Ole32.dll"},
        {classKey + "\\LocalServer32", t.serverCommand},
        {classKey + "\\ProgID", t.versionedProgId},
        {classKey + "\\VersionIndependentProgID", t.progId},
    }};
}

// The server command reads the installation directory, which only a registration needs.
ApplicationClassTexts LoadApplicationClassTexts(bool withServerCommand) {
    ApplicationClassTexts texts;
    texts.progId = LoadProductString(IDS_APPLICATION_PROGID);
    texts.versionedProgId = CurrentVersionProgId();
    texts.classId = LoadProductString(IDS_APPLICATION_CLSID);
    if (!withServerCommand) return texts;
    // The path is quoted: an installation directory with spaces must still name one program.
    texts.serverCommand =
        QuotedExecutablePath(GetInstallDirectory(InstallDirectoryKind::Bin), "Tessaryn.exe") + " /" +
        TrimWhiteSpace(LoadProductString(IDS_PRODUCT_ABBREV)) + " /Automation";
    return texts;
}

}  // namespace

void RegisterApplicationClass(int registerFlag) {
    const ApplicationClassTexts texts = LoadApplicationClassTexts(registerFlag != 0);

    if (registerFlag == 0) {
        // Asked once, before anything goes: the CurVer key lies inside the tree it guards.
        if (IsCurrentApplicationVersion()) DeleteRegistryTree(HKEY_CLASSES_ROOT, texts.progId);
        DeleteRegistryTree(HKEY_CLASSES_ROOT, texts.versionedProgId);
        DeleteRegistryTree(HKEY_CLASSES_ROOT, "CLSID\\" + texts.classId);
        return;
    }

    // The version-independent ProgID, removed above only by the current version;
    // the versioned ProgID and the class are this version's own.
    NoteCurrentVersionsKey(texts.progId);
    RegistryApi& registry = Registry();
    for (const ApplicationClassEntry& entry : ApplicationClassEntries(texts)) {
        UniqueKey key(registry);
        if (CreateRegistryKey(HKEY_CLASSES_ROOT, entry.keyPath, key) != ERROR_SUCCESS) {
            ReportRegistrationError(ReportMessage::CreateApplicationKeyEntry);
            continue;
        }
        if (!entry.value.empty() && !SetRegistryString(key.get(), "", entry.value))
            ReportRegistrationError(ReportMessage::CreateValue, {entry.value});
        key.reset();
    }
}

}  // namespace qz
