// The two sides of the registry table (registry_table.h): the module wraps the
// table a host hands it as a RegistryApi, and a host hands out any RegistryApi
// of its own (the overlay, the registry folder's, advapi32) as a table.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "registry/api/registry_api.h"
#include "registry/api/registry_table.h"

namespace qz {

// The module's side: every wide call goes to the host's table.
class TableRegistry final : public RegistryApi {
public:
    explicit TableRegistry(const QzRegistryTable& table) : table_(table) {}

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

private:
    QzRegistryTable table_;
};

// True when the host filled in every registry function of the table (the
// error report is optional).
bool IsCompleteRegistryTable(const QzRegistryTable* table);

// A host's variables for the module's expandable directories: the value of
// the variable of that name, nullopt when it is not set.
using EnvironmentLookup = std::function<std::optional<std::u16string>(const std::u16string& name)>;

// The host's side: a registry, where the module's error messages go (UTF-8;
// empty function: the module shows its own box), the variables it expands
// with (empty function: the module's process environment) and where its notes
// go (empty function: the module is told nobody listens). A note's value name
// is null where its kind names no value.
struct HostedRegistry {
    RegistryApi* registry = nullptr;
    std::function<void(const std::string&)> reportError;
    EnvironmentLookup environmentVariable;
    std::function<void(QzNote kind, HKEY root, const char16_t* path, const char16_t* valueName)> note;
};

// A table whose functions call hosted.registry; hosted must outlive its use.
QzRegistryTable RegistryTableFor(HostedRegistry& hosted);

}  // namespace qz
