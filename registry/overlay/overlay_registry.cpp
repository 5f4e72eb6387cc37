#include "registry/overlay/overlay_registry.h"

#include <algorithm>

#include "registry/api/registry_helpers.h"
#include "text/code_page.h"

namespace qz {
namespace {

constexpr DWORD kFirstDataGuess = 4096;

const std::u16string kMachine = u"HKEY_LOCAL_MACHINE";
const std::u16string kUser = u"HKEY_CURRENT_USER";

bool IsClassesPath(const std::vector<std::u16string>& path) {
    return path.size() >= 3 && path[0] == kMachine && RegistryNamesEqual(path[1], u"Software") &&
           RegistryNamesEqual(path[2], u"Classes");
}

std::u16string JoinFrom(const std::vector<std::u16string>& path, std::size_t first) {
    std::u16string joined;
    for (std::size_t i = first; i < path.size(); ++i) {
        if (i > first) joined.push_back(u'\\');
        joined += path[i];
    }
    return joined;
}

// Where a shadow key lives in the base registry: the classes root's keys are
// read and written through HKEY_CLASSES_ROOT, everything else below its hive.
std::pair<HKEY, std::u16string> BaseLocation(const std::vector<std::u16string>& path) {
    if (IsClassesPath(path)) return {HKEY_CLASSES_ROOT, JoinFrom(path, 3)};
    return {path[0] == kUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, JoinFrom(path, 1)};
}


}  // namespace

OverlayRegistry::OverlayRegistry(RegistryApi& base) : base_(base) {}

std::u16string OverlayRegistry::Joined(const KeyPath& path) { return JoinFrom(path, 0); }

std::u16string OverlayRegistry::Folded(const KeyPath& path) {
    std::u16string folded = Joined(path);
    for (char16_t& c : folded) c = RegistryFoldCase(c);
    return folded;
}

bool OverlayRegistry::FullPath(HKEY key, const char16_t* path, KeyPath& out, std::size_t& loadedDepth) const {
    loadedDepth = 0;
    if (key == HKEY_LOCAL_MACHINE) {
        out = {kMachine};
    } else if (key == HKEY_CURRENT_USER) {
        out = {kUser};
    } else if (key == HKEY_CLASSES_ROOT) {
        out = {kMachine, u"Software", u"Classes"};
    } else {
        const auto found = handles_.find(key);
        if (found == handles_.end()) return false;
        out = found->second;
        loadedDepth = out.size();
    }
    if (path == nullptr) return true;
    std::u16string_view rest = path;
    while (!rest.empty()) {
        const std::size_t next = rest.find(u'\\');
        const std::u16string_view component = rest.substr(0, next);
        if (!component.empty()) out.emplace_back(component);
        if (next == std::u16string_view::npos) break;
        rest.remove_prefix(next + 1);
    }
    return true;
}

const RegKey& OverlayRegistry::ShadowHive(const KeyPath& path) const {
    return shadow_.Hive(path[0] == kUser ? RegRoot::CurrentUser : RegRoot::LocalMachine);
}

const RegKey* OverlayRegistry::ShadowKey(const KeyPath& path) const {
    const RegKey* key = &ShadowHive(path);
    for (std::size_t i = 1; i < path.size() && key != nullptr; ++i) key = key->FindSubkey(path[i]);
    return key;
}

LONG OverlayRegistry::LoadAlong(const KeyPath& path, std::size_t loadedDepth) {
    if (loadedDepth >= path.size()) return ERROR_SUCCESS;
    KeyPath prefix(path.begin(), path.begin() + loadedDepth);
    // Keys keep their address while they exist: the walk holds on to the last one.
    const RegKey* key = loadedDepth > 0 ? ShadowKey(prefix) : nullptr;
    if (loadedDepth > 0 && key == nullptr) return ERROR_SUCCESS;  // gone: the shadow answers for it
    for (std::size_t i = loadedDepth; i < path.size(); ++i) {
        prefix.push_back(path[i]);
        key = i == 0 ? &ShadowHive(path) : key->FindSubkey(path[i]);
        if (key == nullptr) break;  // nothing below a missing key exists either
        // The names as the registry keeps them, not as this caller spelled them.
        if (i > 0) prefix.back() = key->name;
        if (loaded_.count(Folded(prefix)) != 0) continue;
        if (const LONG status = LoadKey(prefix); status != ERROR_SUCCESS) return status;
    }
    return ERROR_SUCCESS;
}

LONG OverlayRegistry::LoadKey(const KeyPath& path) {
    BaseState state;
    const auto [root, relative] = BaseLocation(path);
    UniqueKey key(base_);
    const LONG opened = base_.OpenKeyExW(root, relative.c_str(), KEY_READ, key.put());
    if (IsMissingStatus(opened)) {
        loaded_[Folded(path)] = {path, state};
        return ERROR_SUCCESS;
    }
    if (opened != ERROR_SUCCESS) return opened;
    state.exists = true;

    const std::u16string full = Joined(path);
    std::vector<char16_t> name(kMaxValueNameLength + 1);
    std::vector<BYTE> data(kFirstDataGuess);
    for (DWORD index = 0;;) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD size = static_cast<DWORD>(data.size());
        DWORD type = REG_NONE;
        const LONG status = base_.EnumValueW(key.get(), index, name.data(), &nameLength, &type, data.data(), &size);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status == ERROR_MORE_DATA && size > data.size()) {
            data.resize(size);
            continue;  // the same value again, with room for its data
        }
        if (status != ERROR_SUCCESS) return status;
        RegValue value;
        value.name.assign(name.data(), nameLength);
        value.type = type;
        value.data.assign(data.begin(), data.begin() + size);
        shadow_.PutValue(full, value);
        state.values.push_back(std::move(value));
        ++index;
    }
    char16_t subkey[kMaxKeyNameLength + 1];
    for (DWORD index = 0;; ++index) {
        DWORD length = kMaxKeyNameLength + 1;
        const LONG status = base_.EnumKeyExW(key.get(), index, subkey, &length);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS) return status;
        shadow_.EnsureKey(full + u"\\" + std::u16string(subkey, length));
    }
    loaded_[Folded(path)] = {path, std::move(state)};
    return ERROR_SUCCESS;
}

void OverlayRegistry::RecordCreated(const KeyPath& path, std::size_t loadedDepth) {
    KeyPath prefix;
    const RegKey* key = nullptr;
    for (std::size_t i = 0; i < path.size(); ++i) {
        prefix.push_back(path[i]);
        key = i == 0 ? &ShadowHive(path) : key->FindSubkey(path[i]);
        if (key == nullptr) return;
        if (i > 0) prefix.back() = key->name;
        if (i < loadedDepth) continue;
        const std::u16string folded = Folded(prefix);
        if (loaded_.count(folded) == 0) loaded_[folded] = {prefix, BaseState{}};
    }
}

void OverlayRegistry::Remember(HKEY handle, KeyPath path) {
    // Keep the stored names along the path, for snapshots and later relative opens.
    const RegKey* key = nullptr;
    for (std::size_t i = 0; i < path.size(); ++i) {
        key = i == 0 ? &ShadowHive(path) : key != nullptr ? key->FindSubkey(path[i]) : nullptr;
        if (i > 0 && key != nullptr) path[i] = key->name;
    }
    handles_[handle] = std::move(path);
}

LONG OverlayRegistry::CreateKeyExW(HKEY root, const char16_t* path, DWORD options, REGSAM access, HKEY* out) {
    KeyPath full;
    std::size_t loadedDepth = 0;
    if (!FullPath(root, path, full, loadedDepth)) return ERROR_INVALID_HANDLE;
    if (const LONG status = LoadAlong(full, loadedDepth); status != ERROR_SUCCESS) return status;
    const LONG status = shadow_.CreateKeyExW(root, path, options, access, out);
    if (status != ERROR_SUCCESS) return status;
    RecordCreated(full, loadedDepth);
    Remember(*out, std::move(full));
    return ERROR_SUCCESS;
}

LONG OverlayRegistry::OpenKeyExW(HKEY root, const char16_t* path, REGSAM access, HKEY* out) {
    KeyPath full;
    std::size_t loadedDepth = 0;
    if (!FullPath(root, path, full, loadedDepth)) return ERROR_INVALID_HANDLE;
    if (const LONG status = LoadAlong(full, loadedDepth); status != ERROR_SUCCESS) return status;
    const LONG status = shadow_.OpenKeyExW(root, path, access, out);
    if (status == ERROR_SUCCESS) Remember(*out, std::move(full));
    return status;
}

LONG OverlayRegistry::SetValueExW(HKEY key, const char16_t* name, DWORD type, const BYTE* data, DWORD size) {
    return shadow_.SetValueExW(key, name, type, data, size);
}

LONG OverlayRegistry::QueryValueExW(HKEY key, const char16_t* name, DWORD* type, BYTE* data, DWORD* size) {
    return shadow_.QueryValueExW(key, name, type, data, size);
}

LONG OverlayRegistry::QueryInfoKeyW(HKEY key, DWORD* subKeys, DWORD* values) {
    return shadow_.QueryInfoKeyW(key, subKeys, values);
}

LONG OverlayRegistry::EnumKeyExW(HKEY key, DWORD index, char16_t* name, DWORD* nameLen) {
    return shadow_.EnumKeyExW(key, index, name, nameLen);
}

LONG OverlayRegistry::EnumValueW(HKEY key, DWORD index, char16_t* name, DWORD* nameLen, DWORD* type, BYTE* data,
                                 DWORD* dataLen) {
    return shadow_.EnumValueW(key, index, name, nameLen, type, data, dataLen);
}

LONG OverlayRegistry::DeleteKeyW(HKEY root, const char16_t* path) {
    KeyPath full;
    std::size_t loadedDepth = 0;
    if (!FullPath(root, path, full, loadedDepth)) return ERROR_INVALID_HANDLE;
    // Loading the key lists its subkeys: a key that has any is refused, as the registry refuses it.
    if (const LONG status = LoadAlong(full, loadedDepth); status != ERROR_SUCCESS) return status;
    return shadow_.DeleteKeyW(root, path);
}

LONG OverlayRegistry::DeleteValueW(HKEY key, const char16_t* name) { return shadow_.DeleteValueW(key, name); }

LONG OverlayRegistry::CloseKey(HKEY key) {
    const LONG status = shadow_.CloseKey(key);
    if (status == ERROR_SUCCESS) handles_.erase(key);
    return status;
}

std::vector<RegistryChange> OverlayRegistry::Changes() const {
    MemoryRegistry before;
    MemoryRegistry after;
    Snapshots(before, after);
    return ListRegistryChanges(before, after);
}

void OverlayRegistry::Snapshots(MemoryRegistry& before, MemoryRegistry& after) const {
    for (const auto& [folded, entry] : loaded_) {
        const KeyPath& path = entry.first;
        const BaseState& base = entry.second;
        const std::u16string full = Joined(path);
        if (base.exists) {
            before.EnsureKey(full);
            for (const RegValue& value : base.values) before.PutValue(full, value);
        }
        if (const RegKey* now = ShadowKey(path)) {
            after.EnsureKey(full);
            for (const RegValue& value : now->Values()) after.PutValue(full, value);
        }
    }
}

}  // namespace qz
