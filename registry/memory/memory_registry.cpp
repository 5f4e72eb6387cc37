#include "registry/memory/memory_registry.h"

#include <cstring>


namespace qz {
namespace {

constexpr REGSAM kWow64ViewFlags = 0x0300;
constexpr REGSAM kGenericRead = 0x80000000u;
constexpr REGSAM kGenericWrite = 0x40000000u;
constexpr REGSAM kGenericExecute = 0x20000000u;
constexpr REGSAM kGenericAll = 0x10000000u;
constexpr REGSAM kMaximumAllowed = 0x02000000u;
constexpr LONG kErrorNoAccess = 998;  // ERROR_NOACCESS: a size without a buffer

const std::u16string kSoftware = u"Software";
const std::u16string kClasses = u"Classes";

REGSAM GrantedAccess(REGSAM requested) {
    REGSAM granted = requested & ~(kWow64ViewFlags | kGenericRead | kGenericWrite | kGenericExecute |
                                   kGenericAll | kMaximumAllowed);
    if (requested & (kGenericRead | kGenericExecute)) granted |= KEY_READ;
    if (requested & kGenericWrite) granted |= KEY_WRITE;
    if (requested & (kGenericAll | kMaximumAllowed)) granted |= KEY_ALL_ACCESS;
    return granted;
}


// A path relative to a root or an open key: components separated by
// backslashes. A run of backslashes separates like one, trailing ones are
// accepted, a leading one is refused (all as the Windows registry does).
LONG SplitRelativePath(const char16_t* path, std::vector<std::u16string>& out) {
    if (path == nullptr) return ERROR_SUCCESS;
    std::u16string_view rest = path;
    if (!rest.empty() && rest.front() == u'\\') return ERROR_BAD_PATHNAME;
    while (!rest.empty() && rest.back() == u'\\') rest.remove_suffix(1);
    while (!rest.empty()) {
        const std::size_t next = rest.find(u'\\');
        const std::u16string_view component = rest.substr(0, next);
        out.emplace_back(component);
        if (next == std::u16string_view::npos) break;
        rest = rest.substr(next + 1);
        while (!rest.empty() && rest.front() == u'\\') rest.remove_prefix(1);
    }
    return ERROR_SUCCESS;
}

// Copies value data into a caller's buffer as the wide query and enumeration
// calls do: the stored bytes as they are. *reported receives the size the caller is told.
LONG CopyValueData(const RegValue& value, BYTE* data, DWORD* size, DWORD* reported) {
    const DWORD length = static_cast<DWORD>(value.data.size());
    *reported = length;
    if (data == nullptr) return ERROR_SUCCESS;
    if (length > *size) return ERROR_MORE_DATA;
    if (length != 0) std::memcpy(data, value.data.data(), length);
    return ERROR_SUCCESS;
}

}  // namespace

MemoryRegistry::MemoryRegistry() {
    machine_.name = RootName(RegRoot::LocalMachine);
    machine_.id = NewId();
    user_.name = RootName(RegRoot::CurrentUser);
    user_.id = NewId();
    EnsureKey(u"HKEY_LOCAL_MACHINE\\Software\\Classes");
}

MemoryRegistry::MemoryRegistry(const MemoryRegistry& other)
    : machine_(other.machine_), user_(other.user_), nextId_(other.nextId_) {}

MemoryRegistry& MemoryRegistry::operator=(const MemoryRegistry& other) {
    if (this != &other) {
        // Handles of this registry would name keys of a tree that is gone: none stays valid.
        handles_.clear();
        openKeys_.clear();
        lastPath_.clear();
        lastKey_ = nullptr;
        machine_ = other.machine_;
        user_ = other.user_;
        nextId_ = other.nextId_;
    }
    return *this;
}

RegKey& MemoryRegistry::HiveRoot(RegRoot hive) { return hive == RegRoot::CurrentUser ? user_ : machine_; }

const RegKey& MemoryRegistry::Hive(RegRoot root) const {
    if (root == RegRoot::CurrentUser) return user_;
    if (root == RegRoot::LocalMachine) return machine_;
    return *machine_.FindSubkey(kSoftware)->FindSubkey(kClasses);
}

RegKey* MemoryRegistry::ClassesKey() {
    RegKey* software = machine_.FindSubkey(kSoftware);
    return software != nullptr ? software->FindSubkey(kClasses) : nullptr;
}

RegKey* MemoryRegistry::Walk(RegRoot hive, const std::vector<std::u16string>& path) {
    RegKey* key = &HiveRoot(hive);
    for (const std::u16string& component : path) {
        key = key->FindSubkey(component);
        if (key == nullptr) return nullptr;
    }
    return key;
}

MemoryRegistry::Resolved MemoryRegistry::Resolve(HKEY key) {
    if (const auto root = RootOfHandle(key)) {
        if (*root == RegRoot::ClassesRoot) {
            RegKey* software = machine_.FindSubkey(kSoftware);
            return {ERROR_SUCCESS, software->FindSubkey(kClasses), software, RegRoot::LocalMachine, KEY_ALL_ACCESS};
        }
        return {ERROR_SUCCESS, &HiveRoot(*root), nullptr, *root, KEY_ALL_ACCESS};
    }
    const auto found = handles_.find(reinterpret_cast<std::uintptr_t>(key));
    if (found == handles_.end()) return {ERROR_INVALID_HANDLE, nullptr, nullptr, RegRoot::LocalMachine, 0};
    const Handle& handle = found->second;
    if (handle.key == nullptr) return {ERROR_KEY_DELETED, nullptr, nullptr, handle.hive, 0};
    return {ERROR_SUCCESS, handle.key, handle.parent, handle.hive, handle.access};
}

MemoryRegistry::Resolved MemoryRegistry::ResolveFor(HKEY key, REGSAM needed) {
    Resolved resolved = Resolve(key);
    if (resolved.status == ERROR_SUCCESS && (resolved.access & needed) != needed) {
        resolved.status = ERROR_ACCESS_DENIED;
    }
    return resolved;
}

HKEY MemoryRegistry::AddHandle(RegRoot hive, RegKey* key, RegKey* parent, REGSAM access) {
    const std::uintptr_t value = nextHandle_;
    nextHandle_ += 4;
    handles_[value] = Handle{hive, key, parent, GrantedAccess(access)};
    ++openKeys_[key];
    return reinterpret_cast<HKEY>(value);
}

void MemoryRegistry::Forget(const RegKey& key) {
    lastPath_.clear();
    lastKey_ = nullptr;
    if (openKeys_.empty()) return;
    // The keys of the subtree that have handles, found in one walk of it; then
    // one pass over the handles. Linear in the keys removed plus the handles.
    std::unordered_map<const RegKey*, std::size_t> going;
    std::vector<const RegKey*> pending{&key};
    while (!pending.empty()) {
        const RegKey* current = pending.back();
        pending.pop_back();
        if (const auto open = openKeys_.find(current); open != openKeys_.end()) {
            going.insert(*open);
            openKeys_.erase(open);
        }
        current->ForEachSubkeyInAnyOrder([&pending](const RegKey& subkey) { pending.push_back(&subkey); });
    }
    if (going.empty()) return;
    for (auto& [value, handle] : handles_) {
        if (handle.key != nullptr && going.count(handle.key) != 0) {
            handle.key = nullptr;
            handle.parent = nullptr;
        }
    }
}

LONG MemoryRegistry::OpenOrCreate(HKEY root, const char16_t* path, DWORD options, REGSAM access, bool create,
                                  HKEY* out) {
    if (out == nullptr) return ERROR_INVALID_PARAMETER;
    *out = nullptr;
    Resolved base = Resolve(root);
    if (base.status != ERROR_SUCCESS) return base.status;
    std::vector<std::u16string> components;
    if (const LONG status = SplitRelativePath(path, components); status != ERROR_SUCCESS) return status;

    RegKey* key = base.key;
    RegKey* parent = base.parent;
    const bool makeVolatile = (options & REG_OPTION_VOLATILE) != 0;
    for (const std::u16string& component : components) {
        // A name that is too long fails where the walk reaches it: the keys
        // created above it stay, as they do when advapi32 creates a path one
        // key at a time.
        if (component.size() > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
        RegKey* child = key->FindSubkey(component);
        if (child == nullptr) {
            if (!create) return ERROR_FILE_NOT_FOUND;
            if (key->isVolatile && !makeVolatile) return ERROR_CHILD_MUST_BE_VOLATILE;
            RegKey created;
            created.name = component;
            created.isVolatile = makeVolatile;
            created.id = NewId();
            child = &key->AddSubkey(std::move(created));
        }
        parent = key;
        key = child;
    }
    *out = AddHandle(base.hive, key, parent, access);
    return ERROR_SUCCESS;
}

LONG MemoryRegistry::CreateKeyExW(HKEY root, const char16_t* path, DWORD options, REGSAM access, HKEY* out) {
    return OpenOrCreate(root, path, options, access, true, out);
}

LONG MemoryRegistry::OpenKeyExW(HKEY root, const char16_t* path, REGSAM access, HKEY* out) {
    return OpenOrCreate(root, path, 0, access, false, out);
}

LONG MemoryRegistry::SetValueExW(HKEY key, const char16_t* name, DWORD type, const BYTE* data, DWORD size) {
    Resolved resolved = ResolveFor(key, KEY_SET_VALUE);
    if (resolved.status != ERROR_SUCCESS) return resolved.status;
    if (data == nullptr && size != 0) return kErrorNoAccess;
    RegValue value;
    value.name = name != nullptr ? name : u"";
    if (value.name.size() > kMaxValueNameLength) return ERROR_INVALID_PARAMETER;
    value.type = type;
    if (size != 0) value.data.assign(data, data + size);
    resolved.key->SetValue(std::move(value));
    return ERROR_SUCCESS;
}

LONG MemoryRegistry::QueryValueExW(HKEY key, const char16_t* name, DWORD* type, BYTE* data, DWORD* size) {
    if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
    Resolved resolved = ResolveFor(key, KEY_QUERY_VALUE);
    if (resolved.status != ERROR_SUCCESS) return resolved.status;
    const RegValue* value = resolved.key->FindValue(name != nullptr ? name : u"");
    if (value == nullptr) return ERROR_FILE_NOT_FOUND;
    DWORD reported = 0;
    const LONG status = CopyValueData(*value, data, size, &reported);
    if (type != nullptr) *type = value->type;
    if (size != nullptr) *size = reported;
    return status;
}

LONG MemoryRegistry::QueryInfoKeyW(HKEY key, DWORD* subKeys, DWORD* values) {
    Resolved resolved = ResolveFor(key, KEY_QUERY_VALUE);
    if (resolved.status != ERROR_SUCCESS) return resolved.status;
    if (subKeys != nullptr) *subKeys = static_cast<DWORD>(resolved.key->SubkeyCount());
    if (values != nullptr) *values = static_cast<DWORD>(resolved.key->ValueCount());
    return ERROR_SUCCESS;
}

LONG MemoryRegistry::EnumKeyExW(HKEY key, DWORD index, char16_t* name, DWORD* nameLen) {
    if (name == nullptr || nameLen == nullptr) return ERROR_INVALID_PARAMETER;
    Resolved resolved = ResolveFor(key, KEY_ENUMERATE_SUB_KEYS);
    if (resolved.status != ERROR_SUCCESS) return resolved.status;
    if (index >= resolved.key->SubkeyCount()) return ERROR_NO_MORE_ITEMS;
    const std::u16string& wide = resolved.key->SubkeyAt(index).name;
    if (wide.size() >= *nameLen) return ERROR_MORE_DATA;
    std::memcpy(name, wide.data(), wide.size() * sizeof(char16_t));
    name[wide.size()] = u'\0';
    *nameLen = static_cast<DWORD>(wide.size());
    return ERROR_SUCCESS;
}

LONG MemoryRegistry::EnumValueW(HKEY key, DWORD index, char16_t* name, DWORD* nameLen, DWORD* type, BYTE* data,
                                DWORD* dataLen) {
    if (name == nullptr || nameLen == nullptr || (data != nullptr && dataLen == nullptr))
        return ERROR_INVALID_PARAMETER;
    Resolved resolved = ResolveFor(key, KEY_QUERY_VALUE);
    if (resolved.status != ERROR_SUCCESS) return resolved.status;
    if (index >= resolved.key->ValueCount()) return ERROR_NO_MORE_ITEMS;
    const RegValue& value = resolved.key->ValueAt(index);
    if (value.name.size() >= *nameLen) return ERROR_MORE_DATA;
    DWORD reported = 0;
    const LONG status = CopyValueData(value, data, dataLen, &reported);
    if (status == ERROR_SUCCESS) {
        std::memcpy(name, value.name.data(), value.name.size() * sizeof(char16_t));
        name[value.name.size()] = u'\0';
        *nameLen = static_cast<DWORD>(value.name.size());
    }
    if (type != nullptr) *type = value.type;
    if (dataLen != nullptr) *dataLen = reported;
    return status;
}

LONG MemoryRegistry::DeleteKeyW(HKEY root, const char16_t* path) {
    if (path == nullptr) return ERROR_INVALID_PARAMETER;
    Resolved base = Resolve(root);
    if (base.status != ERROR_SUCCESS) return base.status;
    std::vector<std::u16string> components;
    if (const LONG status = SplitRelativePath(path, components); status != ERROR_SUCCESS) return status;

    RegKey* key = base.key;
    RegKey* parent = base.parent;
    for (const std::u16string& component : components) {
        parent = key;
        key = key->FindSubkey(component);
        if (key == nullptr) return ERROR_FILE_NOT_FOUND;
    }
    // Roots cannot go, nor can the key HKEY_CLASSES_ROOT shows.
    if (parent == nullptr || key == ClassesKey()) return ERROR_ACCESS_DENIED;
    if (key->HasSubkeys()) return ERROR_ACCESS_DENIED;

    Forget(*key);
    const std::u16string name = key->name;
    parent->RemoveSubkey(name);
    return ERROR_SUCCESS;
}

LONG MemoryRegistry::DeleteValueW(HKEY key, const char16_t* name) {
    Resolved resolved = ResolveFor(key, KEY_SET_VALUE);
    if (resolved.status != ERROR_SUCCESS) return resolved.status;
    return resolved.key->RemoveValue(name != nullptr ? name : u"") ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LONG MemoryRegistry::CloseKey(HKEY key) {
    if (RootOfHandle(key)) return ERROR_SUCCESS;
    const auto found = handles_.find(reinterpret_cast<std::uintptr_t>(key));
    if (found == handles_.end()) return ERROR_INVALID_HANDLE;
    if (const RegKey* named = found->second.key) {
        const auto open = openKeys_.find(named);
        if (--open->second == 0) openKeys_.erase(open);
    }
    handles_.erase(found);
    return ERROR_SUCCESS;
}

// ---- direct access --------------------------------------------------------------

bool MemoryRegistry::ToHivePath(std::u16string_view fullPath, RegRoot& hive,
                                std::vector<std::u16string>& path) const {
    auto parsed = ParseFullKeyPath(fullPath);
    if (!parsed) return false;
    path.clear();
    if (parsed->root == RegRoot::ClassesRoot) {
        hive = RegRoot::LocalMachine;
        path = {kSoftware, kClasses};
    } else {
        hive = parsed->root;
    }
    for (std::u16string& component : parsed->components) path.push_back(std::move(component));
    return true;
}

const RegKey* MemoryRegistry::FindKey(std::u16string_view fullPath) const {
    RegRoot hive;
    std::vector<std::u16string> path;
    if (!ToHivePath(fullPath, hive, path)) return nullptr;
    return const_cast<MemoryRegistry*>(this)->Walk(hive, path);
}

bool MemoryRegistry::EnsureKey(std::u16string_view fullPath) { return EnsureNode(fullPath) != nullptr; }

RegKey* MemoryRegistry::EnsureNode(std::u16string_view fullPath) {
    if (lastKey_ != nullptr && fullPath == lastPath_) return lastKey_;
    RegRoot hive;
    std::vector<std::u16string> path;
    if (!ToHivePath(fullPath, hive, path)) return nullptr;
    RegKey* key = &HiveRoot(hive);
    for (const std::u16string& component : path) {
        bool created = false;
        RegKey* child = &key->FindOrAddSubkey(component, &created);
        if (created) {
            child->isVolatile = key->isVolatile;
            child->id = NewId();
        }
        key = child;
    }
    lastPath_.assign(fullPath.data(), fullPath.size());
    lastKey_ = key;
    return key;
}

bool MemoryRegistry::PutValue(std::u16string_view fullPath, RegValue value) {
    RegKey* key = EnsureNode(fullPath);
    if (key == nullptr) return false;
    key->SetValue(std::move(value));
    return true;
}

bool MemoryRegistry::RemoveTree(std::u16string_view fullPath) {
    RegRoot hive;
    std::vector<std::u16string> path;
    if (!ToHivePath(fullPath, hive, path) || path.empty()) return false;
    const std::u16string name = path.back();
    path.pop_back();
    RegKey* parent = Walk(hive, path);
    RegKey* key = parent != nullptr ? parent->FindSubkey(name) : nullptr;
    if (key == nullptr) return false;
    Forget(*key);
    parent->RemoveSubkey(name);
    // HKEY_CLASSES_ROOT always has its key to show.
    EnsureKey(u"HKEY_LOCAL_MACHINE\\Software\\Classes");
    return true;
}

bool MemoryRegistry::RemoveValue(std::u16string_view fullPath, std::u16string_view valueName) {
    const RegKey* key = FindKey(fullPath);
    return key != nullptr && const_cast<RegKey*>(key)->RemoveValue(valueName);
}

}  // namespace qz
