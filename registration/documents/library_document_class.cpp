// The library document type key (its class id and type name). Shared by
// every product of the family: it goes only when no product is left with the
// system and this version is the current one.
#include <string>

#include "registration/module_state.h"
#include "registration/registration_steps.h"
#include "registration/product_lookups.h"
#include "resources/resource_ids.h"

namespace qz {

void RegisterLibraryDocumentClass(int registerFlag) {
    const std::string libraryDocName = LoadProductString(IDS_LIBRARY_DOC_NAME);

    if (registerFlag == 0) {
        if (CountSystemOptionsValues() == 0 && IsCurrentApplicationVersion())
            DeleteRegistryTree(HKEY_CLASSES_ROOT, libraryDocName);
        return;
    }

    NoteCurrentVersionsKey(libraryDocName);  // removed above only by the current version
    // The class id goes first: creating the CLSID subkey creates the type key too.
    WriteDefaultValue(HKEY_CLASSES_ROOT, libraryDocName + "\\CLSID", LoadProductString(IDS_LIBRARY_CLSID),
                      ReportMessage::CreateLibraryClassId);

    const std::string typeName = LoadProductString(IDS_LIBRARY_TYPE_NAME);
    UniqueKey key(Registry());
    if (CreateRegistryKey(HKEY_CLASSES_ROOT, libraryDocName, key) != ERROR_SUCCESS) return;  // not reported
    if (!SetRegistryString(key.get(), "", typeName))
        ReportRegistrationError(ReportMessage::AssignLibraryClassName);
}

}  // namespace qz
