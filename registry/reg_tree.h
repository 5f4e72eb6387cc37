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

#include "registry/win32_types.h"

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

// A key with its values and subkeys. Both are kept in balanced trees ordered by
// name, so that a lookup, an insertion or a removal costs O(log n) whatever the
// order in which names arrive (a .reg file may list them in any order), and
// subkeys live at fixed addresses for as long as they exist (the in-memory
// registry's handles point at them).
//
// The i-th value or subkey in enumeration order is found from a cursor that
// remembers the last position asked for and follows insertions and removals:
// enumerating 0, 1, 2, ... (or n-1, n-2, ..., or 0 again after removing the
// first) costs O(1) a step. The cursor is state of const calls too: one RegKey
// must not be read from two threads at once.
//
// Copying, comparing and destroying walk the tree with an explicit stack, never
// recursing per level: a key thousands of levels deep cannot overflow the stack.
struct RegKey {
    std::u16string name;  // as created; fixed once the key is added to a parent
    bool isVolatile = false;
    // Identity within one MemoryRegistry: a key deleted and created again is a
    // different key, and handles to the old one must see it as deleted.
    std::uint64_t id = 0;

    RegKey() = default;
    RegKey(const RegKey& other);
    RegKey(RegKey&& other) noexcept;
    RegKey& operator=(const RegKey& other);
    RegKey& operator=(RegKey&& other) noexcept;
    ~RegKey();

    // ---- values, in enumeration order (CompareRegistryNames) ----
    using ValueSet = std::set<RegValue, RegistryNameOrder>;
    std::size_t ValueCount() const { return values_.size(); }
    bool HasValues() const { return !values_.empty(); }
    // index < ValueCount().
    const RegValue& ValueAt(std::size_t index) const;
    const ValueSet& Values() const { return values_; }  // for range-for

    const RegValue* FindValue(std::u16string_view valueName) const;
    // The name of the value found must not be changed; its type and data may.
    RegValue* FindValue(std::u16string_view valueName);
    // Replaces the data of the value of that name (keeping the case of its
    // first creation) or inserts it at its place.
    void SetValue(RegValue value);
    bool RemoveValue(std::u16string_view valueName);

    // ---- subkeys, in enumeration order (CompareRegistryNames) ----
    using SubkeyMap = std::map<std::u16string_view, std::unique_ptr<RegKey>, RegistryNameOrder>;
    class SubkeyIterator;
    struct SubkeyRange {
        const SubkeyMap* map;
        SubkeyIterator begin() const;
        SubkeyIterator end() const;
    };
    std::size_t SubkeyCount() const { return subkeys_.size(); }
    bool HasSubkeys() const { return !subkeys_.empty(); }
    // index < SubkeyCount().
    const RegKey& SubkeyAt(std::size_t index) const;
    RegKey& SubkeyAt(std::size_t index);
    SubkeyRange Subkeys() const { return SubkeyRange{&subkeys_}; }  // for range-for, const RegKey&

    const RegKey* FindSubkey(std::u16string_view subkeyName) const;
    RegKey* FindSubkey(std::u16string_view subkeyName);
    // Inserts at its place in the order. A subkey of that name must not exist
    // yet; if one does, it is returned unchanged and key is dropped.
    RegKey& AddSubkey(RegKey key);
    // The subkey of that name, or a new empty one of that name (*created tells
    // which): one search of the subkeys either way.
    RegKey& FindOrAddSubkey(std::u16string_view subkeyName, bool* created = nullptr);
    bool RemoveSubkey(std::u16string_view subkeyName);

private:
    template <typename Container>
    struct Cursor {
        std::size_t index = 0;
        typename Container::const_iterator at{};
        bool valid = false;
    };

    void ClearCursors();
    // Frees every key below this one, deepest last, without recursion.
    void ReleaseSubkeys() noexcept;

    ValueSet values_;
    SubkeyMap subkeys_;  // names viewed in the subkeys themselves
    mutable Cursor<ValueSet> valueCursor_;
    mutable Cursor<SubkeyMap> subkeyCursor_;
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

// A full key path "HKEY_LOCAL_MACHINE\Software\X" split into its root (long or
// short name, any case: HKLM, HKCU, HKCR) and components. Trailing backslashes are
// dropped; an empty component or an unknown root gives nullopt.
struct FullKeyPath {
    RegRoot root;
    std::vector<std::u16string> components;
};
std::optional<FullKeyPath> ParseFullKeyPath(std::u16string_view path);

}  // namespace qz
