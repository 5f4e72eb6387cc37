#include "tools/qzaction/installer_rows.h"

#include <cstdint>
#include <set>

#include "text/code_page.h"
#include "registry/changes/registry_data.h"

namespace qz {
namespace {

int RootColumn(RegRoot hive) {
    if (hive == RegRoot::ClassesRoot) return 0;
    if (hive == RegRoot::CurrentUser) return 1;
    return 2;
}

InstallerRow Row(InstallerRow::Table table, const RegistryChange& change, std::string name,
                 std::optional<std::string> value) {
    InstallerRow row;
    row.table = table;
    row.root = RootColumn(change.hive);
    row.key = FormattedLiteral(change.key);
    row.name = std::move(name);
    row.value = std::move(value);
    return row;
}

std::string ValueName(const RegValue& value) { return FormattedLiteral(Utf16ToUtf8(value.name)); }

std::string Describe(const RegistryChange& change) {
    std::string text = FullKeyName(change);
    if (change.oldValue) text += ", value \"" + Utf16ToUtf8(change.oldValue->name) + "\"";
    else if (change.newValue) text += ", value \"" + Utf16ToUtf8(change.newValue->name) + "\"";
    return text;
}

}  // namespace

std::string FormattedLiteral(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '[') out += "[\\[]";
        else if (c == ']') out += "[\\]]";
        else out.push_back(c);
    }
    return out;
}

std::optional<std::string> RegistryTableValue(const RegValue& value) {
    switch (value.type) {
        case REG_SZ: {
            const std::string text = FormattedLiteral(Utf16ToUtf8(StringOfData(value.data)));
            return !text.empty() && text[0] == '#' ? "#" + text : text;
        }
        case REG_EXPAND_SZ: return "#%" + FormattedLiteral(Utf16ToUtf8(StringOfData(value.data)));
        case REG_DWORD:
            // The column reads a signed decimal number. Short data reads as far as it goes, as
            // the registry's readers of a DWORD see it.
            return "#" + std::to_string(static_cast<std::int32_t>(LittleEndianNumber(value.data, 4)));
        case REG_BINARY: return "#x" + HexOfData(value.data, HexCase::Upper);
        case REG_MULTI_SZ: {
            // [~] between the strings and at both ends: the strings replace the value.
            std::string text = "[~]";
            for (const std::u16string& s : MultiStringOfData(value.data)) text += FormattedLiteral(Utf16ToUtf8(s)) + "[~]";
            return text;
        }
        default: return std::nullopt;
    }
}

InstallerRows RowsForRegistration(const std::vector<RegistryChange>& changes) {
    InstallerRows out;
    std::set<std::string> keysWithValues;
    for (const RegistryChange& change : changes)
        if (change.kind == RegistryChange::Kind::SetValue) keysWithValues.insert(FullKeyName(change));
    for (const RegistryChange& change : changes) {
        switch (change.kind) {
            case RegistryChange::Kind::AddKey:
                // A new key's values create it. One without values of its own gets a "*" row:
                // created, and taken away again by a rollback (a "+" key would stay).
                if (keysWithValues.count(FullKeyName(change)) == 0)
                    out.rows.push_back(Row(InstallerRow::Table::Registry, change, "*", std::nullopt));
                break;
            case RegistryChange::Kind::SetValue: {
                std::optional<std::string> value = RegistryTableValue(*change.newValue);
                if (!value) {
                    out.skipped.push_back(Describe(change) + ": a value of type " +
                                          RegistryTypeName(change.newValue->type) +
                                          " cannot be written by Windows Installer");
                    break;
                }
                out.rows.push_back(Row(InstallerRow::Table::Registry, change, ValueName(*change.newValue), value));
                break;
            }
            case RegistryChange::Kind::RemoveKey:
                out.rows.push_back(Row(InstallerRow::Table::RemoveRegistry, change, "-", std::nullopt));
                break;
            case RegistryChange::Kind::RemoveValue:
                out.rows.push_back(
                    Row(InstallerRow::Table::RemoveRegistry, change, ValueName(*change.oldValue), std::nullopt));
                break;
        }
    }
    return out;
}

InstallerRows RowsForUnregistration(const std::vector<RegistryChange>& changes) {
    InstallerRows out;
    for (const RegistryChange& change : changes) {
        switch (change.kind) {
            case RegistryChange::Kind::RemoveKey:
                // "-": removed with the component, subtree and all; nothing is written on the way.
                out.rows.push_back(Row(InstallerRow::Table::Registry, change, "-", std::nullopt));
                break;
            case RegistryChange::Kind::RemoveValue: {
                // A value row names the value the removal takes; its Value column only has
                // to be there (a null one would make the default value's row a key row).
                std::optional<std::string> value = RegistryTableValue(*change.oldValue);
                out.rows.push_back(Row(InstallerRow::Table::Registry, change, ValueName(*change.oldValue),
                                       value && !value->empty() ? value : std::optional<std::string>("#x")));
                break;
            }
            case RegistryChange::Kind::AddKey:
            case RegistryChange::Kind::SetValue:
                out.skipped.push_back(Describe(change) +
                                      ": written by the unregistration; a removal cannot write, so it stays as it is");
                break;
        }
    }
    return out;
}

std::string DescribeRow(const InstallerRow& row) {
    static const char* const kRoots[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"};
    std::string text = row.table == InstallerRow::Table::Registry ? "Registry " : "RemoveRegistry ";
    text += std::string(kRoots[row.root]) + "\\" + row.key + " name=" + (row.name.empty() ? "(default)" : row.name);
    if (row.value) text += " value=" + *row.value;
    return text;
}

}  // namespace qz
