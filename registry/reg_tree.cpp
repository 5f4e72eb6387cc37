#include "registry/reg_tree.h"

#include <algorithm>

namespace qz {

char16_t RegistryFoldCase(char16_t c) {
    if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 0x20) : c;
    // Latin-1 supplement.
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 0x20);
    if (c == 0x178) return 0xFF;
    // Latin Extended-A: pairs of capital and small letters.
    if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
        return static_cast<char16_t>(c | 1u);
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
        return (c & 1u) ? static_cast<char16_t>(c + 1) : c;
    // Greek and Cyrillic.
    if ((c >= 0x391 && c <= 0x3A1) || (c >= 0x3A3 && c <= 0x3AB)) return static_cast<char16_t>(c + 0x20);
    if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 0x20);
    if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 0x50);
    return c;
}

int CompareRegistryNames(std::u16string_view a, std::u16string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t ca = RegistryFoldCase(a[i]);
        const char16_t cb = RegistryFoldCase(b[i]);
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

namespace {

template <typename Key>
auto FindSubkeyIn(Key& key, std::u16string_view name) -> decltype(&key.subkeys[0]) {
    auto it = std::lower_bound(key.subkeys.begin(), key.subkeys.end(), name,
                               [](const RegKey& k, std::u16string_view n) {
                                   return CompareRegistryNames(k.name, n) < 0;
                               });
    if (it != key.subkeys.end() && CompareRegistryNames(it->name, name) == 0) return &*it;
    return nullptr;
}

template <typename Key>
auto FindValueIn(Key& key, std::u16string_view name) -> decltype(&key.values[0]) {
    auto it = std::lower_bound(key.values.begin(), key.values.end(), name,
                               [](const RegValue& v, std::u16string_view n) {
                                   return CompareRegistryNames(v.name, n) < 0;
                               });
    if (it != key.values.end() && CompareRegistryNames(it->name, name) == 0) return &*it;
    return nullptr;
}

}  // namespace

const RegKey* RegKey::FindSubkey(std::u16string_view subkeyName) const { return FindSubkeyIn(*this, subkeyName); }
RegKey* RegKey::FindSubkey(std::u16string_view subkeyName) { return FindSubkeyIn(*this, subkeyName); }

RegKey& RegKey::AddSubkey(RegKey key) {
    auto it = std::lower_bound(subkeys.begin(), subkeys.end(), key.name, [](const RegKey& k, const std::u16string& n) {
        return CompareRegistryNames(k.name, n) < 0;
    });
    return *subkeys.insert(it, std::move(key));
}

bool RegKey::RemoveSubkey(std::u16string_view subkeyName) {
    RegKey* found = FindSubkey(subkeyName);
    if (found == nullptr) return false;
    subkeys.erase(subkeys.begin() + (found - subkeys.data()));
    return true;
}

const RegValue* RegKey::FindValue(std::u16string_view valueName) const { return FindValueIn(*this, valueName); }
RegValue* RegKey::FindValue(std::u16string_view valueName) { return FindValueIn(*this, valueName); }

void RegKey::SetValue(RegValue value) {
    auto it = std::lower_bound(values.begin(), values.end(), value.name, [](const RegValue& v, const std::u16string& n) {
        return CompareRegistryNames(v.name, n) < 0;
    });
    if (it != values.end() && CompareRegistryNames(it->name, value.name) == 0) {
        it->type = value.type;
        it->data = std::move(value.data);
    } else {
        values.insert(it, std::move(value));
    }
}

bool RegKey::RemoveValue(std::u16string_view valueName) {
    RegValue* found = FindValue(valueName);
    if (found == nullptr) return false;
    values.erase(values.begin() + (found - values.data()));
    return true;
}

bool SameContent(const RegKey& a, const RegKey& b) {
    if (a.name != b.name || a.values.size() != b.values.size() || a.subkeys.size() != b.subkeys.size())
        return false;
    for (const RegValue& value : a.values) {
        const RegValue* other = b.FindValue(value.name);
        if (other == nullptr || !(*other == value)) return false;
    }
    for (std::size_t i = 0; i < a.subkeys.size(); ++i) {
        if (!SameContent(a.subkeys[i], b.subkeys[i])) return false;
    }
    return true;
}

std::optional<RegRoot> RootOfHandle(HKEY key) {
    if (key == HKEY_CLASSES_ROOT) return RegRoot::ClassesRoot;
    if (key == HKEY_CURRENT_USER) return RegRoot::CurrentUser;
    if (key == HKEY_LOCAL_MACHINE) return RegRoot::LocalMachine;
    return std::nullopt;
}

HKEY RootHandle(RegRoot root) {
    switch (root) {
        case RegRoot::ClassesRoot: return HKEY_CLASSES_ROOT;
        case RegRoot::CurrentUser: return HKEY_CURRENT_USER;
        case RegRoot::LocalMachine: break;
    }
    return HKEY_LOCAL_MACHINE;
}

const char16_t* RootName(RegRoot root) {
    switch (root) {
        case RegRoot::ClassesRoot: return u"HKEY_CLASSES_ROOT";
        case RegRoot::CurrentUser: return u"HKEY_CURRENT_USER";
        case RegRoot::LocalMachine: break;
    }
    return u"HKEY_LOCAL_MACHINE";
}

std::optional<FullKeyPath> ParseFullKeyPath(std::u16string_view path) {
    while (!path.empty() && path.back() == u'\\') path.remove_suffix(1);
    const std::size_t firstSeparator = path.find(u'\\');
    const std::u16string_view rootName = path.substr(0, firstSeparator);
    FullKeyPath result{RegRoot::LocalMachine, {}};
    if (RegistryNamesEqual(rootName, u"HKEY_LOCAL_MACHINE") || RegistryNamesEqual(rootName, u"HKLM")) {
        result.root = RegRoot::LocalMachine;
    } else if (RegistryNamesEqual(rootName, u"HKEY_CURRENT_USER") || RegistryNamesEqual(rootName, u"HKCU")) {
        result.root = RegRoot::CurrentUser;
    } else if (RegistryNamesEqual(rootName, u"HKEY_CLASSES_ROOT") || RegistryNamesEqual(rootName, u"HKCR")) {
        result.root = RegRoot::ClassesRoot;
    } else {
        return std::nullopt;
    }
    if (firstSeparator == std::u16string_view::npos) return result;
    std::u16string_view rest = path.substr(firstSeparator + 1);
    while (true) {
        const std::size_t next = rest.find(u'\\');
        const std::u16string_view component = rest.substr(0, next);
        if (component.empty()) return std::nullopt;
        result.components.emplace_back(component);
        if (next == std::u16string_view::npos) break;
        rest = rest.substr(next + 1);
    }
    return result;
}

}  // namespace qz
