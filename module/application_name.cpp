// The pre-step of a registration: the product's own (empty) key under the
// company key, and the product's value under the system Options key, which
// tells the modelling system, and the other products, that this product exists.
#include "module/module_state.h"
#include "module/registration_steps.h"
#include "registration/product_lookups.h"
#include "resources/resource_ids.h"

namespace qz {

void RegisterApplicationName() {
    RegistryApi& registry = Registry();
    UniqueKey company(registry);
    if (registry.CreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Corvalen", REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                             company.put()) != ERROR_SUCCESS) {
        ReportRegistrationError("Unable to open HKEY_LOCAL_MACHINE");
        return;
    }

    {
        UniqueKey product(registry);
        const std::string productKeyName = LoadProductString(IDS_PRODUCT_KEY_NAME);
        if (registry.CreateKeyExW(company.get(), Utf8ToUtf16(productKeyName).c_str(), REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                 product.put()) != ERROR_SUCCESS)
            ReportRegistrationError("Unable to create Application Name key");
    }

    UniqueKey options(registry);
    if (registry.CreateKeyExW(company.get(), Utf8ToUtf16(SystemOptionsSubkeyPath()).c_str(), REG_OPTION_NON_VOLATILE,
                             KEY_ALL_ACCESS, options.put()) != ERROR_SUCCESS) {
        ReportRegistrationError("Unable to open modeler options key");
        return;
    }
    if (SetRegistryString(options.get(), LoadProductString(IDS_PRODUCT_ABBREV),
                          LoadProductString(IDS_PRODUCT_KEY_NAME)) == 0)
        ReportRegistrationError("Unable to enter value in modeler options key");
}

}  // namespace qz
