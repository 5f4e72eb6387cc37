// The product's document suffixes, the Suffix setting the host reads, and the
// library document type key. The library suffix and type are shared by every
// product of the family: they go only when no product is left with the system.
#include <string>

#include "module/module_state.h"
#include "module/registration_steps.h"
#include "registration/product_lookups.h"
#include "resources/resource_ids.h"

namespace qz {
namespace {

bool CreateKey(UniqueKey& key, HKEY root, const std::string& path) {
    return Registry().CreateKeyEx(root, path.c_str(), REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, key.put()) ==
           ERROR_SUCCESS;
}

// Creates root\path and sets its default value; any failure shows failureMessage.
void WriteDefaultValue(HKEY root, const std::string& path, const std::string& value,
                       const std::string& failureMessage) {
    UniqueKey key(Registry());
    if (!CreateKey(key, root, path) || !SetRegistryString(key.get(), "", value))
        ReportRegistrationError(failureMessage);
}

}  // namespace

void RegisterDocumentSuffixes(int registerFlag) {
    const std::string asciiSuffix = "." + LoadProductString(IDS_ASCII_SUFFIX);
    const std::string librarySuffix = "." + LoadProductString(IDS_LIBRARY_SUFFIX);

    if (registerFlag == 0) {
        if (!IsCurrentApplicationVersion()) return;
        DeleteRegistryTree(HKEY_CLASSES_ROOT, asciiSuffix);
        if (CountSystemOptionsValues() == 0) DeleteRegistryTree(HKEY_CLASSES_ROOT, librarySuffix);
        return;
    }

    const std::string languageDocName = LoadProductString(IDS_LANGUAGE_DOC_NAME);
    const std::string libraryDocName = LoadProductString(IDS_LIBRARY_DOC_NAME);
    WriteDefaultValue(HKEY_CLASSES_ROOT, asciiSuffix, languageDocName,
                      "Unable to create ASCII document suffix entry");
    WriteDefaultValue(HKEY_CLASSES_ROOT, librarySuffix, libraryDocName,
                      "Unable to create Library document suffix entry");
}

void RegisterSuffixSetting(int registerFlag) {
    // The Suffix key lies under the product settings key, which the unregistration removes whole.
    if (registerFlag == 0) return;

    const std::string path = "Software\\Corvalen\\" + LoadProductString(IDS_PRODUCT_KEY_NAME) + "\\" +
                             SystemVersionString() + "\\Suffix";
    UniqueKey key(Registry());
    if (!CreateKey(key, HKEY_LOCAL_MACHINE, path)) return;  // not reported
    const std::string data =
        LoadProductString(IDS_ASCII_SUFFIX) + "," + LoadProductString(IDS_LANGUAGE_DOC_NAME);
    if (!SetRegistryString(key.get(), "ASCII", data))
        ReportRegistrationError("Unable to create ASCII document suffix entry in HKLM");
}

void RegisterLibraryDocumentClass(int registerFlag) {
    const std::string libraryDocName = LoadProductString(IDS_LIBRARY_DOC_NAME);

    if (registerFlag == 0) {
        if (CountSystemOptionsValues() == 0 && IsCurrentApplicationVersion())
            DeleteRegistryTree(HKEY_CLASSES_ROOT, libraryDocName);
        return;
    }

    // The class id goes first: creating the CLSID subkey creates the type key too.
    WriteDefaultValue(HKEY_CLASSES_ROOT, libraryDocName + "\\CLSID", LoadProductString(IDS_LIBRARY_CLSID),
                      "Unable to create library document class id");

    const std::string typeName = LoadProductString(IDS_LIBRARY_TYPE_NAME);
    UniqueKey key(Registry());
    if (!CreateKey(key, HKEY_CLASSES_ROOT, libraryDocName)) return;  // not reported
    if (!SetRegistryString(key.get(), "", typeName))
        ReportRegistrationError("Unable to assign value to library class name");
}

}  // namespace qz
