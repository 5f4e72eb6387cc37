#include "tools/qzreg/wix_source.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>

#include "registry/registry_data.h"
#include "text/ascii.h"
#include "text/code_page.h"
#include "tools/qzreg/harvest.h"

#ifndef QZ_PRODUCT_VERSION
#error "QZ_PRODUCT_VERSION, the project's version, comes from the build (cmake/msi.cmake)"
#endif

namespace qz {

const char kWixUpgradeCode[] = "{5DB82D13-CBC0-4830-8F23-85C6A10709A6}";
const char kWixInstallFolder[] = "Corvalen\\Orvantis 38.0";

namespace {

const char kProductVersion[] = QZ_PRODUCT_VERSION;
const char kModuleFileName[] = "qzproduct.dll";
const char kHostFileName[] = "qzreg.exe";

// "38.0" of "38.0.0.380": the release the product is named by.
std::string ProductRelease() {
    const std::string version = kProductVersion;
    const std::size_t dot = version.find('.');
    return version.substr(0, dot == std::string::npos ? dot : version.find('.', dot + 1));
}
const std::string kLocalMachinePrefix = "HKEY_LOCAL_MACHINE\\";
const std::string kSystemDirKey = std::string(kHarvestDirectoryKey).substr(kLocalMachinePrefix.size());

// ---- name-based identifiers --------------------------------------------------------

// SHA-1 (FIPS 180-4): only for name-based UUIDs, which RFC 4122 defines with it.
std::array<std::uint8_t, 20> Sha1(const std::string& message) {
    std::uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    std::string padded = message;
    padded.push_back(static_cast<char>(0x80));
    while (padded.size() % 64 != 56) padded.push_back('\0');
    const std::uint64_t bits = static_cast<std::uint64_t>(message.size()) * 8;
    for (int shift = 56; shift >= 0; shift -= 8) padded.push_back(static_cast<char>((bits >> shift) & 0xFF));

    const auto rotl = [](std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); };
    for (std::size_t block = 0; block < padded.size(); block += 64) {
        std::uint32_t w[80];
        for (int i = 0; i < 16; ++i) {
            w[i] = 0;
            for (int j = 0; j < 4; ++j) w[i] = (w[i] << 8) | static_cast<std::uint8_t>(padded[block + 4 * i + j]);
        }
        for (int i = 16; i < 80; ++i) w[i] = rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
        std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
        for (int i = 0; i < 80; ++i) {
            std::uint32_t f, k;
            if (i < 20) {
                f = (b & c) | (~b & d);
                k = 0x5A827999;
            } else if (i < 40) {
                f = b ^ c ^ d;
                k = 0x6ED9EBA1;
            } else if (i < 60) {
                f = (b & c) | (b & d) | (c & d);
                k = 0x8F1BBCDC;
            } else {
                f = b ^ c ^ d;
                k = 0xCA62C1D6;
            }
            const std::uint32_t t = rotl(a, 5) + f + e + k + w[i];
            e = d;
            d = c;
            c = rotl(b, 30);
            b = a;
            a = t;
        }
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
        h[4] += e;
    }
    std::array<std::uint8_t, 20> digest{};
    for (int i = 0; i < 20; ++i) digest[i] = static_cast<std::uint8_t>(h[i / 4] >> (24 - 8 * (i % 4)));
    return digest;
}

// Registry key names compare without regard to letter case: so do the names the
// component GUIDs are derived from, so that a key keeps its component whatever
// case a registration spells it in.
std::string ComponentGuid(const std::string& what) { return NameBasedGuid(kWixUpgradeCode, AsciiUpper(what)); }

// A WiX identifier for a component: a letter and the GUID's 32 hex digits.
std::string ComponentId(const std::string& guid) {
    std::string id = "K";
    for (char c : guid)
        if (HexDigitValue(c) >= 0) id.push_back(c);
    return id;
}

// ---- text --------------------------------------------------------------------------

// Attribute values and element text. TAB, LF and CR go as character references:
// XML would read them in an attribute as spaces.
std::string Xml(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char reference[8];
                    std::snprintf(reference, sizeof reference, "&#%d;", c);
                    out += reference;
                } else {
                    out.push_back(c);
                }
        }
    }
    return out;
}

// An XML comment may not hold "--".
std::string CommentText(std::string text) {
    for (std::size_t at = text.find("--"); at != std::string::npos; at = text.find("--", at)) text.insert(at + 1, " ");
    return text;
}

// Every reference a harvested text may carry, as written in it.
std::vector<std::string> HarvestReferences() {
    std::vector<std::string> references = {kHarvestModulePath};
    for (const DirectoryProperty& directory : HarvestDirectoryProperties())
        references.push_back("[" + std::string(directory.property) + "]");
    return references;
}

// The Registry table's key, name and value columns are formatted text: Windows
// Installer replaces [NAME] by a property. The harvest's own references stay
// references; every other bracket is written as the escape [\[] or [\]], which
// formats to the bracket itself.
std::string FormattedText(const std::string& text) {
    static const std::vector<std::string> references = HarvestReferences();
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        bool isReference = false;
        for (const std::string& reference : references) {
            if (text.compare(i, reference.size(), reference) == 0) {
                out += reference;
                i += reference.size();
                isReference = true;
                break;
            }
        }
        if (isReference) continue;
        if (text[i] == '[') {
            out += "[\\[]";
        } else if (text[i] == ']') {
            out += "[\\]]";
        } else {
            out.push_back(text[i]);
        }
        ++i;
    }
    return out;
}

// The text of string data as Windows Installer keeps it: up to the first NUL,
// which XML cannot hold either.
std::string TextOfData(const std::vector<BYTE>& data) { return Utf16ToUtf8(StringOfData(data)); }

// ---- what an uninstallation may remove ------------------------------------------------

enum class Removal {
    WithProduct,   // removed when the product is removed
    WhileCurrent,  // removed only while OVX Application\CurVer names this version (or is missing)
    Never,         // never removed by the package (a permanent component)
};

struct RemovalRule {
    const char* key;   // full name; the rule holds for the key and everything below it
    Removal removal;
    bool wholeTree;    // removed as a tree, as the unregistration does, not value by value
    const char* reason;
};

// The unregistration's rules, as Windows Installer can keep them. Keys not
// listed are this version's own and go with the product, value by value (a key
// left empty goes too). The most specific entry holds.
const RemovalRule kRemovalRules[] = {
    {"HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis", Removal::Never, false,
     "the product's key, where other versions of the product keep their settings"},
    {"HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0", Removal::WithProduct, true,
     "this version's settings, removed whole"},
    {"HKEY_CURRENT_USER\\Software\\Corvalen\\Orvantis\\38.0\\IniSettings", Removal::Never, false,
     "the user's own settings"},
    {"HKEY_CLASSES_ROOT\\.ovxf", Removal::WhileCurrent, false,
     "the language suffix, handed over to whichever version is current"},
    {"HKEY_CLASSES_ROOT\\Orvantis Language", Removal::WhileCurrent, true,
     "the language document type, shared by the versions of the application"},
    {"HKEY_CLASSES_ROOT\\Orvantis Language\\shell\\Open Orvantis V12", Removal::WithProduct, true,
     "this version's own Open verb"},
    {"HKEY_CLASSES_ROOT\\CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}", Removal::WhileCurrent, true,
     "the document object class, shared by the versions of the application"},
    {"HKEY_CLASSES_ROOT\\CLSID\\{3209ADC4-9264-11D1-B147-00A024F1AC65}", Removal::WhileCurrent, true,
     "the library document class, shared by the versions of the application"},
    {"HKEY_CLASSES_ROOT\\OVX Application", Removal::WhileCurrent, true,
     "the version-independent ProgID and its CurVer, shared by the versions of the application"},
    {"HKEY_CLASSES_ROOT\\OVX Application 3800", Removal::WithProduct, true, "this version's ProgID"},
    {"HKEY_CLASSES_ROOT\\CLSID\\{FDE14674-8E3D-0380-878A-2E97C127D967}", Removal::WithProduct, true,
     "this version's application class"},
    // The unregistration removes these only when no other product of the
    // modelling system is left under its Options key, which Windows Installer
    // cannot tell: they stay, rather than be taken from a product still using them.
    {"HKEY_CLASSES_ROOT\\.ovxl", Removal::Never, false,
     "the library suffix, shared with the other products of the modelling system"},
    {"HKEY_CLASSES_ROOT\\Tavrin Model Library", Removal::Never, false,
     "the library document type, shared with the other products of the modelling system"},
};

// The key whose default value names the current version of the application.
const char kCurVerKey[] = "HKEY_CLASSES_ROOT\\OVX Application\\CurVer";
const char kCurVerProperty[] = "APPLICATIONCURVER";

struct KeyRule {
    Removal removal = Removal::WithProduct;
    const RemovalRule* entry = nullptr;  // null for the product's own keys
    bool isEntryKey = false;             // the key is the entry's key itself, not one below it
};

KeyRule RuleFor(const std::string& fullName) {
    KeyRule rule;
    std::size_t bestLength = 0;
    const std::string name = AsciiUpper(fullName);
    for (const RemovalRule& listed : kRemovalRules) {
        const std::string key = AsciiUpper(listed.key);
        const bool exact = name == key;
        const bool below = name.size() > key.size() && name.compare(0, key.size(), key) == 0 && name[key.size()] == '\\';
        if ((exact || below) && key.size() > bestLength) {
            bestLength = key.size();
            rule.removal = listed.removal;
            rule.entry = &listed;
            rule.isEntryKey = exact;
        }
    }
    return rule;
}

// ---- the harvest, key by key -------------------------------------------------------

struct HarvestedKey {
    std::string hive;
    std::string key;
    bool added = false;       // the registration creates it
    bool hasSubkeys = false;  // keys of the harvest lie below it
    std::vector<RegValue> values;
    std::vector<std::u16string> removedValues;
    bool removed = false;     // the registration removes it, subtree and all
};

std::string FullName(const HarvestedKey& key) { return key.key.empty() ? key.hive : key.hive + "\\" + key.key; }

std::vector<HarvestedKey> CollectKeys(const std::vector<RegistryChange>& changes) {
    std::vector<HarvestedKey> keys;
    std::map<std::string, std::size_t> index;  // upper-case full name -> position in keys
    const auto find = [&](const RegistryChange& change) -> HarvestedKey& {
        const std::string name = AsciiUpper(FullKeyName(change));
        auto it = index.find(name);
        if (it == index.end()) {
            it = index.emplace(name, keys.size()).first;
            HarvestedKey key;
            key.hive = change.hive;
            key.key = change.key;
            keys.push_back(key);
        }
        return keys[it->second];
    };
    for (const RegistryChange& change : changes) {
        HarvestedKey& key = find(change);
        switch (change.kind) {
            case RegistryChange::Kind::AddKey: key.added = true; break;
            case RegistryChange::Kind::SetValue: key.values.push_back(*change.newValue); break;
            case RegistryChange::Kind::RemoveValue: key.removedValues.push_back(change.oldValue->name); break;
            case RegistryChange::Kind::RemoveKey: key.removed = true; break;
        }
    }
    for (const HarvestedKey& key : keys) {
        std::string parent = AsciiUpper(FullName(key));
        for (std::size_t slash = parent.rfind('\\'); slash != std::string::npos; slash = parent.rfind('\\')) {
            parent.resize(slash);
            const auto it = index.find(parent);
            if (it != index.end()) keys[it->second].hasSubkeys = true;
        }
    }
    return keys;
}

std::string RootOf(const std::string& hive) {
    if (hive == "HKEY_CLASSES_ROOT") return "HKCR";
    if (hive == "HKEY_CURRENT_USER") return "HKCU";
    if (hive == "HKEY_LOCAL_MACHINE") return "HKLM";
    if (hive == "HKEY_USERS") return "HKU";
    return hive;
}

// One RegistryValue element (without its closing), in wixl's terms: string,
// integer (REG_DWORD), expandable, binary, multiString. Any other type is
// written under its registry name, which no WiX compiler accepts: the package
// build stops rather than install less than the registration writes.
std::string ValueElement(const std::string& attributes, const RegValue& value, bool keyPath) {
    std::string element = "<RegistryValue " + attributes;
    if (!value.name.empty()) element += " Name=\"" + Xml(FormattedText(Utf16ToUtf8(value.name))) + "\"";
    const std::string keyPathText = keyPath ? " KeyPath=\"yes\"" : "";
    switch (value.type) {
        case REG_SZ:
            return element + " Type=\"string\" Value=\"" + Xml(FormattedText(TextOfData(value.data))) + "\"" +
                   keyPathText + "/>";
        case REG_EXPAND_SZ:
            return element + " Type=\"expandable\" Value=\"" + Xml(FormattedText(TextOfData(value.data))) + "\"" +
                   keyPathText + "/>";
        case REG_DWORD: {
            // The first four bytes, as many as there are.
            const std::uint64_t number = LittleEndianNumber(value.data, 4);
            return element + " Type=\"integer\" Value=\"" + std::to_string(number) + "\"" + keyPathText + "/>";
        }
        case REG_BINARY:
            return element + " Type=\"binary\" Value=\"" + HexOfData(value.data, HexCase::Upper) + "\"" +
                   keyPathText + "/>";
        case REG_MULTI_SZ: {
            element += " Type=\"multiString\"" + keyPathText + ">";
            for (const std::u16string& text : MultiStringOfData(value.data))
                element += "<MultiStringValue>" + Xml(FormattedText(Utf16ToUtf8(text))) + "</MultiStringValue>";
            return element + "</RegistryValue>";
        }
        default:
            return element + " Type=\"" + RegistryTypeName(value.type) + "\" Value=\"" +
                   HexOfData(value.data, HexCase::Upper) + "\"" + keyPathText + "/>";
    }
}

std::string RemovalText(const KeyRule& rule, bool conditioned) {
    switch (rule.removal) {
        case Removal::WithProduct: return "removed with the product";
        case Removal::WhileCurrent:
            return conditioned ? "removed with the product only while OVX Application\\CurVer names this version"
                               : "removed with the product";
        case Removal::Never: return "never removed, a permanent component";
    }
    return std::string();
}

class WixWriter {
public:
    explicit WixWriter(const std::vector<RegistryChange>& changes) : keys_(CollectKeys(changes)) {
        for (const RegistryChange& change : changes) {
            if (change.kind == RegistryChange::Kind::SetValue &&
                AsciiEqualIgnoringCase(FullKeyName(change), kCurVerKey) && change.newValue->name.empty() &&
                change.newValue->type == REG_SZ)
                currentVersion_ = TextOfData(change.newValue->data);
        }
    }

    std::string Write() {
        std::vector<std::string> componentIds;
        std::string components;
        for (const HarvestedKey& key : keys_) WriteKey(key, components, componentIds);

        out_ += "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
        out_ += "<!-- The registration of " + std::string(kModuleFileName) +
                " as Windows Installer data, harvested by qzreg (format wxs).\n"
                "     Built with wixl -a x64 by cmake/wixl-package.sh, which also writes what wixl drops\n"
                "     (Component/@Permanent) or cannot read (Component/Condition) into the package. -->\n";
        out_ += "<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">\n";
        out_ += "  <Product Id=\"" + NameBasedGuid(kWixUpgradeCode, std::string("product:") + kProductVersion) +
                "\" Name=\"Orvantis " + ProductRelease() +
                "\" Language=\"1033\" Version=\"" + kProductVersion + "\" Manufacturer=\"Corvalen\" UpgradeCode=\"" +
                kWixUpgradeCode + "\">\n";
        out_ += "    <Package InstallerVersion=\"500\" Compressed=\"yes\" InstallScope=\"perMachine\" "
                "Description=\"Orvantis product customisation module\"/>\n";
        out_ += "    <Media Id=\"1\" Cabinet=\"qzproduct.cab\" EmbedCab=\"yes\"/>\n";
        out_ += "    <MajorUpgrade DowngradeErrorMessage=\"A newer version of Orvantis is already installed.\"/>\n";
        WriteSearches();
        out_ += "    <Directory Id=\"TARGETDIR\" Name=\"SourceDir\">\n";
        out_ += "      <Directory Id=\"ProgramFiles64Folder\">\n";
        // The install folder, one Directory element per level; the last is INSTALLFOLDER.
        std::vector<std::string> folders;
        for (std::size_t start = 0;;) {
            const std::size_t slash = std::string(kWixInstallFolder).find('\\', start);
            folders.push_back(std::string(kWixInstallFolder).substr(start, slash - start));
            if (slash == std::string::npos) break;
            start = slash + 1;
        }
        std::string indent = "        ";
        for (std::size_t level = 0; level < folders.size(); ++level) {
            const bool last = level + 1 == folders.size();
            out_ += indent + "<Directory Id=\"" + (last ? std::string("INSTALLFOLDER") : "Folder" + std::to_string(level)) +
                    "\" Name=\"" + Xml(folders[level]) + "\">\n";
            indent += "  ";
        }
        // The module, and qzreg beside it: "qzreg.exe check" is how a deployment
        // tool tells whether a machine still holds the registration.
        for (const auto& [id, file] : {std::pair<const char*, const char*>{"Module", kModuleFileName},
                                       std::pair<const char*, const char*>{"Host", kHostFileName}}) {
            out_ += indent + "<Component Id=\"" + id + "\" Guid=\"" + ComponentGuid(std::string("file:") + file) +
                    "\" Win64=\"yes\">\n";
            out_ += indent + "  <File Id=\"" + file + "\" Name=\"" + file + "\" Source=\"" + file +
                    "\" KeyPath=\"yes\"/>\n";
            out_ += indent + "</Component>\n";
        }
        for (std::size_t start = 0; start < components.size();) {
            const std::size_t end = components.find('\n', start);
            out_ += indent + components.substr(start, end - start) + "\n";
            start = end + 1;
        }
        for (std::size_t level = 0; level < folders.size(); ++level) {
            indent.resize(indent.size() - 2);
            out_ += indent + "</Directory>\n";
        }
        out_ += "      </Directory>\n";
        out_ += "    </Directory>\n";
        out_ += "    <Feature Id=\"ProductModule\" Title=\"Orvantis product module\" Level=\"1\">\n";
        out_ += "      <ComponentRef Id=\"Module\"/>\n";
        out_ += "      <ComponentRef Id=\"Host\"/>\n";
        for (const std::string& id : componentIds) out_ += "      <ComponentRef Id=\"" + id + "\"/>\n";
        out_ += "    </Feature>\n";
        out_ += "  </Product>\n";
        out_ += "</Wix>\n";
        return out_;
    }

private:
    // The directories the registration writes into its texts, found as the
    // module finds them; without them the registration cannot be written (the
    // module fails its pass), so the package refuses to install.
    void WriteSearches() {
        std::string found;
        for (const DirectoryProperty& directory : HarvestDirectoryProperties()) {
            const std::string property = directory.property;
            out_ += "    <Property Id=\"" + property + "\">\n";
            out_ += "      <RegistrySearch Id=\"" + property + "\" Root=\"HKLM\" Key=\"" + Xml(kSystemDirKey) +
                    "\" Name=\"" + directory.valueName + "\" Type=\"raw\" Win64=\"yes\"/>\n";
            out_ += "    </Property>\n";
            found += (found.empty() ? "" : " AND ") + property;
        }
        if (currentVersion_ && needsCurrentVersion_) {
            out_ += "    <Property Id=\"" + std::string(kCurVerProperty) + "\">\n";
            out_ += "      <RegistrySearch Id=\"" + std::string(kCurVerProperty) + "\" Root=\"HKCR\" Key=\"" +
                    Xml(std::string(kCurVerKey).substr(std::string("HKEY_CLASSES_ROOT\\").size())) +
                    "\" Name=\"\" Type=\"raw\" Win64=\"yes\"/>\n";
            out_ += "    </Property>\n";
        }
        out_ += "    <Condition Message=\"Orvantis " + ProductRelease() +
                " needs the modelling system: HKEY_LOCAL_MACHINE\\" + Xml(kSystemDirKey) +
                " lacks a directory (bin, help or lib).\">Installed OR (" + found + ")</Condition>\n";
    }

    void WriteKey(const HarvestedKey& key, std::string& components, std::vector<std::string>& componentIds) {
        const std::string fullName = FullName(key);
        const KeyRule rule = RuleFor(fullName);
        const std::string location = "Root=\"" + RootOf(key.hive) + "\" Key=\"" + Xml(FormattedText(key.key)) + "\"";

        std::vector<std::string> rows;
        for (const RegValue& value : key.values) rows.push_back(ValueElement(location, value, rows.empty()));
        // Keys without values of their own: "*" creates the key and removes it,
        // subtree and all, with the component; "+" only creates it.
        const bool removedAsTree = rule.isEntryKey && rule.entry->wholeTree && rule.removal != Removal::Never;
        const bool keptEntryKey = rule.isEntryKey && rule.removal == Removal::Never && key.values.empty();
        const bool emptyLeaf = key.added && key.values.empty() && !key.hasSubkeys;
        if (removedAsTree || keptEntryKey || emptyLeaf) {
            const char* marker = rule.removal == Removal::Never ? "+" : "*";
            rows.push_back("<RegistryValue " + location + " Name=\"" + marker + "\" Type=\"string\" Value=\"\"" +
                           (rows.empty() ? " KeyPath=\"yes\"" : "") + "/>");
        }
        // What the registration removes from the harvested machine state.
        if (key.removed)
            rows.push_back("<RemoveRegistryKey Action=\"removeOnInstall\" " + location + "/>");
        for (const std::u16string& name : key.removedValues)
            rows.push_back("<RemoveRegistryValue " + location + " Name=\"" + Xml(FormattedText(Utf16ToUtf8(name))) +
                           "\"/>");
        if (rows.empty()) return;

        const std::string guid = ComponentGuid("key:" + fullName);
        const std::string id = ComponentId(guid);
        const bool conditioned = rule.removal == Removal::WhileCurrent && currentVersion_.has_value();
        std::string comment = fullName + ": " + RemovalText(rule, conditioned);
        if (rule.entry != nullptr) comment += std::string(" (") + rule.entry->reason + ")";
        components += "<!-- " + Xml(CommentText(comment)) + " -->\n";
        components += "<Component Id=\"" + id + "\" Guid=\"" + guid + "\" Win64=\"yes\"" +
                      (rule.removal == Removal::Never ? " Permanent=\"yes\"" : "") + ">\n";
        if (conditioned) {
            // Installed, or removed while the current version is this one; a
            // component whose condition is false during the removal stays.
            needsCurrentVersion_ = true;
            components += "  <Condition>NOT Installed OR NOT " + std::string(kCurVerProperty) + " OR " +
                          kCurVerProperty + "~=\"" + Xml(*currentVersion_) + "\"</Condition>\n";
        }
        for (const std::string& row : rows) components += "  " + row + "\n";
        components += "</Component>\n";
        componentIds.push_back(id);
    }

    std::vector<HarvestedKey> keys_;
    std::optional<std::string> currentVersion_;
    bool needsCurrentVersion_ = false;
    std::string out_;
};

}  // namespace

std::string NameBasedGuid(const std::string& namespaceGuid, const std::string& name) {
    std::string bytes;
    int high = -1;
    for (char c : namespaceGuid) {
        const int digit = HexDigitValue(c);
        if (digit < 0) continue;
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<char>(high * 16 + digit));
            high = -1;
        }
    }
    std::array<std::uint8_t, 20> hash = Sha1(bytes + name);
    hash[6] = static_cast<std::uint8_t>((hash[6] & 0x0F) | 0x50);  // version 5
    hash[8] = static_cast<std::uint8_t>((hash[8] & 0x3F) | 0x80);  // the RFC 4122 variant
    std::string guid = "{";
    char pair[3];
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) guid += '-';
        std::snprintf(pair, sizeof pair, "%02X", hash[i]);
        guid += pair;
    }
    return guid + "}";
}

std::string HarvestAsWixSource(const std::vector<RegistryChange>& changes) { return WixWriter(changes).Write(); }

}  // namespace qz
