// What an unregistration removes before the steps run in unregister mode: the
// things that belong to this product version alone and that no step removes
// itself. The shared classes-root keys are left to the steps, which remove them
// only while this version is the current one.
#include "module/registration_driver.h"
#include "registration/documents/shell_open_commands.h"
#include "registration/module_state.h"
#include "registration/registration_steps.h"
#include "registration/product_lookups.h"
#include "registry/memory/reg_tree.h"
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
    LONG status = registry.OpenKeyExW(HKEY_LOCAL_MACHINE, Utf8ToUtf16(SystemOptionsKeyPath()).c_str(), KEY_SET_VALUE,
                                      options.put());
    const std::string abbreviation = LoadProductString(IDS_PRODUCT_ABBREV);
    if (status == ERROR_SUCCESS) status = registry.DeleteValueW(options.get(), Utf8ToUtf16(abbreviation).c_str());
    // A value that stays would still count this product as installed.
    if (status != ERROR_SUCCESS && !IsMissingStatus(status))
        ReportRegistrationError(ReportMessage::RemoveOptionsValue,
                                {abbreviation, FullKeyName(HKEY_LOCAL_MACHINE, SystemOptionsKeyPath())});
}

void RemoveShellVerbs() {
    // This version's own Open verbs: the one with its fixed label, and the one
    // its installation's folder named. The shell open commands write every verb
    // with a "command" subkey, so a verb goes as a tree: a single-key delete
    // would refuse it.
    const std::string shellKey = LoadProductString(IDS_LANGUAGE_DOC_NAME) + "\\shell\\";
    for (const std::string& verb : ThisVersionOpenVerbNames()) (void)DeleteRegistryTree(HKEY_CLASSES_ROOT, shellKey + verb);
}

}  // namespace qz
