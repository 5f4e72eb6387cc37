// The Suffix setting the host reads (<settings>\Suffix, ASCII: the suffix and
// its document type). Written in register mode only; it goes with the product
// settings key on unregistration.
#include <string>

#include "registration/module_state.h"
#include "registration/registration_steps.h"
#include "registration/product_lookups.h"
#include "resources/resource_ids.h"

namespace qz {

void RegisterSuffixSetting(int registerFlag) {
    // The Suffix key lies under the product settings key, which the unregistration removes whole.
    if (registerFlag == 0) return;

    UniqueKey key(Registry());
    if (CreateRegistryKey(HKEY_LOCAL_MACHINE, ProductSettingsKeyPath("Suffix"), key) != ERROR_SUCCESS)
        return;  // not reported
    const std::string data =
        LoadProductString(IDS_ASCII_SUFFIX) + "," + LoadProductString(IDS_LANGUAGE_DOC_NAME);
    if (!SetRegistryString(key.get(), "ASCII", data))
        ReportRegistrationError(ReportMessage::CreateAsciiSuffixSetting);
}

}  // namespace qz
