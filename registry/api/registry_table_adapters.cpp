#include "registry/api/registry_table_adapters.h"

#include <cstddef>

namespace qz {
namespace {

QzKey ToTable(HKEY key) { return static_cast<QzKey>(key); }
HKEY FromTable(QzKey key) { return static_cast<HKEY>(key); }

static_assert(sizeof(DWORD) == sizeof(uint32_t) && sizeof(LONG) == sizeof(int32_t), "Win32 widths");

// The host's side of each function: context is the HostedRegistry.
RegistryApi& Api(void* context) { return *static_cast<HostedRegistry*>(context)->registry; }

int32_t HostCreateKey(void* context, QzKey root, const char16_t* path, uint32_t options, uint32_t access,
                      QzKey* out) {
    HKEY key = nullptr;
    const LONG status = Api(context).CreateKeyExW(FromTable(root), path, options, access, &key);
    if (out != nullptr) *out = ToTable(key);
    return status;
}

int32_t HostOpenKey(void* context, QzKey root, const char16_t* path, uint32_t access, QzKey* out) {
    HKEY key = nullptr;
    const LONG status = Api(context).OpenKeyExW(FromTable(root), path, access, &key);
    if (out != nullptr) *out = ToTable(key);
    return status;
}

int32_t HostSetValue(void* context, QzKey key, const char16_t* name, uint32_t type, const uint8_t* data,
                     uint32_t size) {
    return Api(context).SetValueExW(FromTable(key), name, type, data, size);
}

int32_t HostQueryValue(void* context, QzKey key, const char16_t* name, uint32_t* type, uint8_t* data,
                       uint32_t* size) {
    return Api(context).QueryValueExW(FromTable(key), name, reinterpret_cast<DWORD*>(type), data,
                                      reinterpret_cast<DWORD*>(size));
}

int32_t HostQueryInfoKey(void* context, QzKey key, uint32_t* subKeys, uint32_t* values) {
    return Api(context).QueryInfoKeyW(FromTable(key), reinterpret_cast<DWORD*>(subKeys),
                                      reinterpret_cast<DWORD*>(values));
}

int32_t HostEnumKey(void* context, QzKey key, uint32_t index, char16_t* name, uint32_t* nameLength) {
    return Api(context).EnumKeyExW(FromTable(key), index, name, reinterpret_cast<DWORD*>(nameLength));
}

int32_t HostEnumValue(void* context, QzKey key, uint32_t index, char16_t* name, uint32_t* nameLength,
                      uint32_t* type, uint8_t* data, uint32_t* dataSize) {
    return Api(context).EnumValueW(FromTable(key), index, name, reinterpret_cast<DWORD*>(nameLength),
                                   reinterpret_cast<DWORD*>(type), data, reinterpret_cast<DWORD*>(dataSize));
}

int32_t HostDeleteKey(void* context, QzKey root, const char16_t* path) {
    return Api(context).DeleteKeyW(FromTable(root), path);
}

int32_t HostDeleteValue(void* context, QzKey key, const char16_t* name) {
    return Api(context).DeleteValueW(FromTable(key), name);
}

int32_t HostCloseKey(void* context, QzKey key) { return Api(context).CloseKey(FromTable(key)); }

void HostReportError(void* context, const char* message) {
    static_cast<HostedRegistry*>(context)->reportError(message != nullptr ? message : "");
}

int32_t HostEnvironmentVariable(void* context, const char16_t* name, char16_t* value, uint32_t* length) {
    if (name == nullptr || length == nullptr) return ERROR_INVALID_PARAMETER;
    const std::optional<std::u16string> found = static_cast<HostedRegistry*>(context)->environmentVariable(name);
    if (!found) return ERROR_FILE_NOT_FOUND;
    if (value == nullptr || *length < found->size() + 1) {
        *length = static_cast<uint32_t>(found->size() + 1);
        return ERROR_MORE_DATA;
    }
    found->copy(value, found->size());
    value[found->size()] = u'\0';
    *length = static_cast<uint32_t>(found->size());
    return ERROR_SUCCESS;
}

void HostNote(void* context, uint32_t kind, QzKey root, const char16_t* path, const char16_t* valueName) {
    static_cast<HostedRegistry*>(context)->note(static_cast<QzNote>(kind), FromTable(root),
                                                path != nullptr ? path : u"", valueName);
}

}  // namespace

// ---- the module's side -----------------------------------------------------------------

LONG TableRegistry::CreateKeyExW(HKEY root, const char16_t* path, DWORD options, REGSAM access, HKEY* out) {
    QzKey key = nullptr;
    const LONG status = table_.create_key(table_.context, ToTable(root), path, options, access, &key);
    if (out != nullptr) *out = status == ERROR_SUCCESS ? FromTable(key) : nullptr;
    return status;
}

LONG TableRegistry::OpenKeyExW(HKEY root, const char16_t* path, REGSAM access, HKEY* out) {
    QzKey key = nullptr;
    const LONG status = table_.open_key(table_.context, ToTable(root), path, access, &key);
    if (out != nullptr) *out = status == ERROR_SUCCESS ? FromTable(key) : nullptr;
    return status;
}

LONG TableRegistry::SetValueExW(HKEY key, const char16_t* name, DWORD type, const BYTE* data, DWORD size) {
    return table_.set_value(table_.context, ToTable(key), name, type, data, size);
}

LONG TableRegistry::QueryValueExW(HKEY key, const char16_t* name, DWORD* type, BYTE* data, DWORD* size) {
    return table_.query_value(table_.context, ToTable(key), name, reinterpret_cast<uint32_t*>(type), data,
                              reinterpret_cast<uint32_t*>(size));
}

LONG TableRegistry::QueryInfoKeyW(HKEY key, DWORD* subKeys, DWORD* values) {
    return table_.query_info_key(table_.context, ToTable(key), reinterpret_cast<uint32_t*>(subKeys),
                                 reinterpret_cast<uint32_t*>(values));
}

LONG TableRegistry::EnumKeyExW(HKEY key, DWORD index, char16_t* name, DWORD* nameLen) {
    return table_.enum_key(table_.context, ToTable(key), index, name, reinterpret_cast<uint32_t*>(nameLen));
}

LONG TableRegistry::EnumValueW(HKEY key, DWORD index, char16_t* name, DWORD* nameLen, DWORD* type, BYTE* data,
                               DWORD* dataLen) {
    return table_.enum_value(table_.context, ToTable(key), index, name, reinterpret_cast<uint32_t*>(nameLen),
                             reinterpret_cast<uint32_t*>(type), data, reinterpret_cast<uint32_t*>(dataLen));
}

LONG TableRegistry::DeleteKeyW(HKEY root, const char16_t* path) {
    return table_.delete_key(table_.context, ToTable(root), path);
}

LONG TableRegistry::DeleteValueW(HKEY key, const char16_t* name) {
    return table_.delete_value(table_.context, ToTable(key), name);
}

LONG TableRegistry::CloseKey(HKEY key) { return table_.close_key(table_.context, ToTable(key)); }

bool IsCompleteRegistryTable(const QzRegistryTable* table) {
    if (table == nullptr || table->struct_size < offsetof(QzRegistryTable, report_error)) return false;
    return table->create_key != nullptr && table->open_key != nullptr && table->set_value != nullptr &&
           table->query_value != nullptr && table->query_info_key != nullptr && table->enum_key != nullptr &&
           table->enum_value != nullptr && table->delete_key != nullptr && table->delete_value != nullptr &&
           table->close_key != nullptr;
}

// ---- the host's side ---------------------------------------------------------------------

QzRegistryTable RegistryTableFor(HostedRegistry& hosted) {
    QzRegistryTable table{};
    table.struct_size = sizeof(QzRegistryTable);
    table.context = &hosted;
    table.create_key = HostCreateKey;
    table.open_key = HostOpenKey;
    table.set_value = HostSetValue;
    table.query_value = HostQueryValue;
    table.query_info_key = HostQueryInfoKey;
    table.enum_key = HostEnumKey;
    table.enum_value = HostEnumValue;
    table.delete_key = HostDeleteKey;
    table.delete_value = HostDeleteValue;
    table.close_key = HostCloseKey;
    table.report_error = hosted.reportError ? HostReportError : nullptr;
    table.environment_variable = hosted.environmentVariable ? HostEnvironmentVariable : nullptr;
    table.note = hosted.note ? HostNote : nullptr;
    return table;
}

}  // namespace qz
