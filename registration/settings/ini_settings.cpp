// The current user's "What's new" switch (IniSettings), set back to 0 by every
// registration. RegisterHelpMenu calls it in register mode; unregistration
// leaves the per-user key alone.
#include "registration/module_state.h"
#include "registration/registration_steps.h"
#include "registration/product_lookups.h"

namespace qz {

void RegisterIniSettings() {
    UniqueKey key(Registry());
    if (CreateRegistryKey(HKEY_CURRENT_USER, UserSettingsKeyPath(), key) != ERROR_SUCCESS) {
        ReportRegistrationError(ReportMessage::CreateWhatsNewKey);
        return;
    }
    // Each registration sets the switch back to 0 for the user who runs it; a
    // refused write of it is passed over without a box.
    const char kWhatsNew[] = "whatsnew_ovx";
    (void)SetRegistryDword(key.get(), kWhatsNew, 0);
    // The host application turns it on and off after its first start: once
    // there, any number in it is the user's, not a registration to mend.
    NoteForHost(QZ_NOTE_MACHINE_OWNED_VALUE, HKEY_CURRENT_USER, UserSettingsKeyPath(), kWhatsNew);
}

}  // namespace qz
