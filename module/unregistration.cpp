// What an unregistration removes before the steps run in unregister mode: the
// things that belong to this product version alone and that no step removes
// itself. The shared classes-root keys are left to the steps, which remove them
// only while this version is the current one.
#include "module/registration_driver.h"
#include "registration/module_state.h"
#include "registration/registration_steps.h"
#include "registration/product_lookups.h"
#include "resources/resource_ids.h"

namespace qz {

void RemoveProductKeys() {
    // The product settings key with everything below it. Software\Corvalen\<product>
    // itself stays: other versions of the product may live under it.
    (void)DeleteRegistryTree(HKEY_LOCAL_MACHINE, ProductSettingsKeyPath());

    RemoveShellVerbs();

    // This product's value only: the other products' values in the Options key stay.
    RegistryApi& registry = Registry();
    UniqueKey options(registry);
    if (registry.OpenKeyExW(HKEY_LOCAL_MACHINE, Utf8ToUtf16(SystemOptionsKeyPath()).c_str(), KEY_ALL_ACCESS, options.put()) ==
        ERROR_SUCCESS) {
        const std::string abbreviation = LoadProductString(IDS_PRODUCT_ABBREV);
        const LONG status = registry.DeleteValueW(options.get(), Utf8ToUtf16(abbreviation).c_str());
        // A value that stays would still count this product as installed.
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
            ReportRegistrationError("Unable to remove the value " + abbreviation + " of HKEY_LOCAL_MACHINE\\" +
                                    SystemOptionsKeyPath());
    }
}

void RemoveShellVerbs() {
    // This version's own Open verb. The shell open commands write every verb with a
    // "command" subkey, so the verb goes as a tree: a single-key delete would refuse it.
    const std::string verb = VersionedOpenVerbName(ProductVersionLabel());
    (void)DeleteRegistryTree(HKEY_CLASSES_ROOT, LoadProductString(IDS_LANGUAGE_DOC_NAME) + "\\shell\\" + verb);
}

}  // namespace qz
