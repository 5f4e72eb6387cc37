// One versioned Open verb on the language document type for every installed
// version of the modelling system under which this product is registered, looked
// for in the 32-bit view (explicit Wow6432Node paths) first and the native view
// second, so that the native view's command wins when both give the same label.
#include <string>

#include "module/module_state.h"
#include "module/registration_steps.h"
#include "registration/documents/key_name_text.h"
#include "registration/product_lookups.h"
#include "resources/resource_ids.h"

namespace qz {
namespace {

constexpr DWORD kVersionNameCapacity = 100;  // UTF-16 characters
constexpr DWORD kBinValueCapacity = 1024;    // bytes; longer data makes the read fail

struct RegistryViewPass {
    const char* systemKey;
    const char* productKeyPrefix;  // followed by the product key name and a backslash
};

const RegistryViewPass kRegistryViewPasses[] = {
    {"SOFTWARE\\Wow6432Node\\Corvalen\\ZUREDORE\\", "SOFTWARE\\Wow6432Node\\Corvalen\\"},
    {"SOFTWARE\\Corvalen\\ZUREDORE\\", "SOFTWARE\\Corvalen\\"},
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
    if (Registry().QueryInfoKey(key.get(), nullptr, nullptr, &subKeys, nullptr) != ERROR_SUCCESS) return 0;
    return subKeys;
}

// The versioned Open verb for the version named versionName, when the system has
// that version and records a bin directory of the expected shape for it.
void RegisterVersionOpenCommand(const UniqueKey& systemKey, const std::string& versionName,
                                const std::string& shellKeyPrefix, const ProductTexts& product) {
    // A name the code page could not express names no version.
    if (versionName.empty()) return;
    RegistryApi& registry = Registry();
    UniqueKey versionKey(registry);
    if (registry.OpenKey(systemKey.get(), versionName.c_str(), versionKey.put()) != ERROR_SUCCESS) return;
    if (versionName == "CurVer") return;
    UniqueKey dirKey(registry);
    if (registry.OpenKey(versionKey.get(), "Dir", dirKey.put()) != ERROR_SUCCESS) return;

    BYTE data[kBinValueCapacity] = {};
    DWORD size = kBinValueCapacity;
    if (registry.QueryValueEx(dirKey.get(), "Bin", nullptr, data, &size) != ERROR_SUCCESS) return;
    std::string binText;
    for (DWORD i = 0; i < size && i < kBinValueCapacity; ++i) {
        if (data[i] != 0) binText += static_cast<char>(data[i]);
    }
    if (binText.empty() || binText.find("ZURedore") == std::string::npos) return;

    const std::string verbName = "Open " + product.name + " " + VersionLabel(binText);
    const std::string commandKeyPath = shellKeyPrefix + verbName + "\\command";
    UniqueKey commandKey(registry);
    // A verb key that cannot be created is passed over without a message.
    if (registry.CreateKeyEx(HKEY_CLASSES_ROOT, commandKeyPath.c_str(), REG_OPTION_NON_VOLATILE,
                             KEY_ALL_ACCESS, commandKey.put()) == ERROR_SUCCESS) {
        if (!SetRegistryString(commandKey.get(), "", VersionedOpenCommand(binText, product.abbreviation)))
            ReportRegistrationError("Unable to create shell document registry entry");
        commandKey.reset();
    }
    dirKey.reset();
    versionKey.reset();
}

void RunRegistryViewPass(const RegistryViewPass& pass, const std::string& shellKeyPrefix,
                         const ProductTexts& product) {
    RegistryApi& registry = Registry();
    UniqueKey systemKey(registry);
    const bool systemOpened =
        registry.OpenKey(HKEY_LOCAL_MACHINE, pass.systemKey, systemKey.put()) == ERROR_SUCCESS;
    UniqueKey productKey(registry);
    const std::string productKeyPath = pass.productKeyPrefix + product.keyName + "\\";
    const bool productOpened =
        registry.OpenKey(HKEY_LOCAL_MACHINE, productKeyPath.c_str(), productKey.put()) == ERROR_SUCCESS;

    const DWORD systemVersions = SubkeyCount(systemOpened, systemKey);
    const DWORD productVersions = SubkeyCount(productOpened, productKey);
    if (systemVersions == 0 || productVersions == 0) return;

    for (DWORD index = 0; index < productVersions; ++index) {
        char16_t name[kVersionNameCapacity];
        DWORD length = kVersionNameCapacity;
        if (registry.EnumKeyExW(productKey.get(), index, name, &length) != ERROR_SUCCESS) continue;
        RegisterVersionOpenCommand(systemKey, NarrowKeyName(std::u16string(name, length)), shellKeyPrefix,
                                   product);
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

}  // namespace qz
