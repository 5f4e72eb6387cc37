// The portable registry: an in-memory registry with the semantics of the
// Windows one wherever the registration logic depends on them.
//
// - Roots HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER are two trees;
//   HKEY_CLASSES_ROOT is a view of HKEY_LOCAL_MACHINE\Software\Classes, which
//   always exists and cannot be deleted.
// - Key and value names compare without regard to case and keep the case of
//   their creation. Subkeys enumerate sorted, as in Windows; values enumerate
//   sorted too, as in Wine (Windows gives them in creation order), and both sort
//   by lower-cased names as Wine does (Windows upper-cases, which differs only
//   for the characters [ \ ] ^ _ `): tests then see one order in both builds.
// - Create opens or creates a path with all its missing parents; open creates
//   nothing; a trailing backslash is accepted, a leading one is refused.
// - Delete refuses a key that has subkeys; a handle to a deleted key answers
//   ERROR_KEY_DELETED; a handle opened with KEY_READ cannot write.
// - Values are typed bytes; strings (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) are
//   UTF-16, as the wide calls give them. The narrow calls are the seam's own
//   conversions to and from the code page (Windows-1252), which the conformance
//   suite holds to advapi32's behaviour.
// - Volatile keys exist only in memory: the registry folder does not save them,
//   and a non-volatile key cannot be created below one.
//
// A copy holds the same trees and no open handles: the native host keeps one as
// the "before" picture of a pass. Hive() gives whole-tree access, and the direct
// functions below it load and inspect keys without handles.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "registry/memory/reg_tree.h"
#include "registry/api/registry_api.h"

namespace qz {

class MemoryRegistry final : public RegistryApi {
public:
    MemoryRegistry();
    MemoryRegistry(const MemoryRegistry& other);
    MemoryRegistry& operator=(const MemoryRegistry& other);
    ~MemoryRegistry() override = default;

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

    // Handles opened and not yet closed: a test that ends with any left has found a leak.
    std::size_t OpenHandleCount() const { return handles_.size(); }

    // Whole-tree access: the root key of a hive, its name the root's long name.
    // HKEY_CLASSES_ROOT gives the Software\Classes key of the machine hive.
    const RegKey& Hive(RegRoot root) const;

    // Direct access by full key path ("HKEY_LOCAL_MACHINE\Software\X"; HKLM, HKCU,
    // HKCR accepted), for loading, seeding and inspecting: no handles, no access
    // checks, and nothing a decorator such as the fault injector sees.
    const RegKey* FindKey(std::u16string_view fullPath) const;
    // Creates the key with its missing parents (volatile below a volatile key).
    // False for a path outside the registry's roots.
    bool EnsureKey(std::u16string_view fullPath);
    // Creates the key as needed and sets the value.
    bool PutValue(std::u16string_view fullPath, RegValue value);
    // Removes the key with everything below it. False when it is missing or is a root.
    bool RemoveTree(std::u16string_view fullPath);
    bool RemoveValue(std::u16string_view fullPath, std::u16string_view valueName);

private:
    // A handle names its key directly, so that an operation costs the same at
    // any depth. When a key goes, the handles to it (and to anything below it)
    // are told: key becomes null and they answer ERROR_KEY_DELETED, even if a
    // key of the same name is created again.
    struct Handle {
        RegRoot hive;     // LocalMachine or CurrentUser
        RegKey* key;      // null once the key is deleted
        RegKey* parent;   // the key above it (null for a hive's root); lives as long as key
        REGSAM access;
    };
    struct Resolved {
        LONG status;
        RegKey* key;
        RegKey* parent;
        RegRoot hive;
        REGSAM access;
    };

    RegKey& HiveRoot(RegRoot hive);
    RegKey* ClassesKey();
    Resolved Resolve(HKEY key);
    // Resolves a handle and checks that it grants this access.
    Resolved ResolveFor(HKEY key, REGSAM needed);
    LONG OpenOrCreate(HKEY root, const char16_t* path, DWORD options, REGSAM access, bool create, HKEY* out);
    HKEY AddHandle(RegRoot hive, RegKey* key, RegKey* parent, REGSAM access);
    RegKey* Walk(RegRoot hive, const std::vector<std::u16string>& path);
    bool ToHivePath(std::u16string_view fullPath, RegRoot& hive, std::vector<std::u16string>& path) const;
    // The key of a full path, created with its missing parents; null for a path
    // outside the registry's roots.
    RegKey* EnsureNode(std::u16string_view fullPath);
    // Before key and everything below it go: handles to them are marked
    // deleted, and nothing remembered points into them any more.
    void Forget(const RegKey& key);
    std::uint64_t NewId() { return nextId_++; }

    RegKey machine_;
    RegKey user_;
    std::uint64_t nextId_ = 1;
    std::map<std::uintptr_t, Handle> handles_;
    std::uintptr_t nextHandle_ = 0x1000;
    // How many handles name each key that has any.
    std::unordered_map<const RegKey*, std::size_t> openKeys_;
    // The key a .reg file's values go to comes up for every value: the last
    // full path EnsureNode was given, as given, and its key.
    std::u16string lastPath_;
    RegKey* lastKey_ = nullptr;
};

}  // namespace qz
