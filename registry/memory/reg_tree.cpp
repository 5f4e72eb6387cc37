#include "registry/memory/reg_tree.h"

#include <algorithm>
#include <type_traits>

#include "text/code_page.h"

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

// ---- the index of a key being filled -----------------------------------------------

template <typename Element>
std::uint64_t NameIndex<Element>::Hash(std::u16string_view name) {
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a over the folded code units
    for (char16_t c : name) {
        hash = (hash ^ RegistryFoldCase(c)) * 1099511628211ull;
    }
    return hash;
}

template <typename Element>
Element* NameIndex<Element>::Find(std::u16string_view name, std::uint64_t hash) const {
    if (slots_.empty()) return nullptr;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
        const Slot& slot = slots_[at];
        if (slot.element == nullptr) return nullptr;
        if (slot.hash == hash && RegistryNamesEqual(slot.element->name, name)) return slot.element;
    }
}

template <typename Element>
void NameIndex<Element>::Insert(Element* element, std::uint64_t hash) {
    if (2 * (count_ + 1) > slots_.size()) {
        std::vector<Slot> old;
        old.swap(slots_);
        slots_.resize(old.empty() ? 32 : 2 * old.size());
        count_ = 0;
        for (const Slot& slot : old) {
            if (slot.element != nullptr) Insert(slot.element, slot.hash);
        }
    }
    const std::size_t mask = slots_.size() - 1;
    std::size_t at = hash & mask;
    while (slots_[at].element != nullptr) at = (at + 1) & mask;
    slots_[at] = Slot{hash, element};
    ++count_;
}

template <typename Element>
void NameIndex<Element>::Clear() {
    std::vector<Slot>().swap(slots_);
    count_ = 0;
}

template class NameIndex<RegValue>;
template class NameIndex<RegKey>;

namespace {

// Below this many collected elements a key searches them one by one: most keys
// hold a few values and subkeys, and a table for each would cost more than it saves.
constexpr std::size_t kIndexedFrom = 16;

// The name an element of a container orders by (a subkey entry's key views the subkey's name).
std::u16string_view NameOf(const RegKey::SubkeyMap::value_type& entry) { return entry.first; }
std::u16string_view NameOf(const std::unique_ptr<RegValue>& value) { return value->name; }

// The element at index of a container of size elements, starting from whichever
// of the cursor, the beginning and the end is nearest, and leaving the cursor there.
template <typename Container, typename Cursor>
typename Container::const_iterator Seek(const Container& container, Cursor& cursor, std::size_t index) {
    const std::size_t size = container.size();
    if (cursor.index == Cursor::kNone) {
        cursor.index = 0;
        cursor.at = container.begin();
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
    if (cursor.index == Cursor::kNone) return;
    if (cursor.at == container.end() || CompareRegistryNames(NameOf(*inserted), NameOf(*cursor.at)) < 0)
        ++cursor.index;
}

// Keeps a cursor valid and on the same index or element when the element at
// removed is about to be erased.
template <typename Container, typename Cursor>
void CursorBeforeErase(const Container& container, Cursor& cursor,
                       typename Container::const_iterator removed) {
    if (cursor.index == Cursor::kNone) return;
    if (removed == cursor.at) {
        ++cursor.at;  // the next element takes the removed one's index
    } else if (cursor.at == container.end() || CompareRegistryNames(NameOf(*removed), NameOf(*cursor.at)) < 0) {
        --cursor.index;
    }
}

// The order of collected elements, found by sorting small records that hold the
// first folded code units of each name: the sort reads one contiguous array
// instead of following a pointer to every name it compares.
template <typename Element>
std::vector<std::uint32_t> SortedOrder(const std::vector<std::unique_ptr<Element>>& elements) {
    constexpr std::size_t kPrefix = 14;
    struct Record {
        char16_t prefix[kPrefix];
        std::uint32_t length;
        std::uint32_t index;
    };
    std::vector<Record> records(elements.size());
    for (std::size_t i = 0; i < elements.size(); ++i) {
        const std::u16string& name = elements[i]->name;
        Record& record = records[i];
        record.length = static_cast<std::uint32_t>(name.size());
        record.index = static_cast<std::uint32_t>(i);
        for (std::size_t k = 0; k < kPrefix; ++k) record.prefix[k] = k < name.size() ? RegistryFoldCase(name[k]) : 0;
    }
    std::sort(records.begin(), records.end(), [&elements](const Record& a, const Record& b) {
        const std::size_t common = std::min<std::size_t>({a.length, b.length, kPrefix});
        for (std::size_t k = 0; k < common; ++k) {
            if (a.prefix[k] != b.prefix[k]) return a.prefix[k] < b.prefix[k];
        }
        // One name is a prefix of the other, or both go on past the prefix alike.
        if (a.length <= kPrefix || b.length <= kPrefix) return a.length < b.length;
        return CompareRegistryNames(elements[a.index]->name, elements[b.index]->name) < 0;
    });
    std::vector<std::uint32_t> order(records.size());
    for (std::size_t i = 0; i < records.size(); ++i) order[i] = records[i].index;
    return order;
}

// A collected element of that name, searched through the index or one by one.
template <typename Collected>
auto FindCollected(const std::unique_ptr<Collected>& collected, std::u16string_view name)
    -> decltype(collected->elements[0].get()) {
    if (!collected) return nullptr;
    const auto& elements = collected->elements;
    using Element = std::remove_pointer_t<decltype(elements[0].get())>;
    if (elements.size() >= kIndexedFrom) return collected->index.Find(name, NameIndex<Element>::Hash(name));
    for (const auto& element : elements) {
        if (RegistryNamesEqual(element->name, name)) return element.get();
    }
    return nullptr;
}

// Collects an element whose name is not collected yet.
template <typename Collected, typename Element>
Element& Collect(std::unique_ptr<Collected>& collected, std::unique_ptr<Element> element) {
    if (!collected) collected = std::make_unique<Collected>();
    auto& elements = collected->elements;
    Element& added = *element;
    elements.push_back(std::move(element));
    if (elements.size() == kIndexedFrom) {
        for (const auto& each : elements) collected->index.Insert(each.get(), NameIndex<Element>::Hash(each->name));
    } else if (elements.size() > kIndexedFrom) {
        collected->index.Insert(&added, NameIndex<Element>::Hash(added.name));
    }
    return added;
}

}  // namespace

// ---- ordering collected elements ---------------------------------------------------

void RegKey::SettleValues() const {
    if (!collectedValues_) return;
    // The tree is empty while elements are collected: the sorted run goes in at its end.
    auto& elements = collectedValues_->elements;
    for (std::uint32_t i : SortedOrder(elements)) values_.emplace_hint(values_.end(), std::move(elements[i]));
    collectedValues_.reset();
    valueCursor_.index = Cursor<ValueSet>::kNone;
}

void RegKey::SettleSubkeys() const {
    if (!collectedSubkeys_) return;
    auto& elements = collectedSubkeys_->elements;
    for (std::uint32_t i : SortedOrder(elements)) {
        const std::u16string_view childName = elements[i]->name;
        subkeys_.emplace_hint(subkeys_.end(), childName, std::move(elements[i]));
    }
    collectedSubkeys_.reset();
    subkeyCursor_.index = Cursor<SubkeyMap>::kNone;
}

RegKey& RegKey::CollectSubkey(std::unique_ptr<RegKey> key) { return Collect(collectedSubkeys_, std::move(key)); }

// ---- copying, moving, destroying -------------------------------------------------

RegKey::RegKey(const RegKey& other) : name(other.name), isVolatile(other.isVolatile), id(other.id) {
    const auto copyValues = [](const RegKey& from, RegKey& to) {
        from.SettleValues();
        for (const auto& value : from.values_)
            to.values_.emplace_hint(to.values_.end(), std::make_unique<RegValue>(*value));
    };
    copyValues(other, *this);
    std::vector<std::pair<const RegKey*, RegKey*>> pending{{&other, this}};
    while (!pending.empty()) {
        const auto [from, to] = pending.back();
        pending.pop_back();
        from->SettleSubkeys();
        for (const auto& entry : from->subkeys_) {
            const RegKey& child = *entry.second;
            auto copy = std::make_unique<RegKey>();
            copy->name = child.name;
            copy->isVolatile = child.isVolatile;
            copy->id = child.id;
            copyValues(child, *copy);
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
      collectedValues_(std::move(other.collectedValues_)),
      subkeys_(std::move(other.subkeys_)),
      collectedSubkeys_(std::move(other.collectedSubkeys_)) {
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
        collectedValues_ = std::move(other.collectedValues_);
        subkeys_ = std::move(other.subkeys_);
        collectedSubkeys_ = std::move(other.collectedSubkeys_);
        ClearCursors();
        other.ClearCursors();
    }
    return *this;
}

RegKey::~RegKey() { ReleaseSubkeys(); }

void RegKey::ClearCursors() {
    valueCursor_.index = Cursor<ValueSet>::kNone;
    subkeyCursor_.index = Cursor<SubkeyMap>::kNone;
}

void RegKey::ReleaseSubkeys() noexcept {
    // Each key is emptied of its subkeys before it is freed, so no destructor
    // below this one has anything left to recurse into.
    std::vector<std::unique_ptr<RegKey>> pending;
    auto takeChildren = [&pending](RegKey& key) {
        for (auto& entry : key.subkeys_) pending.push_back(std::move(entry.second));
        key.subkeys_.clear();
        if (key.collectedSubkeys_) {
            for (auto& child : key.collectedSubkeys_->elements) pending.push_back(std::move(child));
            key.collectedSubkeys_.reset();
        }
        key.subkeyCursor_.index = Cursor<SubkeyMap>::kNone;
    };
    takeChildren(*this);
    while (!pending.empty()) {
        std::unique_ptr<RegKey> key = std::move(pending.back());
        pending.pop_back();
        takeChildren(*key);
    }
}

// ---- values ------------------------------------------------------------------------

const RegValue& RegKey::ValueAt(std::size_t index) const {
    SettleValues();
    return **Seek(values_, valueCursor_, index);
}

RegKey::ValueRange RegKey::Values() const {
    SettleValues();
    return ValueRange{&values_};
}

const RegValue* RegKey::FindValue(std::u16string_view valueName) const {
    if (collectedValues_) return FindCollected(collectedValues_, valueName);
    const auto it = values_.find(valueName);
    return it != values_.end() ? it->get() : nullptr;
}

RegValue* RegKey::FindValue(std::u16string_view valueName) {
    return const_cast<RegValue*>(static_cast<const RegKey*>(this)->FindValue(valueName));
}

void RegKey::SetValue(RegValue value) {
    RegValue* existing = FindValue(value.name);
    if (existing != nullptr) {
        existing->type = value.type;
        existing->data = std::move(value.data);
        existing->data.shrink_to_fit();
        return;
    }
    // Kept for as long as the key lives: no spare capacity a reader or a caller
    // built it with (a value read from a file grows byte by byte).
    value.name.shrink_to_fit();
    value.data.shrink_to_fit();
    auto stored = std::make_unique<RegValue>(std::move(value));
    if (values_.empty()) {
        Collect(collectedValues_, std::move(stored));
        return;
    }
    const auto it = values_.insert(std::move(stored)).first;
    CursorAfterInsert(values_, valueCursor_, it);
}

bool RegKey::RemoveValue(std::u16string_view valueName) {
    SettleValues();
    const auto it = values_.find(valueName);
    if (it == values_.end()) return false;
    CursorBeforeErase(values_, valueCursor_, it);
    values_.erase(it);
    return true;
}

// ---- subkeys -----------------------------------------------------------------------

const RegKey& RegKey::SubkeyAt(std::size_t index) const {
    SettleSubkeys();
    return *Seek(subkeys_, subkeyCursor_, index)->second;
}

RegKey& RegKey::SubkeyAt(std::size_t index) {
    SettleSubkeys();
    return *Seek(subkeys_, subkeyCursor_, index)->second;
}

RegKey::SubkeyRange RegKey::Subkeys() const {
    SettleSubkeys();
    return SubkeyRange{&subkeys_};
}

const RegKey* RegKey::FindSubkey(std::u16string_view subkeyName) const {
    if (collectedSubkeys_) return FindCollected(collectedSubkeys_, subkeyName);
    const auto it = subkeys_.find(subkeyName);
    return it != subkeys_.end() ? it->second.get() : nullptr;
}

RegKey* RegKey::FindSubkey(std::u16string_view subkeyName) {
    return const_cast<RegKey*>(static_cast<const RegKey*>(this)->FindSubkey(subkeyName));
}

RegKey& RegKey::AddSubkey(RegKey key) {
    if (RegKey* existing = FindSubkey(key.name)) return *existing;
    auto child = std::make_unique<RegKey>(std::move(key));
    if (subkeys_.empty()) return CollectSubkey(std::move(child));
    const std::u16string_view childName = child->name;
    const auto it = subkeys_.emplace(childName, std::move(child)).first;
    CursorAfterInsert(subkeys_, subkeyCursor_, it);
    return *it->second;
}

RegKey& RegKey::FindOrAddSubkey(std::u16string_view subkeyName, bool* created) {
    if (subkeys_.empty()) {
        RegKey* found = FindCollected(collectedSubkeys_, subkeyName);
        if (created != nullptr) *created = found == nullptr;
        if (found != nullptr) return *found;
        auto child = std::make_unique<RegKey>();
        child->name.assign(subkeyName.data(), subkeyName.size());
        return CollectSubkey(std::move(child));
    }
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
    SettleSubkeys();
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

std::string HiveName(RegRoot root) { return Utf16ToUtf8(RootName(root)); }

std::string FullKeyName(RegRoot root, const std::string& path) {
    return path.empty() ? HiveName(root) : HiveName(root) + "\\" + path;
}

std::string FullKeyName(HKEY root, const std::string& path) {
    const std::optional<RegRoot> known = RootOfHandle(root);
    return known ? FullKeyName(*known, path) : "?\\" + path;
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
