// What a registration or an unregistration pass changes, as rows of Windows
// Installer's Registry and RemoveRegistry tables, so that the installer's own
// actions (RemoveRegistryValues, WriteRegistryValues) make the changes, log
// them, roll them back, repair and remove them.
//
// Installing, the registration's writes become Registry rows (written by
// WriteRegistryValues; a new key without values a "*" row, so that a rollback
// takes it away too) and what it removes becomes RemoveRegistry rows (removed
// by RemoveRegistryValues, which runs first). Removing, what the
// unregistration removes becomes Registry rows that RemoveRegistryValues takes
// away with the component: "-" for a key and everything below it, a value row
// for a value. What an unregistration would write cannot be said in those
// tables: it is listed in skipped and stays as it is.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "registry/changes/registry_changes.h"

namespace qz {

struct InstallerRow {
    enum class Table { Registry, RemoveRegistry };
    Table table = Table::Registry;
    int root = 2;  // the tables' Root column: 0 HKEY_CLASSES_ROOT, 1 HKEY_CURRENT_USER, 2 HKEY_LOCAL_MACHINE
    std::string key;                   // Formatted text, UTF-8
    std::string name;                  // Formatted text; "" for the default value (a null column)
    std::optional<std::string> value;  // the Registry table's Value column; nullopt for a null column
};

struct InstallerRows {
    std::vector<InstallerRow> rows;
    std::vector<std::string> skipped;  // changes the tables cannot hold, described for the log
};

InstallerRows RowsForRegistration(const std::vector<RegistryChange>& changes);
InstallerRows RowsForUnregistration(const std::vector<RegistryChange>& changes);

// Text as a Formatted column holds it: the brackets that would name a property
// written as their escapes ([\[] and [\]]).
std::string FormattedLiteral(const std::string& text);

// A registry value as the Registry table's Value column holds it: text as it
// is ("#" doubled at its start), #%text for REG_EXPAND_SZ, #n for REG_DWORD,
// #xHEX for REG_BINARY, a[~]b[~]c for REG_MULTI_SZ. nullopt for a type the
// column cannot hold.
std::optional<std::string> RegistryTableValue(const RegValue& value);

// One row as a line of the installation log.
std::string DescribeRow(const InstallerRow& row);

}  // namespace qz
