// The product's default libraries (one value per file, its data the file's
// path in the installation's library directory) and its script library (a file
// name only). Both keys lie under the product settings key, so they are written
// in register mode only and go with that key on unregistration.
#include "registration/settings/libraries.h"

#include "registration/module_state.h"
#include "registration/registration_steps.h"
#include "registration/product_lookups.h"
#include "resources/resource_ids.h"
#include "text/ascii.h"

namespace qz {

std::string WithoutLeadingWhiteSpace(const std::string& text) {
    const std::string::size_type first = text.find_first_not_of(" \t\n\v\f\r");
    return first == std::string::npos ? std::string() : text.substr(first);
}

std::vector<std::string> DefaultLibraryNames(const std::string& list) {
    const std::string text = WithoutLeadingWhiteSpace(list);
    std::vector<std::string> names;
    if (text.empty() || AsciiEqualIgnoringCase(text, "none")) return names;
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type comma = text.find(',', start);
        const std::string::size_type end = comma == std::string::npos ? text.size() : comma;
        if (end > start) names.push_back(text.substr(start, end - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return names;
}

void RegisterDefaultLibraries(int registerFlag) {
    const std::string path = ProductSettingsKeyPath("Default Libraries");
    if (registerFlag == 0) return;

    const std::string list = WithoutLeadingWhiteSpace(LoadProductString(IDS_DEFAULT_LIBRARY));
    // "none" (or nothing): no key at all, and nothing to report. A list of empty
    // names only (",,") still creates the key, with no value in it.
    if (list.empty() || AsciiEqualIgnoringCase(list, "none")) return;

    const std::string directory = GetInstallDirectory(InstallDirectoryKind::Lib) + "\\";
    UniqueKey key(Registry());
    if (CreateRegistryKey(HKEY_LOCAL_MACHINE, path, key) != ERROR_SUCCESS) {
        ReportRegistrationError(ReportMessage::CreateDefaultLibraryKey);
        return;
    }
    for (const std::string& name : DefaultLibraryNames(list)) {
        if (SetRegistryString(key.get(), name, directory + name) == 0)
            ReportRegistrationError(ReportMessage::CreateDefaultLibraryEntry);
    }
}

void RegisterScriptLibrary(int registerFlag) {
    const std::string path = ProductSettingsKeyPath("Script Library");
    if (registerFlag == 0) return;

    // No "none" test here: an empty name is written as it is.
    const std::string fileName = WithoutLeadingWhiteSpace(LoadProductString(IDS_SCRIPT_LIBRARY));
    UniqueKey key(Registry());
    // A missing Script Library key is passed over without a box.
    if (CreateRegistryKey(HKEY_LOCAL_MACHINE, path, key) != ERROR_SUCCESS) return;
    if (SetRegistryString(key.get(), "Default", fileName) == 0)
        ReportRegistrationError(ReportMessage::CreateScriptLibraryEntry);
}

}  // namespace qz
