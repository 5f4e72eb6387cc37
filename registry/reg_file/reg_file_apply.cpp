// Applying .reg entries to an in-memory registry, and importing a whole text:
// checked first, applied only when all of it is well formed.
#include <vector>

#include "registry/memory/memory_registry.h"
#include "registry/reg_file/reg_file.h"

namespace qz {

void RegEntryApplier::Apply(RegFileEntry& entry) {
    const std::u16string& path = entry.keyPath();
    switch (entry.kind) {
        case RegFileEntry::Kind::Key:
        case RegFileEntry::Kind::DeleteKey:
            if (entry.kind == RegFileEntry::Kind::Key) {
                registry_.EnsureKey(path);
            } else {
                registry_.RemoveTree(path);
            }
            section_ = nullptr;  // the tree changed: keys may have gone
            break;
        case RegFileEntry::Kind::Value:
        case RegFileEntry::Kind::DeleteValue:
            // Found once per section: walking a long path again for each of many
            // values would cost their number times its length.
            if (section_ != entry.key) {
                registry_.EnsureKey(path);
                sectionKey_ = const_cast<RegKey*>(registry_.FindKey(path));
                section_ = entry.key;
            }
            if (sectionKey_ == nullptr) break;
            if (entry.kind == RegFileEntry::Kind::Value) {
                sectionKey_->SetValue(std::move(entry.value));
            } else {
                sectionKey_->RemoveValue(entry.value.name);
            }
            break;
    }
}

void ApplyRegEntries(const std::vector<RegFileEntry>& entries, MemoryRegistry& registry) {
    RegEntryApplier applier(registry);
    for (const RegFileEntry& entry : entries) {
        RegFileEntry copy = entry;
        applier.Apply(copy);
    }
}

bool ImportRegText(std::u16string_view text, MemoryRegistry& registry, std::string& error) {
    // Checked whole first, then read again and applied entry by entry: no list
    // of entries as large as the file is ever held.
    if (!VisitRegText(text, [](RegFileEntry&, std::string&) { return true; }, error)) return false;
    RegEntryApplier applier(registry);
    return VisitRegText(
        text,
        [&applier](RegFileEntry& entry, std::string&) {
            applier.Apply(entry);
            return true;
        },
        error);
}

}  // namespace qz
