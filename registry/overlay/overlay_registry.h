// A registry that records instead of writing: it reads through to another
// registry (the in-memory one, the registry folder's, advapi32) and keeps every
// create, write and delete to itself, answering later reads as that registry
// would after those changes. Running a pass on it is a dry run; its snapshots
// are what the pass would change; ApplyRegistryChanges (apply_changes.h) makes
// that list for real.
//
// How: a shadow in-memory registry holds every key the overlay has been asked
// about. A key is loaded from the base registry (its values, and the names of its
// subkeys as placeholders) the first time a call reaches it or a key below it,
// so the shadow answers with the in-memory registry's own semantics (handles,
// access, deleted keys, volatile keys) and the base is only ever read.
//
// HKEY_CLASSES_ROOT is HKEY_LOCAL_MACHINE\Software\Classes here, as in the
// in-memory registry; its keys are read from the base through HKEY_CLASSES_ROOT,
// so that on Windows they show what the module itself would see.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "registry/memory/memory_registry.h"
#include "registry/api/registry_api.h"
#include "registry/changes/registry_changes.h"

namespace qz {

class OverlayRegistry final : public RegistryApi {
public:
    explicit OverlayRegistry(RegistryApi& base);
    OverlayRegistry(const OverlayRegistry&) = delete;
    OverlayRegistry& operator=(const OverlayRegistry&) = delete;

    LONG CreateKeyExW(HKEY root, const char16_t* path, DWORD options, REGSAM access, HKEY* out) override;
    LONG OpenKeyExW(HKEY root, const char16_t* path, REGSAM access, HKEY* out) override;
    LONG SetValueExW(HKEY key, const char16_t* name, DWORD type, const BYTE* data, DWORD size) override;
    LONG QueryValueExW(HKEY key, const char16_t* name, DWORD* type, BYTE* data, DWORD* size) override;
    LONG QueryInfoKeyW(HKEY key, DWORD* subKeys, DWORD* values) override;
    LONG EnumKeyExW(HKEY key, DWORD index, char16_t* name, DWORD* nameLen) override;
    LONG EnumValueW(HKEY key, DWORD index, char16_t* name, DWORD* nameLen, DWORD* type, BYTE* data,
                    DWORD* dataLen) override;
    LONG DeleteKeyW(HKEY root, const char16_t* path) override;
    LONG DeleteValueW(HKEY key, const char16_t* name) override;
    LONG CloseKey(HKEY key) override;

    // The keys the overlay has loaded or created, as they stand in the base
    // registry (before) and here (after): two registries holding only those keys
    // and their values, whose difference is exactly what the recorded calls
    // change. DescribeRegistryChanges(before, after) lists it.
    void Snapshots(MemoryRegistry& before, MemoryRegistry& after) const;
    // What the recorded calls change, listed: ListRegistryChanges of the snapshots.
    std::vector<RegistryChange> Changes() const;

    // Handles opened and not yet closed.
    std::size_t OpenHandleCount() const { return shadow_.OpenHandleCount(); }

private:
    // A key's full path in the shadow: hive root name first (HKEY_LOCAL_MACHINE
    // or HKEY_CURRENT_USER), classes-root paths spelled out under the machine.
    using KeyPath = std::vector<std::u16string>;
    struct BaseState {
        bool exists = false;
        std::vector<RegValue> values;
    };

    // The full path of a root or of a handle this overlay gave out, with path
    // appended; loadedDepth is how many of its first components are loaded
    // already (a handle's whole path: opening it loaded every key along it).
    bool FullPath(HKEY key, const char16_t* path, KeyPath& out, std::size_t& loadedDepth) const;
    // Loads every key along the path below loadedDepth that exists in the shadow
    // and is not loaded yet. Each call walks the path once, so that a walk down a
    // deep tree key by key costs in proportion to its depth, not its square.
    LONG LoadAlong(const KeyPath& path, std::size_t loadedDepth);
    LONG LoadKey(const KeyPath& path);
    // Marks keys along the path, below loadedDepth, that the shadow has and
    // nobody loaded: created here.
    void RecordCreated(const KeyPath& path, std::size_t loadedDepth);
    // The shadow's hive for a path's first component.
    const RegKey& ShadowHive(const KeyPath& path) const;
    const RegKey* ShadowKey(const KeyPath& path) const;
    static std::u16string Joined(const KeyPath& path);
    static std::u16string Folded(const KeyPath& path);
    void Remember(HKEY handle, KeyPath path);

    RegistryApi& base_;
    MemoryRegistry shadow_;
    std::map<std::u16string, std::pair<KeyPath, BaseState>> loaded_;  // by folded path
    std::map<HKEY, KeyPath> handles_;
};

}  // namespace qz
