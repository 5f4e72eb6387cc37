// The product's document suffixes (.<ascii suffix> and .<library suffix> under
// the classes root, each naming its document type). The library suffix is
// shared by every product of the family: it goes only when no product is left
// with the system.
#include <string>
#include <vector>

#include "registration/module_state.h"
#include "registration/registration_steps.h"
#include "registration/product_lookups.h"
#include "registry/memory/reg_tree.h"
#include "resources/resource_ids.h"
#include "text/utf16_data.h"

namespace qz {
namespace {

constexpr DWORD kDefaultTextCapacity = 1024;  // UTF-16 characters

// The default value of an open key as UTF-16 text; empty when it is missing or not text.
std::u16string ReadDefaultText(HKEY key) {
    std::vector<BYTE> data(kDefaultTextCapacity * sizeof(char16_t));
    DWORD size = static_cast<DWORD>(data.size());
    DWORD type = REG_NONE;
    if (Registry().QueryValueExW(key, u"", &type, data.data(), &size) != ERROR_SUCCESS) return std::u16string();
    if (type != REG_SZ && type != REG_EXPAND_SZ) return std::u16string();
    return Utf16TextOfData(data.data(), size);
}

// A suffix key is shared with every program that handles the suffix (their
// OpenWithProgids, ShellNew and so on live in it): only what this module wrote
// goes, the default value while it still names this module's document type,
// and the key itself only when nothing else is left in it. Each open asks only
// for what it does, so a key others may read but not change still answers
// whose it is; a key that is ours to change but refuses says so with a box.
void RemoveSuffixAssociation(const std::string& suffix, const std::string& documentType) {
    RegistryApi& registry = Registry();
    const std::u16string path = Utf8ToUtf16(suffix);
    bool ours = false;
    {
        UniqueKey key(registry);
        const LONG opened = registry.OpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), KEY_QUERY_VALUE, key.put());
        if (IsMissingStatus(opened)) return;
        if (opened != ERROR_SUCCESS) {
            // Whose the key is cannot be told: it stays, and the pass says so.
            ReportUnreadableKey(HKEY_CLASSES_ROOT, suffix);
            return;
        }
        ours = RegistryNamesEqual(ReadDefaultText(key.get()), Utf8ToUtf16(documentType));
    }
    if (ours) {
        UniqueKey key(registry);
        LONG status = registry.OpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), KEY_SET_VALUE, key.put());
        if (status == ERROR_SUCCESS) status = registry.DeleteValueW(key.get(), u"");
        if (status != ERROR_SUCCESS && !IsMissingStatus(status)) {
            ReportRegistrationError(ReportMessage::RemoveSuffixDefault, {FullKeyName(HKEY_CLASSES_ROOT, suffix)});
            return;
        }
    }
    {
        UniqueKey key(registry);
        if (registry.OpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) return;
        DWORD subKeys = 0;
        DWORD values = 0;
        if (registry.QueryInfoKeyW(key.get(), &subKeys, &values) != ERROR_SUCCESS) return;
        if (subKeys != 0 || values != 0) return;
    }
    const LONG deleted = registry.DeleteKeyW(HKEY_CLASSES_ROOT, path.c_str());
    // An empty key another program left is passed over; the one whose value was ours is ours.
    if (ours && deleted != ERROR_SUCCESS && !IsMissingStatus(deleted))
        ReportRegistrationError(ReportMessage::RemoveKey, {FullKeyName(HKEY_CLASSES_ROOT, suffix)});
}

}  // namespace

void RegisterDocumentSuffixes(int registerFlag) {
    const std::string asciiSuffix = "." + LoadProductString(IDS_ASCII_SUFFIX);
    const std::string librarySuffix = "." + LoadProductString(IDS_LIBRARY_SUFFIX);

    const std::string languageDocName = LoadProductString(IDS_LANGUAGE_DOC_NAME);
    const std::string libraryDocName = LoadProductString(IDS_LIBRARY_DOC_NAME);

    if (registerFlag == 0) {
        if (!IsCurrentApplicationVersion()) return;
        RemoveSuffixAssociation(asciiSuffix, languageDocName);
        if (CountSystemOptionsValues() == 0) RemoveSuffixAssociation(librarySuffix, libraryDocName);
        return;
    }

    // Like their removal above, they are the current version's.
    NoteCurrentVersionsKey(asciiSuffix);
    NoteCurrentVersionsKey(librarySuffix);
    WriteDefaultValue(HKEY_CLASSES_ROOT, asciiSuffix, languageDocName,
                      ReportMessage::CreateAsciiSuffixEntry);
    WriteDefaultValue(HKEY_CLASSES_ROOT, librarySuffix, libraryDocName,
                      ReportMessage::CreateLibrarySuffixEntry);
}

}  // namespace qz
