#include "tools/qzreg/registry_diff.h"

#include <algorithm>
#include <cstdio>

#include "text/code_page.h"

namespace qz {
namespace {

class ChangeLister {
public:
    ChangeLister(std::vector<RegistryChange>& out, std::string hive) : out_(out), hive_(std::move(hive)) {}

    void Diff(const std::u16string& path, const RegKey* before, const RegKey* after) {
        if (after == nullptr) {
            if (before != nullptr) Add(RegistryChange::Kind::RemoveKey, path);
            return;
        }
        const bool added = before == nullptr;
        if (added && !path.empty()) Add(RegistryChange::Kind::AddKey, path);

        std::vector<RegistryChange> values;
        for (const RegValue& value : after->Values()) {
            const RegValue* old = before != nullptr ? before->FindValue(value.name) : nullptr;
            if (old != nullptr && *old == value) continue;
            RegistryChange change = Make(RegistryChange::Kind::SetValue, path);
            change.keyIsNew = added;
            if (old != nullptr) change.oldValue = *old;
            change.newValue = value;
            values.push_back(std::move(change));
        }
        if (before != nullptr) {
            for (const RegValue& value : before->Values()) {
                if (after->FindValue(value.name) != nullptr) continue;
                RegistryChange change = Make(RegistryChange::Kind::RemoveValue, path);
                change.oldValue = value;
                values.push_back(std::move(change));
            }
        }
        std::stable_sort(values.begin(), values.end(), [](const RegistryChange& a, const RegistryChange& b) {
            return CompareRegistryNames(NameOf(a), NameOf(b)) < 0;
        });
        for (RegistryChange& change : values) out_.push_back(std::move(change));

        // Subkeys of both sides, merged in enumeration order.
        std::vector<const RegKey*> left;
        std::vector<const RegKey*> right;
        if (before != nullptr)
            for (const RegKey& key : before->Subkeys()) left.push_back(&key);
        for (const RegKey& key : after->Subkeys()) right.push_back(&key);
        std::size_t i = 0, j = 0;
        while (i < left.size() || j < right.size()) {
            const RegKey* a = nullptr;
            const RegKey* b = nullptr;
            if (j >= right.size() || (i < left.size() && CompareRegistryNames(left[i]->name, right[j]->name) < 0)) {
                a = left[i++];
            } else if (i >= left.size() || CompareRegistryNames(left[i]->name, right[j]->name) > 0) {
                b = right[j++];
            } else {
                a = left[i++];
                b = right[j++];
            }
            const std::u16string& name = b != nullptr ? b->name : a->name;
            Diff(path.empty() ? name : path + u"\\" + name, a, b);
        }
    }

private:
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
    std::string hive_;
};

}  // namespace

std::vector<RegistryChange> ListRegistryChanges(const MemoryRegistry& before, const MemoryRegistry& after) {
    std::vector<RegistryChange> changes;
    ChangeLister classes(changes, "HKEY_CLASSES_ROOT");
    classes.Diff(u"", &before.Hive(RegRoot::ClassesRoot), &after.Hive(RegRoot::ClassesRoot));
    ChangeLister user(changes, "HKEY_CURRENT_USER");
    user.Diff(u"", &before.Hive(RegRoot::CurrentUser), &after.Hive(RegRoot::CurrentUser));

    // The machine hive without Software\Classes, listed above as the classes root.
    RegKey machineBefore = before.Hive(RegRoot::LocalMachine);
    RegKey machineAfter = after.Hive(RegRoot::LocalMachine);
    machineBefore.FindSubkey(u"Software")->RemoveSubkey(u"Classes");
    machineAfter.FindSubkey(u"Software")->RemoveSubkey(u"Classes");
    ChangeLister machine(changes, "HKEY_LOCAL_MACHINE");
    machine.Diff(u"", &machineBefore, &machineAfter);
    return changes;
}

std::string FullKeyName(const RegistryChange& change) {
    return change.key.empty() ? change.hive : change.hive + "\\" + change.key;
}

std::string RegistryTypeName(DWORD type) {
    switch (type) {
        case REG_NONE: return "REG_NONE";
        case REG_SZ: return "REG_SZ";
        case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
        case REG_BINARY: return "REG_BINARY";
        case REG_DWORD: return "REG_DWORD";
        case REG_DWORD_BIG_ENDIAN: return "REG_DWORD_BIG_ENDIAN";
        case REG_LINK: return "REG_LINK";
        case REG_MULTI_SZ: return "REG_MULTI_SZ";
        case REG_QWORD: return "REG_QWORD";
        default: break;
    }
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(type));
    return text;
}

}  // namespace qz
