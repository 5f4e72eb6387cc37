// Settings the host reads at start-up: where this module lives (Customization),
// the class of the flowsheet view (ZOZView), the two GUI default switches
// (GUIDefaults) and the current user's "What's new" switch (IniSettings).
// All of them are written in register mode only; unregistration removes the
// machine keys with the product settings key and leaves the per-user key alone.
#include "registration/settings/customization.h"

#include <cstring>

#include "registration/module_state.h"
#include "registration/registration_steps.h"
#include "registration/product_lookups.h"
#include "resources/resource_ids.h"
#include "text/ascii.h"

namespace qz {
namespace {

// A 32-bit number in the machine's byte order, 4 bytes.
LONG SetRegistryDword(HKEY key, const char* valueName, DWORD number) {
    BYTE data[sizeof number];
    std::memcpy(data, &number, sizeof number);
    return Registry().SetValueExW(key, Utf8ToUtf16(valueName).c_str(), REG_DWORD, data, sizeof data);
}

}  // namespace

DWORD ProductSwitchValue(const std::string& text) {
    return AsciiEqualIgnoringCase(text, "TRUE") || text == "1" ? 1 : 0;
}

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

void RegisterIniSettings() {
    UniqueKey key(Registry());
    if (CreateRegistryKey(HKEY_CURRENT_USER, UserSettingsKeyPath(), key) != ERROR_SUCCESS) {
        ReportRegistrationError(ReportMessage::CreateWhatsNewKey);
        return;
    }
    // Each registration sets the switch back to 0 for the user who runs it; a
    // refused write of it is passed over without a box.
    (void)SetRegistryDword(key.get(), "whatsnew_ovx", 0);
}

}  // namespace qz
