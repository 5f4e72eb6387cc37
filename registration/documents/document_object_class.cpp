// The COM class of the product's language document, with the OLE server keys the
// shell and OLE containers read, and the icon of the library document class.
#include <array>
#include <string>

#include "registration/module_state.h"
#include "registration/registration_steps.h"
#include "registration/documents/host_command.h"
#include "registration/product_lookups.h"
#include "resources/resource_ids.h"

namespace qz {
namespace {

// "[bin]\[host].exe", quoted so that a directory with spaces still names one program;
// only the product's own host takes the product switch.
std::string DocumentObjectServerCommand() {
    const std::string binDirectory = GetInstallDirectory(InstallDirectoryKind::Bin);
    const std::string hostBaseName = LoadProductString(IDS_HOST_BASE_NAME);
    std::string command = QuotedExecutablePath(binDirectory, hostBaseName + ".exe");
    if (IsProductHost(hostBaseName)) command += " /" + TrimWhiteSpace(LoadProductString(IDS_PRODUCT_ABBREV));
    return command;
}

// A subkey of CLSID\[language class id] and its default value.
struct DocumentObjectClassEntry {
    const char* subkey;
    std::string value;
};

// Note the lower-case p of "InprocHandler32": the application class writes "InProcHandler32".
std::array<DocumentObjectClassEntry, 9> DocumentObjectClassEntries(const std::string& modulePath,
                                                                   const std::string& serverCommand) {
    return {{
        {"AuxUserType\\2", LoadProductString(IDS_ASCII_SUFFIX) + " View"},
        {"AuxUserType\\3", LoadProductString(IDS_PRODUCT_KEY_NAME)},
        {"DefaultIcon", modulePath + ",1"},
        {"InprocHandler32", "ole32"},
        {"LocalServer32", serverCommand},
        {"MiscStatus", "32"},
        {"ProgID", LoadProductString(IDS_LANGUAGE_DOC_NAME)},
        {"Verb\\0", "&Edit,0,2"},
        {"Verb\\1", "&Open,0,2"},
    }};
}

}  // namespace

void RegisterDocumentObjectClass(int registerFlag, const std::string& modulePath) {
    const std::string objectClassKey = "CLSID\\" + LoadProductString(IDS_LANGUAGE_CLSID);

    if (registerFlag == 0) {
        if (IsCurrentApplicationVersion()) DeleteRegistryTree(HKEY_CLASSES_ROOT, objectClassKey);
        const std::string libraryClassKey = "CLSID\\" + LoadProductString(IDS_LIBRARY_CLSID);
        if (IsCurrentApplicationVersion()) DeleteRegistryTree(HKEY_CLASSES_ROOT, libraryClassKey);
        return;
    }

    // Both classes are removed above only by the current version.
    NoteCurrentVersionsKey(objectClassKey);
    NoteCurrentVersionsKey("CLSID\\" + LoadProductString(IDS_LIBRARY_CLSID));
    RegistryApi& registry = Registry();
    const std::array<DocumentObjectClassEntry, 9> entries =
        DocumentObjectClassEntries(modulePath, DocumentObjectServerCommand());

    for (const DocumentObjectClassEntry& entry : entries) {
        const std::string keyPath = objectClassKey + "\\" + entry.subkey;
        UniqueKey key(registry);
        if (CreateRegistryKey(HKEY_CLASSES_ROOT, keyPath, key) != ERROR_SUCCESS) {
            ReportRegistrationError(ReportMessage::CreateKey, {keyPath});
            continue;
        }
        if (!SetRegistryString(key.get(), "", entry.value))
            ReportRegistrationError(ReportMessage::CreateValue, {entry.value});
        key.reset();
    }

    const std::string libraryIconKey = "CLSID\\" + LoadProductString(IDS_LIBRARY_CLSID) + "\\DefaultIcon";
    UniqueKey key(registry);
    // The library class's icon key is best effort: a failure to create it is not reported.
    if (CreateRegistryKey(HKEY_CLASSES_ROOT, libraryIconKey, key) != ERROR_SUCCESS) return;
    const std::string libraryIcon = modulePath + ",0";
    if (!SetRegistryString(key.get(), "", libraryIcon))
        ReportRegistrationError(ReportMessage::CreateValue, {libraryIcon});
    key.reset();
}

}  // namespace qz
