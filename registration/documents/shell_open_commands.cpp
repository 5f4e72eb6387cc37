// One versioned Open verb on the language document type for every installed
// version of the modelling system under which this product is registered, looked
// for in the 32-bit view (explicit Wow6432Node paths) first and the native view
// second, so that the native view's command wins when both give the same label.
#include <string>
#include <vector>

#include "registration/documents/shell_open_commands.h"

#include "registration/module_state.h"
#include "registration/registration_steps.h"
#include "registration/environment.h"
#include "registration/product_lookups.h"
#include "resources/resource_ids.h"
#include "text/utf16_data.h"

namespace qz {
namespace {

constexpr DWORD kVersionNameCapacity = 100;  // UTF-16 characters
constexpr DWORD kBinValueCapacity = 1024;    // characters (bytes for other types); longer data makes the read fail

struct RegistryViewPass {
    const char16_t* systemKey;
    const char* productKeyPrefix;  // followed by the product key name and a backslash
};

const RegistryViewPass kRegistryViewPasses[] = {
    {u"SOFTWARE\\Wow6432Node\\Corvalen\\ZUREDORE\\", "SOFTWARE\\Wow6432Node\\Corvalen\\"},
    {u"SOFTWARE\\Corvalen\\ZUREDORE\\", "SOFTWARE\\Corvalen\\"},
};

struct ProductTexts {
    std::string abbreviation;
    std::string keyName;
    std::string name;
};

// The label of an installation is the word after "ZURedore " in its bin path,
// up to the next backslash (...\ZURedore V12\bin\ gives V12); empty when the
// path does not have that shape.
std::string VersionLabel(const std::string& binText) {
    const std::string::size_type system = binText.find("ZURedore");
    if (system == std::string::npos) return std::string();
    const std::string::size_type space = binText.find(' ', system);
    if (space == std::string::npos) return std::string();
    const std::string::size_type backslash = binText.find('\\', space);
    if (backslash == std::string::npos) return std::string();
    return binText.substr(space + 1, backslash - space - 1);
}

// "[bin]\Tessaryn.exe" /abbrev "%1": the path is quoted so that a bin directory
// with spaces names one program, and a backslash is put in when the recorded
// directory does not end in one.
std::string VersionedOpenCommand(const std::string& binText, const std::string& abbreviation) {
    const std::string separator = binText.back() == '\\' ? "" : "\\";
    return "\"" + binText + separator + "Tessaryn.exe\" /" + abbreviation + " \"%1\"";
}

// The number of subkeys of a key; a key that did not open has none.
DWORD SubkeyCount(bool opened, const UniqueKey& key) {
    if (!opened) return 0;
    DWORD subKeys = 0;
    if (Registry().QueryInfoKeyW(key.get(), &subKeys, nullptr) != ERROR_SUCCESS) return 0;
    return subKeys;
}

// The Bin text of an installation's Dir key: text up to its first NUL, read as
// far as the value's size (data of any other type as text in the system code
// page), an expandable text expanded as Windows expands it (the command value
// is a plain string: a %variable% left in it would name no file); empty when
// it cannot be read whole or is not exactly representable.
struct BinText {
    std::string text;
    bool expandsFully = true;  // no %name% of an unset variable is left in it
};

BinText ReadBinText(const UniqueKey& dirKey) {
    std::vector<BYTE> data(kBinValueCapacity * sizeof(char16_t));
    DWORD size = static_cast<DWORD>(data.size());
    DWORD type = REG_NONE;
    if (Registry().QueryValueExW(dirKey.get(), u"Bin", &type, data.data(), &size) != ERROR_SUCCESS) return {};
    std::u16string wide;
    if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
        wide = Utf16TextOfData(data.data(), size);
    } else {
        if (size > kBinValueCapacity) return {};
        wide = CodePageTextOfData(data.data(), size);
    }
    BinText bin;
    if (!Utf16ToUtf8Exact(wide, bin.text)) return {};
    if (type == REG_EXPAND_SZ) {
        bin.expandsFully = NamesOnlyDefinedVariables(bin.text);
        bin.text = ExpandEnvironmentText(bin.text);
    }
    return bin;
}

// Whether a Bin text makes a versioned Open verb: it names the modelling
// system's folder and can be a path. One that names the system but cannot be a
// path shows a box when report is set (a registration), and gives no verb.
bool MakesAnOpenVerb(const BinText& bin, bool report) {
    if (bin.text.empty() || bin.text.find("ZURedore") == std::string::npos) return false;
    if (CanBeADirectoryPath(bin.text) && bin.expandsFully) return true;
    // Never into a command line: the verb is left out and the pass fails.
    if (report)
        ReportRegistrationError(ReportMessage::BinNotADirectory, {bin.text});
    return false;
}

// A key the search for versions must read is there but refuses: the document
// type is rebuilt without that version's verb, so the pass says so.
bool OpenForReading(HKEY parent, const std::u16string& path, UniqueKey& key, HKEY reportRoot,
                    const std::string& reportPath) {
    const LONG opened = Registry().OpenKeyExW(parent, path.c_str(), KEY_READ, key.put());
    if (opened != ERROR_SUCCESS && !IsMissingStatus(opened)) {
        std::string name = reportPath;
        while (!name.empty() && name.back() == '\\') name.pop_back();
        ReportUnreadableKey(reportRoot, name);
    }
    return opened == ERROR_SUCCESS;
}

// The versioned Open verb for the version named versionName, when the system has
// that version and records a bin directory of the expected shape for it. The
// version is looked for by its UTF-16 name, exactly as it was enumerated.
void RegisterVersionOpenCommand(const UniqueKey& systemKey, const std::string& systemKeyPath,
                                const std::u16string& versionName, const std::string& shellKeyPrefix,
                                const ProductTexts& product) {
    if (versionName.empty()) return;
    RegistryApi& registry = Registry();
    const std::string versionKeyPath = systemKeyPath + Utf16ToUtf8(versionName);
    UniqueKey versionKey(registry);
    if (!OpenForReading(systemKey.get(), versionName, versionKey, HKEY_LOCAL_MACHINE, versionKeyPath)) return;
    if (versionName == u"CurVer") return;
    UniqueKey dirKey(registry);
    if (!OpenForReading(versionKey.get(), u"Dir", dirKey, HKEY_LOCAL_MACHINE, versionKeyPath + "\\Dir")) return;

    const BinText bin = ReadBinText(dirKey);
    if (!MakesAnOpenVerb(bin, true)) return;

    const std::string verbName = VersionedOpenVerbName(VersionLabel(bin.text));
    const std::string commandKeyPath = shellKeyPrefix + verbName + "\\command";
    UniqueKey commandKey(registry);
    // A verb key that cannot be created is passed over without a message.
    if (CreateRegistryKey(HKEY_CLASSES_ROOT, commandKeyPath, commandKey) == ERROR_SUCCESS) {
        if (!SetRegistryString(commandKey.get(), "", VersionedOpenCommand(bin.text, product.abbreviation)))
            ReportRegistrationError(ReportMessage::CreateShellDocumentEntry);
        commandKey.reset();
    }
    dirKey.reset();
    versionKey.reset();
}

void RunRegistryViewPass(const RegistryViewPass& pass, const std::string& shellKeyPrefix,
                         const ProductTexts& product) {
    RegistryApi& registry = Registry();
    const std::string systemKeyPath = Utf16ToUtf8(pass.systemKey);
    UniqueKey systemKey(registry);
    const bool systemOpened =
        OpenForReading(HKEY_LOCAL_MACHINE, pass.systemKey, systemKey, HKEY_LOCAL_MACHINE, systemKeyPath);
    UniqueKey productKey(registry);
    const std::string productKeyPath = pass.productKeyPrefix + product.keyName + "\\";
    const bool productOpened =
        OpenForReading(HKEY_LOCAL_MACHINE, Utf8ToUtf16(productKeyPath), productKey, HKEY_LOCAL_MACHINE, productKeyPath);

    const DWORD systemVersions = SubkeyCount(systemOpened, systemKey);
    const DWORD productVersions = SubkeyCount(productOpened, productKey);
    if (systemVersions == 0 || productVersions == 0) return;

    for (DWORD index = 0; index < productVersions; ++index) {
        char16_t name[kVersionNameCapacity];
        DWORD length = kVersionNameCapacity;
        if (registry.EnumKeyExW(productKey.get(), index, name, &length) != ERROR_SUCCESS) continue;
        RegisterVersionOpenCommand(systemKey, systemKeyPath, std::u16string(name, length), shellKeyPrefix, product);
    }
}

}  // namespace

void RegisterShellOpenCommands(std::string shellKeyPrefix) {
    ProductTexts product;
    product.abbreviation = LoadProductString(IDS_PRODUCT_ABBREV);
    product.keyName = LoadProductString(IDS_PRODUCT_KEY_NAME);
    product.name = LoadProductString(IDS_PRODUCT_NAME);
    for (const RegistryViewPass& pass : kRegistryViewPasses)
        RunRegistryViewPass(pass, shellKeyPrefix, product);
}

std::vector<std::string> ThisVersionOpenVerbNames() {
    std::vector<std::string> names{VersionedOpenVerbName(ProductVersionLabel())};
    // This installation is the system's own version in the native view: its Bin
    // gave the label the registration wrote (...\ZURedore V12 Update 2\bin gives
    // "V12 Update 2"). Found as the registration finds it, without its boxes for
    // a Bin that gives no verb; a Dir key that is there but cannot be read is
    // said, since the verb its label names might then stay.
    const std::string dirKeyPath = Utf16ToUtf8(kRegistryViewPasses[1].systemKey) + SystemVersionString() + "\\Dir";
    UniqueKey dirKey(Registry());
    if (!OpenForReading(HKEY_LOCAL_MACHINE, Utf8ToUtf16(dirKeyPath), dirKey, HKEY_LOCAL_MACHINE, dirKeyPath))
        return names;
    const BinText bin = ReadBinText(dirKey);
    if (!MakesAnOpenVerb(bin, false)) return names;
    const std::string installed = VersionedOpenVerbName(VersionLabel(bin.text));
    if (installed != names.front()) names.push_back(installed);
    return names;
}

}  // namespace qz
