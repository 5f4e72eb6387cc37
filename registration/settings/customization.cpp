// Where this module lives, for the host to find it at start-up
// (<settings>\Customization, DLL). Written in register mode only; it goes
// with the product settings key on unregistration.
#include "registration/module_state.h"
#include "registration/registration_steps.h"
#include "registration/product_lookups.h"

namespace qz {

void RegisterCustomizationKey(int registerFlag, const std::string& modulePath) {
    if (registerFlag == 0) return;
    UniqueKey key(Registry());
    if (CreateRegistryKey(HKEY_LOCAL_MACHINE, ProductSettingsKeyPath("Customization"), key) != ERROR_SUCCESS) {
        ReportRegistrationError(ReportMessage::OpenCustomizationKey);
        return;
    }
    if (SetRegistryString(key.get(), "DLL", modulePath) == 0)
        ReportRegistrationError(ReportMessage::EnterCustomizationDll);
}

}  // namespace qz
