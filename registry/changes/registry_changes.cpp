#include "registry/changes/registry_changes.h"

#include <algorithm>
#include <utility>

#include "registry/reg_file/reg_file.h"
#include "text/code_page.h"

namespace qz {
namespace {

// One key on both sides; a side that lacks it holds null.
struct KeyPair {
    std::u16string path;  // below the hive; empty for the hive itself
    const RegKey* before = nullptr;
    const RegKey* after = nullptr;
};

class ChangeLister {
public:
    ChangeLister(std::vector<RegistryChange>& out, RegRoot hive) : out_(out), hive_(hive) {}

    // Lists the hive's changes depth first, keeping the keys still to visit on
    // a stack of its own. withoutClasses leaves Software\Classes out.
    void ListHive(const RegKey& before, const RegKey& after, bool withoutClasses) {
        std::vector<KeyPair> pending;
        pending.push_back({u"", &before, &after});
        while (!pending.empty()) {
            const KeyPair pair = std::move(pending.back());
            pending.pop_back();
            if (pair.after == nullptr) {
                RegistryChange removal = Make(RegistryChange::Kind::RemoveKey, pair.path);
                removal.removedKeys = SubtreeChildrenFirst(pair.path, *pair.before);
                out_.push_back(std::move(removal));
                continue;
            }
            if (pair.before == nullptr && !pair.path.empty()) Add(RegistryChange::Kind::AddKey, pair.path);
            ListValues(pair);
            const bool skipClasses = withoutClasses && RegistryNamesEqual(pair.path, u"Software");
            std::vector<KeyPair> subkeys = MergedSubkeys(pair, skipClasses);
            // The first subkey on top, so that it is listed next.
            for (auto it = subkeys.rbegin(); it != subkeys.rend(); ++it) pending.push_back(std::move(*it));
        }
    }

private:
    // The values of a key the "after" side holds, by name: the values set, then
    // the values removed, in one order.
    void ListValues(const KeyPair& pair) {
        std::vector<RegistryChange> values;
        for (const RegValue& value : pair.after->Values()) {
            const RegValue* old = pair.before != nullptr ? pair.before->FindValue(value.name) : nullptr;
            if (old != nullptr && *old == value) continue;
            RegistryChange change = Make(RegistryChange::Kind::SetValue, pair.path);
            change.keyIsNew = pair.before == nullptr;
            if (old != nullptr) change.oldValue = *old;
            change.newValue = value;
            values.push_back(std::move(change));
        }
        if (pair.before != nullptr) {
            for (const RegValue& value : pair.before->Values()) {
                if (pair.after->FindValue(value.name) != nullptr) continue;
                RegistryChange change = Make(RegistryChange::Kind::RemoveValue, pair.path);
                change.oldValue = value;
                values.push_back(std::move(change));
            }
        }
        std::stable_sort(values.begin(), values.end(), [](const RegistryChange& a, const RegistryChange& b) {
            return CompareRegistryNames(NameOf(a), NameOf(b)) < 0;
        });
        for (RegistryChange& change : values) out_.push_back(std::move(change));
    }

    // The subkeys of both sides, merged in enumeration order; a subkey on both
    // sides is named as the "after" side names it.
    static std::vector<KeyPair> MergedSubkeys(const KeyPair& pair, bool skipClasses) {
        std::vector<KeyPair> merged;
        const RegKey none;
        const RegKey::SubkeyRange left = (pair.before != nullptr ? *pair.before : none).Subkeys();
        const RegKey::SubkeyRange right = pair.after->Subkeys();
        auto i = left.begin();
        auto j = right.begin();
        while (i != left.end() || j != right.end()) {
            const RegKey* a = nullptr;
            const RegKey* b = nullptr;
            if (j == right.end() || (i != left.end() && CompareRegistryNames(i->name, j->name) < 0)) {
                a = &*i++;
            } else if (i == left.end() || CompareRegistryNames(i->name, j->name) > 0) {
                b = &*j++;
            } else {
                a = &*i++;
                b = &*j++;
            }
            const std::u16string& name = b != nullptr ? b->name : a->name;
            if (skipClasses && RegistryNamesEqual(name, u"Classes")) continue;
            merged.push_back({pair.path.empty() ? name : pair.path + u"\\" + name, a, b});
        }
        return merged;
    }

    // The keys of a subtree, each after every key below it, with a stack of its own.
    static std::vector<std::string> SubtreeChildrenFirst(const std::u16string& path, const RegKey& top) {
        std::vector<std::string> keys;
        std::vector<std::pair<std::u16string, const RegKey*>> pending{{path, &top}};
        while (!pending.empty()) {
            const auto [name, key] = std::move(pending.back());
            pending.pop_back();
            keys.push_back(Utf16ToUtf8(name));
            for (const RegKey& subkey : key->Subkeys()) pending.emplace_back(name + u"\\" + subkey.name, &subkey);
        }
        // Each key was listed before everything below it: reversed, after.
        std::reverse(keys.begin(), keys.end());
        return keys;
    }

    static const std::u16string& NameOf(const RegistryChange& change) {
        return change.newValue ? change.newValue->name : change.oldValue->name;
    }
    RegistryChange Make(RegistryChange::Kind kind, const std::u16string& path) const {
        RegistryChange change;
        change.kind = kind;
        change.hive = hive_;
        change.key = Utf16ToUtf8(path);
        return change;
    }
    void Add(RegistryChange::Kind kind, const std::u16string& path) { out_.push_back(Make(kind, path)); }

    std::vector<RegistryChange>& out_;
    RegRoot hive_;
};

const char16_t* const kNewline = u"\n";

bool IsValueChange(const RegistryChange& change) {
    return change.kind == RegistryChange::Kind::SetValue || change.kind == RegistryChange::Kind::RemoveValue;
}

}  // namespace

std::vector<RegistryChange> ListRegistryChanges(const MemoryRegistry& before, const MemoryRegistry& after) {
    std::vector<RegistryChange> changes;
    ChangeLister(changes, RegRoot::ClassesRoot)
        .ListHive(before.Hive(RegRoot::ClassesRoot), after.Hive(RegRoot::ClassesRoot), false);
    ChangeLister(changes, RegRoot::CurrentUser)
        .ListHive(before.Hive(RegRoot::CurrentUser), after.Hive(RegRoot::CurrentUser), false);
    // The machine hive without Software\Classes, listed above as the classes root.
    ChangeLister(changes, RegRoot::LocalMachine)
        .ListHive(before.Hive(RegRoot::LocalMachine), after.Hive(RegRoot::LocalMachine), true);
    return changes;
}

std::string RegistryChangesAsRegText(const std::vector<RegistryChange>& changes) {
    if (changes.empty()) return std::string();
    RegWriteOptions options;
    options.newline = kNewline;
    std::string text = Utf16ToUtf8(RegFileHeader(options));
    for (std::size_t i = 0; i < changes.size();) {
        const RegistryChange& first = changes[i];
        if (first.kind == RegistryChange::Kind::RemoveKey) {
            text += "[-" + FullKeyName(first) + "]\n\n";
            ++i;
            continue;
        }
        // An added or kept key, with the changes of its values that follow it.
        text += "[" + FullKeyName(first) + "]\n";
        if (first.kind == RegistryChange::Kind::AddKey) ++i;
        for (; i < changes.size() && IsValueChange(changes[i]) && changes[i].hive == first.hive &&
               changes[i].key == first.key;
             ++i) {
            const RegistryChange& change = changes[i];
            const std::u16string line = change.kind == RegistryChange::Kind::SetValue
                                            ? FormatRegValue(*change.newValue, kNewline)
                                            : FormatRegValueName(change.oldValue->name) + u"=-";
            text += Utf16ToUtf8(line) + "\n";
        }
        text += "\n";
    }
    return text;
}

std::string DescribeRegistryChanges(const MemoryRegistry& before, const MemoryRegistry& after) {
    return RegistryChangesAsRegText(ListRegistryChanges(before, after));
}

}  // namespace qz
