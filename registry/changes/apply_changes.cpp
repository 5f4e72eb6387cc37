#include "registry/changes/apply_changes.h"

#include "registry/api/registry_helpers.h"
#include "registry/api/system_error_text.h"
#include "text/code_page.h"

namespace qz {
namespace {

class ChangeApplier {
public:
    ChangeApplier(RegistryApi& registry, std::string& error) : registry_(registry), error_(error), key_(registry) {}

    void Apply(const RegistryChange& change) {
        switch (change.kind) {
            case RegistryChange::Kind::AddKey: Open(change); break;
            case RegistryChange::Kind::SetValue: {
                if (!Open(change)) break;
                const RegValue& value = *change.newValue;
                const LONG status = registry_.SetValueExW(key_.get(), value.name.c_str(), value.type,
                                                          value.data.empty() ? nullptr : value.data.data(),
                                                          static_cast<DWORD>(value.data.size()));
                if (status != ERROR_SUCCESS)
                    Fail("Unable to set the value \"" + Utf16ToUtf8(value.name) + "\" of", change.hive, change.key,
                         status);
                break;
            }
            case RegistryChange::Kind::RemoveValue: {
                if (!Open(change)) break;
                const LONG status = registry_.DeleteValueW(key_.get(), change.oldValue->name.c_str());
                if (status != ERROR_SUCCESS && !IsMissingStatus(status))
                    Fail("Unable to delete the value \"" + Utf16ToUtf8(change.oldValue->name) + "\" of", change.hive,
                         change.key, status);
                break;
            }
            case RegistryChange::Kind::RemoveKey: {
                key_.reset();
                opened_.clear();
                for (const std::string& path : change.removedKeys) {
                    const LONG status = registry_.DeleteKeyW(RootHandle(change.hive), Utf8ToUtf16(path).c_str());
                    if (status != ERROR_SUCCESS && !IsMissingStatus(status))
                        Fail("Unable to delete", change.hive, path, status);
                }
                break;
            }
        }
    }

private:
    // The change's key, created when missing, held for the changes after it
    // that name the same key. False when it cannot be had (said once).
    bool Open(const RegistryChange& change) {
        const std::string full = FullKeyName(change);
        if (full == opened_) return key_.get() != nullptr;
        key_.reset();
        opened_ = full;
        const LONG status = registry_.CreateKeyExW(RootHandle(change.hive), Utf8ToUtf16(change.key).c_str(),
                                                   REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, key_.put());
        if (status == ERROR_SUCCESS) return true;
        Fail("Unable to create", change.hive, change.key, status);
        return false;
    }

    void Fail(const std::string& what, RegRoot hive, const std::string& key, LONG status) {
        if (!error_.empty()) error_ += "\n";
        error_ += what + " " + FullKeyName(hive, key) + " (" + SystemErrorText(static_cast<unsigned long>(status)) + ")";
    }

    RegistryApi& registry_;
    std::string& error_;
    UniqueKey key_;
    std::string opened_;  // the full name of the key key_ holds (or failed to open)
};

}  // namespace

bool ApplyRegistryChanges(const std::vector<RegistryChange>& changes, RegistryApi& registry, std::string& error) {
    error.clear();
    ChangeApplier applier(registry, error);
    for (const RegistryChange& change : changes) applier.Apply(change);
    return error.empty();
}

}  // namespace qz
