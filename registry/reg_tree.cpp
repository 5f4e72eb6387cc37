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
    // Every lookup in a key's values or subkeys runs this a few times, and names
    // that sort near each other share long prefixes: equal code units need no
    // folding, and ASCII folds without the table of ranges.
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        char16_t ca = a[i];
        char16_t cb = b[i];
        if (ca == cb) continue;
        ca = ca < 0x80 ? static_cast<char16_t>(ca + ((ca >= u'A' && ca <= u'Z') ? 0x20 : 0)) : RegistryFoldCase(ca);
        cb = cb < 0x80 ? static_cast<char16_t>(cb + ((cb >= u'A' && cb <= u'Z') ? 0x20 : 0)) : RegistryFoldCase(cb);
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

namespace {

// The name an element of a container orders by (a subkey entry's key views the subkey's name).
std::u16string_view NameOf(const RegKey::SubkeyMap::value_type& entry) { return entry.first; }
std::u16string_view NameOf(const RegValue& value) { return value.name; }

// The element at index of a container of size elements, starting from whichever
// of the cursor, the beginning and the end is nearest, and leaving the cursor there.
template <typename Container, typename Cursor>
typename Container::const_iterator Seek(const Container& container, Cursor& cursor, std::size_t index) {
    const std::size_t size = container.size();
    if (!cursor.valid) {
        cursor.index = 0;
        cursor.at = container.begin();
        cursor.valid = true;
    }
    const std::size_t fromCursor = index > cursor.index ? index - cursor.index : cursor.index - index;
    if (index < fromCursor) {
        cursor.index = 0;
        cursor.at = container.begin();
    } else if (size - index < fromCursor) {
        cursor.index = size;
        cursor.at = container.end();
    }
    if (index >= cursor.index) {
        cursor.at = std::next(cursor.at, static_cast<std::ptrdiff_t>(index - cursor.index));
    } else {
        cursor.at = std::prev(cursor.at, static_cast<std::ptrdiff_t>(cursor.index - index));
    }
    cursor.index = index;
    return cursor.at;
}

// Keeps a cursor on its element when another is inserted (at inserted).
template <typename Container, typename Cursor>
void CursorAfterInsert(const Container& container, Cursor& cursor, typename Container::const_iterator inserted) {
    if (!cursor.valid) return;
    if (cursor.at == container.end() || CompareRegistryNames(NameOf(*inserted), NameOf(*cursor.at)) < 0)
        ++cursor.index;
}

// Keeps a cursor valid and on the same index or element when the element at
// removed is about to be erased.
template <typename Container, typename Cursor>
void CursorBeforeErase(const Container& container, Cursor& cursor,
                       typename Container::const_iterator removed) {
    if (!cursor.valid) return;
    if (removed == cursor.at) {
        ++cursor.at;  // the next element takes the removed one's index
    } else if (cursor.at == container.end() || CompareRegistryNames(NameOf(*removed), NameOf(*cursor.at)) < 0) {
        --cursor.index;
    }
}

}  // namespace

// ---- copying, moving, destroying -------------------------------------------------

RegKey::RegKey(const RegKey& other)
    : name(other.name), isVolatile(other.isVolatile), id(other.id), values_(other.values_) {
    std::vector<std::pair<const RegKey*, RegKey*>> pending{{&other, this}};
    while (!pending.empty()) {
        const auto [from, to] = pending.back();
        pending.pop_back();
        for (const auto& entry : from->subkeys_) {
            const RegKey& child = *entry.second;
            auto copy = std::make_unique<RegKey>();
            copy->name = child.name;
            copy->isVolatile = child.isVolatile;
            copy->id = child.id;
            copy->values_ = child.values_;
            RegKey* raw = copy.get();
            // In order: each copy goes at the end.
            to->subkeys_.emplace_hint(to->subkeys_.end(), std::u16string_view(raw->name), std::move(copy));
            if (child.HasSubkeys()) pending.emplace_back(&child, raw);
        }
    }
}

RegKey::RegKey(RegKey&& other) noexcept
    : name(std::move(other.name)),
      isVolatile(other.isVolatile),
      id(other.id),
      values_(std::move(other.values_)),
      subkeys_(std::move(other.subkeys_)) {
    other.ClearCursors();
}

RegKey& RegKey::operator=(const RegKey& other) {
    if (this != &other) *this = RegKey(other);
    return *this;
}

RegKey& RegKey::operator=(RegKey&& other) noexcept {
    if (this != &other) {
        ReleaseSubkeys();
        name = std::move(other.name);
        isVolatile = other.isVolatile;
        id = other.id;
        values_ = std::move(other.values_);
        subkeys_ = std::move(other.subkeys_);
        ClearCursors();
        other.ClearCursors();
    }
    return *this;
}

RegKey::~RegKey() { ReleaseSubkeys(); }

void RegKey::ClearCursors() {
    valueCursor_.valid = false;
    subkeyCursor_.valid = false;
}

void RegKey::ReleaseSubkeys() noexcept {
    // Each key is emptied of its subkeys before it is freed, so no destructor
    // below this one has anything left to recurse into.
    std::vector<std::unique_ptr<RegKey>> pending;
    auto takeChildren = [&pending](RegKey& key) {
        for (auto& entry : key.subkeys_) pending.push_back(std::move(entry.second));
        key.subkeys_.clear();
        key.subkeyCursor_.valid = false;
    };
    takeChildren(*this);
    while (!pending.empty()) {
        std::unique_ptr<RegKey> key = std::move(pending.back());
        pending.pop_back();
        takeChildren(*key);
    }
}

// ---- values ------------------------------------------------------------------------

const RegValue& RegKey::ValueAt(std::size_t index) const { return *Seek(values_, valueCursor_, index); }

const RegValue* RegKey::FindValue(std::u16string_view valueName) const {
    const auto it = values_.find(valueName);
    return it != values_.end() ? &*it : nullptr;
}

RegValue* RegKey::FindValue(std::u16string_view valueName) {
    // Set elements are const only because their name orders them; type and data may change.
    return const_cast<RegValue*>(static_cast<const RegKey*>(this)->FindValue(valueName));
}

void RegKey::SetValue(RegValue value) {
    auto it = values_.lower_bound(std::u16string_view(value.name));
    if (it != values_.end() && RegistryNamesEqual(it->name, value.name)) {
        RegValue& existing = const_cast<RegValue&>(*it);
        existing.type = value.type;
        existing.data = std::move(value.data);
        existing.data.shrink_to_fit();
        return;
    }
    // Kept for as long as the key lives: no spare capacity a reader or a caller
    // built it with (a value read from a file grows byte by byte).
    value.name.shrink_to_fit();
    value.data.shrink_to_fit();
    it = values_.emplace_hint(it, std::move(value));
    CursorAfterInsert(values_, valueCursor_, it);
}

bool RegKey::RemoveValue(std::u16string_view valueName) {
    const auto it = values_.find(valueName);
    if (it == values_.end()) return false;
    CursorBeforeErase(values_, valueCursor_, it);
    values_.erase(it);
    return true;
}

// ---- subkeys -----------------------------------------------------------------------

const RegKey& RegKey::SubkeyAt(std::size_t index) const { return *Seek(subkeys_, subkeyCursor_, index)->second; }
RegKey& RegKey::SubkeyAt(std::size_t index) { return *Seek(subkeys_, subkeyCursor_, index)->second; }

const RegKey* RegKey::FindSubkey(std::u16string_view subkeyName) const {
    const auto it = subkeys_.find(subkeyName);
    return it != subkeys_.end() ? it->second.get() : nullptr;
}

RegKey* RegKey::FindSubkey(std::u16string_view subkeyName) {
    const auto it = subkeys_.find(subkeyName);
    return it != subkeys_.end() ? it->second.get() : nullptr;
}

RegKey& RegKey::AddSubkey(RegKey key) {
    auto it = subkeys_.lower_bound(std::u16string_view(key.name));
    if (it != subkeys_.end() && RegistryNamesEqual(it->first, key.name)) return *it->second;
    auto child = std::make_unique<RegKey>(std::move(key));
    const std::u16string_view childName = child->name;
    it = subkeys_.emplace_hint(it, childName, std::move(child));
    CursorAfterInsert(subkeys_, subkeyCursor_, it);
    return *it->second;
}

RegKey& RegKey::FindOrAddSubkey(std::u16string_view subkeyName, bool* created) {
    auto it = subkeys_.lower_bound(subkeyName);
    const bool found = it != subkeys_.end() && RegistryNamesEqual(it->first, subkeyName);
    if (created != nullptr) *created = !found;
    if (found) return *it->second;
    auto child = std::make_unique<RegKey>();
    child->name.assign(subkeyName.data(), subkeyName.size());
    const std::u16string_view childName = child->name;
    it = subkeys_.emplace_hint(it, childName, std::move(child));
    CursorAfterInsert(subkeys_, subkeyCursor_, it);
    return *it->second;
}

bool RegKey::RemoveSubkey(std::u16string_view subkeyName) {
    const auto it = subkeys_.find(subkeyName);
    if (it == subkeys_.end()) return false;
    CursorBeforeErase(subkeys_, subkeyCursor_, it);
    // Detached first: the subkey's name, which the entry's key views, goes with it.
    std::unique_ptr<RegKey> removed = std::move(it->second);
    subkeys_.erase(it);
    return true;
}

bool SameContent(const RegKey& a, const RegKey& b) {
    std::vector<std::pair<const RegKey*, const RegKey*>> pending{{&a, &b}};
    while (!pending.empty()) {
        const auto [left, right] = pending.back();
        pending.pop_back();
        if (left->name != right->name || left->ValueCount() != right->ValueCount() ||
            left->SubkeyCount() != right->SubkeyCount())
            return false;
        // Both sides enumerate in the same order: equal content pairs up in step.
        auto otherValue = right->Values().begin();
        for (const RegValue& value : left->Values()) {
            if (!(value == *otherValue++)) return false;
        }
        auto otherSubkey = right->Subkeys().begin();
        for (const RegKey& subkey : left->Subkeys()) pending.emplace_back(&subkey, &*otherSubkey++);
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
