// The product's language document type: the ProgID key the document suffix points
// at, with its class id, icon, Application and Insertable subkeys and shell verbs.
// It is rebuilt from nothing on every registration, so verbs of versions no longer
// installed disappear.
#include <array>
#include <string>

#include "registration/module_state.h"
#include "registration/registration_steps.h"
#include "registration/documents/host_command.h"
#include "registration/product_lookups.h"
#include "resources/resource_ids.h"

namespace qz {
namespace {

// A verb's command key below "[doc]\shell\" and the command line it runs.
struct LanguageShellVerb {
    const char* subkey;
    std::string command;
};

std::array<LanguageShellVerb, 2> LanguageShellVerbs(const std::string& openCommand) {
    return {{
        {"Open\\command", openCommand},
        {"Edit\\command", "notepad.exe %1"},
    }};
}

// "[bin]\[host].exe" [/abbrev] "%1": only the product's own host takes the product switch.
std::string LanguageOpenCommand() {
    const std::string binDirectory = GetInstallDirectory(InstallDirectoryKind::Bin);
    const std::string hostBaseName = LoadProductString(IDS_HOST_BASE_NAME);
    std::string command = QuotedExecutablePath(binDirectory, hostBaseName + ".exe");
    if (IsProductHost(hostBaseName)) command += " /" + LoadProductString(IDS_PRODUCT_ABBREV);
    command += " \"%1\"";
    return command;
}

// Everything below the document class id key, written while that key is held open.
void RegisterLanguageDocumentSubkeys(const std::string& documentKey, const std::string& modulePath,
                                     const std::string& openCommand) {
    RegistryApi& registry = Registry();
    {
        UniqueKey key(registry);
        if (CreateRegistryKey(HKEY_CLASSES_ROOT, documentKey + "\\DefaultIcon", key) != ERROR_SUCCESS ||
            !SetRegistryString(key.get(), "", modulePath + ",1"))
            ReportRegistrationError(ReportMessage::CreateDocumentDefaultIcon);
    }
    {
        UniqueKey key(registry);
        if (CreateRegistryKey(HKEY_CLASSES_ROOT, documentKey + "\\Application", key) != ERROR_SUCCESS ||
            !SetRegistryString(key.get(), "ApplicationName", LoadProductString(IDS_PRODUCT_NAME) + " " + ProductVersionLabel()))
            ReportRegistrationError(ReportMessage::CreateDocumentApplication);
    }
    {
        UniqueKey key(registry);
        if (CreateRegistryKey(HKEY_CLASSES_ROOT, documentKey + "\\Insertable", key) != ERROR_SUCCESS)
            ReportRegistrationError(ReportMessage::CreateDocumentInsertable);
    }

    const std::string shellKeyPrefix = documentKey + "\\shell\\";
    RegisterShellOpenCommands(shellKeyPrefix);
    for (const LanguageShellVerb& verb : LanguageShellVerbs(openCommand)) {
        UniqueKey key(registry);
        if (CreateRegistryKey(HKEY_CLASSES_ROOT, shellKeyPrefix + verb.subkey, key) != ERROR_SUCCESS) {
            ReportRegistrationError(ReportMessage::CreateShellKey);
            continue;
        }
        if (!SetRegistryString(key.get(), "", verb.command))
            ReportRegistrationError(ReportMessage::CreateShellDocumentEntry);
    }
}

}  // namespace

void RegisterLanguageDocumentType(int registerFlag, const std::string& modulePath) {
    const std::string documentKey = LoadProductString(IDS_LANGUAGE_DOC_NAME);

    if (registerFlag == 0) {
        if (IsCurrentApplicationVersion()) DeleteRegistryTree(HKEY_CLASSES_ROOT, documentKey);
        return;
    }

    NoteCurrentVersionsKey(documentKey);  // removed above only by the current version
    const std::string classIdKey = documentKey + "\\CLSID";
    const std::string classId = LoadProductString(IDS_LANGUAGE_CLSID);
    const std::string openCommand = LanguageOpenCommand();

    DeleteRegistryTree(HKEY_CLASSES_ROOT, documentKey);

    RegistryApi& registry = Registry();
    {
        UniqueKey classIdHandle(registry);
        if (CreateRegistryKey(HKEY_CLASSES_ROOT, classIdKey, classIdHandle) != ERROR_SUCCESS) {
            ReportRegistrationError(ReportMessage::CreateDocumentKey);
        } else {
            if (!SetRegistryString(classIdHandle.get(), "", classId))
                ReportRegistrationError(ReportMessage::CreateDocumentClassId);
            RegisterLanguageDocumentSubkeys(documentKey, modulePath, openCommand);
        }
    }

    const std::string typeName = LoadProductString(IDS_LANGUAGE_TYPE_NAME);
    UniqueKey key(registry);
    if (CreateRegistryKey(HKEY_CLASSES_ROOT, documentKey, key) != ERROR_SUCCESS) return;  // not reported
    if (!SetRegistryString(key.get(), "", typeName))
        ReportRegistrationError(ReportMessage::AssignDocumentClassName);
}

}  // namespace qz
