#include "registration/product_lookups.h"

#include <cstring>
#include <optional>
#include <vector>

#include "registration/environment.h"
#include "registry/memory/reg_tree.h"
#include "resources/resource_ids.h"
#include "text/code_page.h"
#include "text/utf16_data.h"

namespace qz {
namespace {

// Directory and CurVer texts are read whole up to this many UTF-16 characters
// (data of other types up to this many bytes); a longer value counts as missing.
constexpr DWORD kDirectoryValueCapacity = 4096;
constexpr DWORD kCurVerValueCapacity = 4096;

const char* InstallDirectoryValueName(InstallDirectoryKind kind) {
    switch (kind) {
        case InstallDirectoryKind::Bin: return "bin";
        case InstallDirectoryKind::Help: return "help";
        case InstallDirectoryKind::Lib: return "lib";
        case InstallDirectoryKind::Lic: return "lic";
        case InstallDirectoryKind::Root: return "root";
    }
    return nullptr;
}

std::string SystemDirKeyName() { return "HKEY_LOCAL_MACHINE\\" + SystemDirKeyPath(); }

// The key whose default value names the current version of the application.
std::string CurVerKeyPath() { return LoadProductString(IDS_APPLICATION_PROGID) + "\\CurVer"; }

// Every directory lookup of a pass meets a missing installation alike: one box says so.
void ReportMissingInstallation(const char* valueName, ReportMessage why) {
    ReportRegistrationErrorOnce("installation directory", why, {SystemDirKeyName(), valueName});
}

bool IsTextType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }
// Types whose data the registry keeps as UTF-16 (a multi-string reads as its first string).
bool IsWideStringType(DWORD type) { return IsTextType(type) || type == REG_MULTI_SZ; }

}  // namespace

LONG SetRegistryDword(HKEY key, const char* valueName, DWORD number) {
    BYTE data[sizeof number];
    std::memcpy(data, &number, sizeof number);
    return Registry().SetValueExW(key, Utf8ToUtf16(valueName).c_str(), REG_DWORD, data, sizeof data);
}

void WriteDefaultValue(HKEY root, const std::string& path, const std::string& value,
                       ReportMessage failure) {
    UniqueKey key(Registry());
    if (CreateRegistryKey(root, path, key) != ERROR_SUCCESS || !SetRegistryString(key.get(), "", value))
        ReportRegistrationError(failure);
}

void ReportUnreadableKey(HKEY root, const std::string& path) {
    const std::string name = FullKeyName(root, path);
    ReportRegistrationErrorOnce("unreadable " + name, ReportMessage::UnreadableKey, {name});
}

int DeleteRegistryTree(HKEY root, std::string path) {
    LONG status = ERROR_SUCCESS;
    if (DeleteRegistryTreeSilently(Registry(), root, path, &status) == 1) return 1;
    if (IsMissingStatus(status)) return 0;
    ReportRegistrationError(ReportMessage::RemoveKey, {FullKeyName(root, path)});
    return 0;
}

bool CanBeADirectoryPath(const std::string& text) {
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || c == '"' || c == '<' || c == '>' || c == '|') return false;
    }
    return true;
}

std::string GetInstallDirectory(InstallDirectoryKind kind) {
    const char* valueName = InstallDirectoryValueName(kind);
    if (valueName == nullptr) return std::string();
    NoteForHost(QZ_NOTE_DIRECTORY_VALUE, HKEY_LOCAL_MACHINE, SystemDirKeyPath(), valueName);

    RegistryApi& registry = Registry();
    UniqueKey key(registry);
    const LONG opened = registry.OpenKeyExW(HKEY_LOCAL_MACHINE, Utf8ToUtf16(SystemDirKeyPath()).c_str(), KEY_READ, key.put());
    if (opened != ERROR_SUCCESS) {
        ReportMissingInstallation(valueName, IsMissingStatus(opened) ? ReportMessage::InstallationKeyMissing
                                                                   : ReportMessage::InstallationKeyUnreadable);
        return std::string();
    }

    std::vector<BYTE> data(kDirectoryValueCapacity * sizeof(char16_t));
    DWORD size = static_cast<DWORD>(data.size());
    DWORD type = REG_NONE;
    const LONG status = registry.QueryValueExW(key.get(), Utf8ToUtf16(valueName).c_str(), &type, data.data(), &size);
    key.reset();
    const bool tooLong =
        status == ERROR_MORE_DATA || (status == ERROR_SUCCESS && !IsWideStringType(type) && size > kDirectoryValueCapacity);
    if (tooLong) {
        ReportMissingInstallation(valueName, ReportMessage::InstallationValueTooLong);
        return std::string();
    }
    if (status != ERROR_SUCCESS) {
        ReportMissingInstallation(valueName, IsMissingStatus(status) ? ReportMessage::InstallationValueMissing
                                                                   : ReportMessage::InstallationValueUnreadable);
        return std::string();
    }

    // Whatever the stored type, the data is taken as text; only text counts as
    // an installation, and an expandable one is expanded as Windows would.
    const std::u16string wide = IsWideStringType(type) ? Utf16TextOfData(data.data(), size) : CodePageTextOfData(data.data(), size);
    // Every step that needs this directory asks for it; a value that cannot be
    // used says so once per pass, not once per step.
    const std::string unusableTopic = std::string("unusable directory ") + valueName;
    std::string text;
    if (!Utf16ToUtf8Exact(wide, text)) {
        ReportRegistrationErrorOnce(unusableTopic, ReportMessage::DirectoryValueInvalid,
                                    {std::string(valueName), SystemDirKeyName()});
        return std::string();
    }
    if (!IsTextType(type)) ReportMissingInstallation(valueName, ReportMessage::InstallationValueNotText);
    // A reference to a variable this process does not have (a deployment tool
    // running without it, say) stays in the text: that is no directory.
    const bool expandsFully = type != REG_EXPAND_SZ || NamesOnlyDefinedVariables(text);
    if (type == REG_EXPAND_SZ) text = ExpandEnvironmentText(text);
    if (text.empty()) {
        ReportMissingInstallation(valueName, ReportMessage::InstallationValueEmpty);
        return std::string();
    }
    if (!CanBeADirectoryPath(text) || !expandsFully) {
        // Data that is not text has been reported as such; its bytes read as
        // text (a number's bytes, say) are no directory and need no second box.
        if (!IsTextType(type)) return std::string();
        // Such a text must never reach a command line: the pass fails instead.
        ReportRegistrationErrorOnce(unusableTopic, ReportMessage::DirectoryValueNotADirectory,
                                    {std::string(valueName), SystemDirKeyName(), text});
        return std::string();
    }
    return text;
}

int CountSystemOptionsValues() {
    RegistryApi& registry = Registry();
    UniqueKey key(registry);
    const LONG opened =
        registry.OpenKeyExW(HKEY_LOCAL_MACHINE, Utf8ToUtf16(SystemOptionsKeyPath()).c_str(), KEY_QUERY_VALUE, key.put());
    if (IsMissingStatus(opened)) return 0;
    // A count that cannot be made must not read as "no product left": the
    // shared keys the last product removes would go while others still use them.
    DWORD values = 0;
    if (opened != ERROR_SUCCESS || registry.QueryInfoKeyW(key.get(), nullptr, &values) != ERROR_SUCCESS) {
        ReportUnreadableKey(HKEY_LOCAL_MACHINE, SystemOptionsKeyPath());
        return -1;
    }
    // Each product is one named value; an empty default value (what creating
    // the key with a tool leaves) is none.
    DWORD defaultSize = 0;
    const LONG defaultValue = registry.QueryValueExW(key.get(), u"", nullptr, nullptr, &defaultSize);
    if (defaultValue == ERROR_SUCCESS || defaultValue == ERROR_MORE_DATA) return static_cast<int>(values) - 1;
    if (IsMissingStatus(defaultValue)) return static_cast<int>(values);
    ReportUnreadableKey(HKEY_LOCAL_MACHINE, SystemOptionsKeyPath());
    return -1;
}

namespace {

enum class CurrentVersion { This, Another, Unreadable };

// What the application ProgID's CurVer says, without a box: Unreadable when
// the key is there but cannot be opened.
CurrentVersion ReadCurrentVersion() {
    const std::u16string expected = Utf8ToUtf16(CurrentVersionProgId());

    RegistryApi& registry = Registry();
    UniqueKey key(registry);
    const std::u16string curVerPath = Utf8ToUtf16(CurVerKeyPath());
    const LONG opened = registry.OpenKeyExW(HKEY_CLASSES_ROOT, curVerPath.c_str(), KEY_READ, key.put());
    // No CurVer key: no other version has claimed the classes root.
    if (IsMissingStatus(opened)) return CurrentVersion::This;
    if (opened != ERROR_SUCCESS) return CurrentVersion::Unreadable;

    std::vector<BYTE> data(kCurVerValueCapacity * sizeof(char16_t));
    DWORD size = static_cast<DWORD>(data.size());
    DWORD type = REG_NONE;
    if (registry.QueryValueExW(key.get(), nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
        return CurrentVersion::Another;
    // The whole ProgID, without regard to letter case as ProgIDs compare: a
    // newer build (OVX Application 3805) is another version, a differently
    // written one (ovx application 3800) is this one.
    const std::u16string current =
        IsWideStringType(type) ? Utf16TextOfData(data.data(), size) : CodePageTextOfData(data.data(), size);
    return RegistryNamesEqual(current, expected) ? CurrentVersion::This : CurrentVersion::Another;
}

}  // namespace

int IsCurrentApplicationVersion() {
    const CurrentVersion current = ReadCurrentVersion();
    if (current == CurrentVersion::Unreadable) {
        // Not knowing which version is current, keep what the current one uses.
        ReportUnreadableKey(HKEY_CLASSES_ROOT, CurVerKeyPath());
        return 0;
    }
    return current == CurrentVersion::This ? 1 : 0;
}

void NoteWhichVersionIsCurrent() {
    if (!HostTakesNotes()) return;
    // Whatever keeps an unregistration from removing the shared keys makes them another version's.
    if (ReadCurrentVersion() != CurrentVersion::This)
        NoteForHost(QZ_NOTE_ANOTHER_VERSION_CURRENT, HKEY_CLASSES_ROOT, CurVerKeyPath());
}

void NoteCurrentVersionsKey(const std::string& classesRootPath) {
    NoteForHost(QZ_NOTE_CURRENT_VERSIONS_KEY, HKEY_CLASSES_ROOT, classesRootPath);
}

}  // namespace qz
