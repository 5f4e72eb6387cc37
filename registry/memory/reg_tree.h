// The registry as plain data: a key with its values and subkeys, names in UTF-16
// as the registry stores them. The in-memory registry keeps its hives in this
// form, and .reg reading, writing and change listings work on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "registry/api/win32_types.h"

namespace qz {

// Registry names compare without regard to case: code unit by code unit after
// folding to lower case, which is also the order in which subkeys and values
// enumerate (the order Wine's registry keeps; see MemoryRegistry).
char16_t RegistryFoldCase(char16_t c);
int CompareRegistryNames(std::u16string_view a, std::u16string_view b);
inline bool RegistryNamesEqual(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && CompareRegistryNames(a, b) == 0;
}

struct RegValue {
    std::u16string name;  // as created; empty for the default value
    DWORD type = REG_NONE;
    std::vector<BYTE> data;

    bool operator==(const RegValue& other) const {
        return name == other.name && type == other.type && data == other.data;
    }
};

// Orders keys, values and plain names by CompareRegistryNames; lookups may pass
// a name (std::u16string_view) where the containers hold keys or values.
struct RegistryNameOrder {
    using is_transparent = void;
    static std::u16string_view NameOf(std::u16string_view name) { return name; }
    template <typename Named>
    static std::u16string_view NameOf(const Named& named) {
        return named.name;
    }
    template <typename A, typename B>
    bool operator()(const A& a, const B& b) const {
        return CompareRegistryNames(NameOf(a), NameOf(b)) < 0;
    }
};

// Finds registry names without regard to case while a key is being filled: an
// open-addressing table of the elements' addresses, by a hash of the folded name.
// Elements are never removed from it (the key settles first), so it needs no
// tombstones. Element is RegValue or RegKey: anything with a name.
template <typename Element>
class NameIndex {
public:
    static std::uint64_t Hash(std::u16string_view name);
    Element* Find(std::u16string_view name, std::uint64_t hash) const;
    void Insert(Element* element, std::uint64_t hash);  // the name must not be in yet
    void Clear();

private:
    struct Slot {
        std::uint64_t hash = 0;
        Element* element = nullptr;
    };
    std::vector<Slot> slots_;  // a power of two in size, at most half full
    std::size_t count_ = 0;
};

// A key with its values and subkeys, enumerated in name order.
//
// Lookups, insertions and removals cost the same whatever the order in which
// names arrive (a .reg file may list them in any order) and however many there
// are. Values and subkeys live in balanced trees ordered by name, at fixed
// addresses for as long as they exist (the in-memory registry's handles point at
// subkeys). A key being filled from empty, as a hive file or a pass fills it,
// first collects its elements unordered behind a hash index, and puts them in
// order only when something needs the order (an enumeration, a removal, a copy):
// then they are sorted by the first code units of their folded names, held in
// one contiguous array, and the tree is built from the sorted run. Inserting
// into a tree name by name in random order visits a different part of it each
// time, which at 10^6 names costs several times what sorted order costs.
//
// The i-th value or subkey in enumeration order is found from a cursor that
// remembers the last position asked for and follows insertions and removals:
// enumerating 0, 1, 2, ... (or n-1, n-2, ..., or 0 again after removing the
// first) costs O(1) a step. Cursors and the ordering on demand are state of const
// calls too: one RegKey must not be read from two threads at once.
//
// Copying, comparing and destroying walk the tree with an explicit stack, never
// recursing per level: a key thousands of levels deep cannot overflow the stack.
struct RegKey {
    std::u16string name;  // as created; fixed once the key is added to a parent
    bool isVolatile = false;
    // Identity within one MemoryRegistry: a key deleted and created again is a
    // different key.
    std::uint64_t id = 0;

    RegKey() = default;
    RegKey(const RegKey& other);
    RegKey(RegKey&& other) noexcept;
    RegKey& operator=(const RegKey& other);
    RegKey& operator=(RegKey&& other) noexcept;
    ~RegKey();

    // Elements owned one by one, so that they keep their address.
    struct ValueOrder {
        using is_transparent = void;
        static std::u16string_view NameOf(std::u16string_view name) { return name; }
        static std::u16string_view NameOf(const std::unique_ptr<RegValue>& value) { return value->name; }
        template <typename A, typename B>
        bool operator()(const A& a, const B& b) const {
            return CompareRegistryNames(NameOf(a), NameOf(b)) < 0;
        }
    };
    using ValueSet = std::set<std::unique_ptr<RegValue>, ValueOrder>;
    using SubkeyMap = std::map<std::u16string_view, std::unique_ptr<RegKey>, RegistryNameOrder>;

    // ---- values, in enumeration order (CompareRegistryNames) ----
    class ValueIterator;
    struct ValueRange {
        const ValueSet* set;
        ValueIterator begin() const;
        ValueIterator end() const;
    };
    std::size_t ValueCount() const {
        return values_.size() + (collectedValues_ ? collectedValues_->elements.size() : 0);
    }
    bool HasValues() const { return ValueCount() != 0; }
    // index < ValueCount().
    const RegValue& ValueAt(std::size_t index) const;
    ValueRange Values() const;  // for range-for, const RegValue&

    // The value of that name; it stays where it is as long as it exists.
    const RegValue* FindValue(std::u16string_view valueName) const;
    // The name of the value found must not be changed; its type and data may.
    RegValue* FindValue(std::u16string_view valueName);
    // Replaces the data of the value of that name (keeping the case of its
    // first creation) or inserts it at its place.
    void SetValue(RegValue value);
    bool RemoveValue(std::u16string_view valueName);

    // ---- subkeys, in enumeration order (CompareRegistryNames) ----
    class SubkeyIterator;
    struct SubkeyRange {
        const SubkeyMap* map;
        SubkeyIterator begin() const;
        SubkeyIterator end() const;
    };
    std::size_t SubkeyCount() const {
        return subkeys_.size() + (collectedSubkeys_ ? collectedSubkeys_->elements.size() : 0);
    }
    bool HasSubkeys() const { return SubkeyCount() != 0; }
    // index < SubkeyCount().
    const RegKey& SubkeyAt(std::size_t index) const;
    RegKey& SubkeyAt(std::size_t index);
    SubkeyRange Subkeys() const;  // for range-for, const RegKey&

    const RegKey* FindSubkey(std::u16string_view subkeyName) const;
    RegKey* FindSubkey(std::u16string_view subkeyName);
    // Inserts at its place in the order. A subkey of that name must not exist
    // yet; if one does, it is returned unchanged and key is dropped.
    RegKey& AddSubkey(RegKey key);
    // The subkey of that name, or a new empty one of that name (*created tells
    // which): one search of the subkeys either way.
    RegKey& FindOrAddSubkey(std::u16string_view subkeyName, bool* created = nullptr);
    bool RemoveSubkey(std::u16string_view subkeyName);
    // Calls visit(const RegKey&) for each subkey, in no particular order and
    // without putting them in order first: for walks that need every key once.
    template <typename Visit>
    void ForEachSubkeyInAnyOrder(Visit&& visit) const {
        for (const auto& entry : subkeys_) visit(*entry.second);
        if (collectedSubkeys_) {
            for (const auto& subkey : collectedSubkeys_->elements) visit(*subkey);
        }
    }

private:
    // The last position asked for; none while index is kNone.
    template <typename Container>
    struct Cursor {
        static constexpr std::size_t kNone = ~std::size_t{0};
        std::size_t index = kNone;
        typename Container::const_iterator at{};
    };
    // The elements of a key filling from empty, not in order yet; allocated only then.
    template <typename Element>
    struct Collected {
        std::vector<std::unique_ptr<Element>> elements;
        NameIndex<Element> index;
    };

    // Puts collected elements in their order (a no-op when there are none).
    void SettleValues() const;
    void SettleSubkeys() const;
    RegKey& CollectSubkey(std::unique_ptr<RegKey> key);
    void ClearCursors();
    // Frees every key below this one, deepest last, without recursion.
    void ReleaseSubkeys() noexcept;

    // Ordered, or collected while the key fills from empty: never both at once.
    mutable ValueSet values_;
    mutable std::unique_ptr<Collected<RegValue>> collectedValues_;
    mutable SubkeyMap subkeys_;  // names viewed in the subkeys themselves
    mutable std::unique_ptr<Collected<RegKey>> collectedSubkeys_;
    mutable Cursor<ValueSet> valueCursor_;
    mutable Cursor<SubkeyMap> subkeyCursor_;
};

class RegKey::ValueIterator {
public:
    using iterator_category = std::bidirectional_iterator_tag;
    using value_type = RegValue;
    using difference_type = std::ptrdiff_t;
    using pointer = const RegValue*;
    using reference = const RegValue&;

    ValueIterator() = default;
    explicit ValueIterator(ValueSet::const_iterator at) : at_(at) {}
    const RegValue& operator*() const { return **at_; }
    const RegValue* operator->() const { return at_->get(); }
    ValueIterator& operator++() {
        ++at_;
        return *this;
    }
    ValueIterator operator++(int) { return ValueIterator(at_++); }
    ValueIterator& operator--() {
        --at_;
        return *this;
    }
    ValueIterator operator--(int) { return ValueIterator(at_--); }
    bool operator==(const ValueIterator& other) const { return at_ == other.at_; }
    bool operator!=(const ValueIterator& other) const { return at_ != other.at_; }

private:
    ValueSet::const_iterator at_{};
};

class RegKey::SubkeyIterator {
public:
    using iterator_category = std::bidirectional_iterator_tag;
    using value_type = RegKey;
    using difference_type = std::ptrdiff_t;
    using pointer = const RegKey*;
    using reference = const RegKey&;

    SubkeyIterator() = default;
    explicit SubkeyIterator(SubkeyMap::const_iterator at) : at_(at) {}
    const RegKey& operator*() const { return *at_->second; }
    const RegKey* operator->() const { return at_->second.get(); }
    SubkeyIterator& operator++() {
        ++at_;
        return *this;
    }
    SubkeyIterator operator++(int) { return SubkeyIterator(at_++); }
    SubkeyIterator& operator--() {
        --at_;
        return *this;
    }
    SubkeyIterator operator--(int) { return SubkeyIterator(at_--); }
    bool operator==(const SubkeyIterator& other) const { return at_ == other.at_; }
    bool operator!=(const SubkeyIterator& other) const { return at_ != other.at_; }

private:
    SubkeyMap::const_iterator at_{};
};

inline RegKey::ValueIterator RegKey::ValueRange::begin() const { return ValueIterator(set->begin()); }
inline RegKey::ValueIterator RegKey::ValueRange::end() const { return ValueIterator(set->end()); }
inline RegKey::SubkeyIterator RegKey::SubkeyRange::begin() const { return SubkeyIterator(map->begin()); }
inline RegKey::SubkeyIterator RegKey::SubkeyRange::end() const { return SubkeyIterator(map->end()); }

// Same names (case included), values and subkeys, all the way down; ids and
// volatility are not compared.
bool SameContent(const RegKey& a, const RegKey& b);

// The three roots the registry serves.
enum class RegRoot { ClassesRoot, CurrentUser, LocalMachine };

std::optional<RegRoot> RootOfHandle(HKEY key);
HKEY RootHandle(RegRoot root);
const char16_t* RootName(RegRoot root);  // HKEY_CLASSES_ROOT, ...
std::string HiveName(RegRoot root);       // the same name in UTF-8

// The name of a key as messages and listings show it, UTF-8:
// "HKEY_CLASSES_ROOT\CLSID\{...}" (the root's name alone for an empty path).
std::string FullKeyName(RegRoot root, const std::string& path);
// The same below a predefined root handle; "?" stands for any other handle.
std::string FullKeyName(HKEY root, const std::string& path);

// A full key path "HKEY_LOCAL_MACHINE\Software\X" split into its root (long or
// short name, any case: HKLM, HKCU, HKCR) and components. Trailing backslashes are
// dropped; an empty component or an unknown root gives nullopt.
struct FullKeyPath {
    RegRoot root;
    std::vector<std::u16string> components;
};
std::optional<FullKeyPath> ParseFullKeyPath(std::u16string_view path);

}  // namespace qz
