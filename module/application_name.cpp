// The pre-step of a registration: the product's own (empty) key under the
// company key, and the product's value under the system Options key, which
// tells the modelling system, and the other products, that this product exists.
#include "module/registration_driver.h"
#include "registration/module_state.h"
#include "registration/registration_steps.h"
#include "registration/product_lookups.h"
#include "resources/resource_ids.h"

namespace qz {

void RegisterApplicationName() {
    RegistryApi& registry = Registry();
    UniqueKey company(registry);
    if (CreateRegistryKey(HKEY_LOCAL_MACHINE, "Software\\Corvalen", company) != ERROR_SUCCESS) {
        ReportRegistrationError(ReportMessage::OpenLocalMachine);
        return;
    }

    {
        UniqueKey product(registry);
        const std::string productKeyName = LoadProductString(IDS_PRODUCT_KEY_NAME);
        if (CreateRegistryKey(company.get(), productKeyName, product) != ERROR_SUCCESS)
            ReportRegistrationError(ReportMessage::CreateApplicationNameKey);
    }

    UniqueKey options(registry);
    if (CreateRegistryKey(company.get(), SystemOptionsSubkeyPath(), options) != ERROR_SUCCESS) {
        ReportRegistrationError(ReportMessage::OpenModelerOptionsKey);
        return;
    }
    if (SetRegistryString(options.get(), LoadProductString(IDS_PRODUCT_ABBREV),
                          LoadProductString(IDS_PRODUCT_KEY_NAME)) == 0)
        ReportRegistrationError(ReportMessage::EnterModelerOptionsValue);
}

}  // namespace qz
