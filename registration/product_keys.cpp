#include "registration/product_keys.h"

#include "product_version.h"
#include "registration/module_state.h"
#include "resources/resource_ids.h"
#include "text/code_page.h"

namespace qz {

std::string SystemVersionString() { return QZ_VERSION_TEXT; }

std::string ProductSettingsKeyPath() {
    return "Software\\Corvalen\\" + LoadProductString(IDS_PRODUCT_KEY_NAME) + "\\" + SystemVersionString();
}

std::string ProductSettingsKeyPath(const std::string& leaf) { return ProductSettingsKeyPath() + "\\" + leaf; }

std::string SystemOptionsSubkeyPath() { return "ZURedore\\" + SystemVersionString() + "\\Options"; }

std::string SystemOptionsKeyPath() { return "Software\\Corvalen\\" + SystemOptionsSubkeyPath(); }

std::string SystemDirKeyPath() { return "Software\\Corvalen\\ZURedore\\" + SystemVersionString() + "\\Dir"; }

std::string UserSettingsKeyPath() { return ProductSettingsKeyPath("IniSettings"); }

std::string CurrentVersionProgId() {
    return LoadProductString(IDS_APPLICATION_PROGID) + " " + LoadProductString(IDS_VERSION_MAJOR) +
           LoadProductString(IDS_VERSION_MINOR) + "0";
}

std::string ProductVersionLabel() { return QZ_VERSION_LABEL; }

std::string VersionedOpenVerbName(const std::string& label) {
    return "Open " + LoadProductString(IDS_PRODUCT_NAME) + " " + label;
}

LONG CreateRegistryKey(HKEY root, const std::string& path, UniqueKey& key) {
    // Only the rights the steps use on the handle: a key whose owner lets others
    // write it, but not delete it or change its permissions, is still written.
    return Registry().CreateKeyExW(root, Utf8ToUtf16(path).c_str(), REG_OPTION_NON_VOLATILE,
                                   KEY_SET_VALUE | KEY_CREATE_SUB_KEY, key.put());
}

}  // namespace qz
