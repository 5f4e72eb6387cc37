#include "tools/qzaction/installer_rows.h"

#include <cstdint>
#include <set>

#include "text/code_page.h"
#include "registry/changes/registry_data.h"

namespace qz {
namespace {

// The classes root is the machine's Software\Classes: the store the pass read and
// the one a per-machine installation writes, spelled out (see InstallerRoot).
const char kMachineClasses[] = "Software\\Classes\\";

InstallerRow Row(InstallerRow::Table table, const RegistryChange& change, std::string name,
                 std::optional<std::string> value) {
    InstallerRow row;
    row.table = table;
    row.root = change.hive == RegRoot::CurrentUser ? InstallerRoot::CurrentUser : InstallerRoot::LocalMachine;
    row.key = FormattedLiteral(change.hive == RegRoot::ClassesRoot ? kMachineClasses + change.key : change.key);
    row.name = std::move(name);
    row.value = std::move(value);
    return row;
}

// The names the Registry table reads as key operations when the Value column is null.
bool IsKeyOperationName(const std::u16string& name) { return name == u"+" || name == u"-" || name == u"*"; }
// The name the RemoveRegistry table reads as the whole key.
bool IsWholeKeyName(const std::u16string& name) { return name == u"-"; }

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
        if (c == '[' || c == ']' || c == '{' || c == '}') {
            out += "[\\";
            out.push_back(c);
            out += ']';
        } else {
            out.push_back(c);
        }
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
                if (value->empty() && IsKeyOperationName(change.newValue->name)) {
                    // An empty text is a null Value column, and with it the name is a key operation.
                    out.skipped.push_back(Describe(change) +
                                          ": an empty text under this name reads as a key operation in the Registry "
                                          "table");
                    break;
                }
                out.rows.push_back(Row(InstallerRow::Table::Registry, change, ValueName(*change.newValue), value));
                break;
            }
            case RegistryChange::Kind::RemoveKey:
                out.rows.push_back(Row(InstallerRow::Table::RemoveRegistry, change, "-", std::nullopt));
                break;
            case RegistryChange::Kind::RemoveValue:
                if (IsWholeKeyName(change.oldValue->name)) {
                    out.skipped.push_back(Describe(change) +
                                          ": the RemoveRegistry table reads this name as the whole key, so the "
                                          "removal of the value cannot be stated");
                    break;
                }
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
                // to be there: a null one would make the default value's row a key row, and
                // a value named "+", "-" or "*" a key operation.
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
    std::string text = row.table == InstallerRow::Table::Registry ? "Registry " : "RemoveRegistry ";
    text += std::string(row.root == InstallerRoot::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE") + "\\" +
            row.key + " name=" + (row.name.empty() ? "(default)" : row.name);
    if (row.value) text += " value=" + *row.value;
    return text;
}

}  // namespace qz
