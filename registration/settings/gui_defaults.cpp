// The two GUI default switches the host reads at start-up
// (<settings>\GUIDefaults), from the product's strings. Written in register
// mode only; they go with the product settings key on unregistration.
#include "registration/settings/gui_defaults.h"

#include "registration/module_state.h"
#include "registration/registration_steps.h"
#include "registration/product_lookups.h"
#include "resources/resource_ids.h"
#include "text/ascii.h"

namespace qz {

DWORD ProductSwitchValue(const std::string& text) {
    return AsciiEqualIgnoringCase(text, "TRUE") || text == "1" ? 1 : 0;
}

void RegisterGuiDefaults(int registerFlag) {
    if (registerFlag == 0) return;
    UniqueKey key(Registry());
    if (CreateRegistryKey(HKEY_LOCAL_MACHINE, ProductSettingsKeyPath("GUIDefaults"), key) != ERROR_SUCCESS) {
        ReportRegistrationError(ReportMessage::OpenGuiDefaultsKey);
        return;
    }
    // A failed first switch does not keep the second from being written.
    if (SetRegistryDword(key.get(), "CtrlStreamFixedOnly",
                         ProductSwitchValue(LoadProductString(IDS_CTRL_STREAM_FIXED_ONLY))) != ERROR_SUCCESS)
        ReportRegistrationError(ReportMessage::EnterControlStreamConnection);
    if (SetRegistryDword(key.get(), "CustomModelingOn",
                         ProductSwitchValue(LoadProductString(IDS_CUSTOM_MODELING_ON))) != ERROR_SUCCESS)
        ReportRegistrationError(ReportMessage::EnterCustomModeling);
}

}  // namespace qz
