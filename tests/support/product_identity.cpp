#include "tests/support/product_identity.h"

namespace qz::test {

const std::vector<ProductKey>& ProductKeys() {
    static const std::vector<ProductKey> keys = {
        {"HKEY_LOCAL_MACHINE\\Software\\Corvalen"},
        {"HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Corvalen", true},
        {"HKEY_CURRENT_USER\\Software\\Corvalen"},
        {kAsciiSuffixKey},
        {kLibrarySuffixKey},
        {kDocumentTypeKey},
        {kLibraryTypeKey},
        {kApplicationProgIdKey},
        {kVersionedProgIdKey},
        {kApplicationClassKey},
        {kDocumentClassKey},
        {kLibraryClassKey},
    };
    return keys;
}

std::vector<std::string> ExportedProductKeys() {
    std::vector<std::string> names;
    for (const ProductKey& key : ProductKeys())
        if (!key.otherView) names.push_back(key.name);
    return names;
}

const char kSystemDirKey[] = "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Dir";

const char kSystemDirSeed[] = R"(REGEDIT4
[HKEY_LOCAL_MACHINE\Software\Corvalen\ZURedore\38.0\Dir]
"bin"="C:\\Program Files\\Corvalen\\ZURedore V12\\bin"
)";

}  // namespace qz::test
