// The class of the flowsheet view the host creates (<settings>\ZOZView, DLL).
// Written in register mode only; it goes with the product settings key on
// unregistration.
#include "registration/module_state.h"
#include "registration/registration_steps.h"
#include "registration/product_lookups.h"
#include "resources/resource_ids.h"

namespace qz {

void RegisterZozViewClass(int registerFlag) {
    if (registerFlag == 0) return;
    const std::string path = ProductSettingsKeyPath("ZOZView");
    // Named "DLL" like the Customization value, although it holds a class id.
    const std::string classId = LoadProductString(IDS_LANGUAGE_CLSID);
    UniqueKey key(Registry());
    if (CreateRegistryKey(HKEY_LOCAL_MACHINE, path, key) != ERROR_SUCCESS) {
        ReportRegistrationError(ReportMessage::OpenZozClsidKey);
        return;
    }
    if (SetRegistryString(key.get(), "DLL", classId) == 0)
        ReportRegistrationError(ReportMessage::EnterZozDefaultClsid);
}

}  // namespace qz
