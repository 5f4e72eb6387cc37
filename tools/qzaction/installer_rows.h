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
//
// Each row says exactly the change it stands for. Every Key, Name and Value
// column is escaped for formatted text, so that no name or data of the
// registry reads as a property, a group or a list separator. Where the tables
// give a name a meaning of its own (a value named "-" in the RemoveRegistry
// table is the whole key; "+", "-" and "*" name a key operation in the Registry
// table when the Value column is null), the change cannot be stated: it is
// listed in skipped, and a registration with skipped changes stops.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "registry/changes/registry_changes.h"

namespace qz {

// The tables' Root column. The classes are rows under HKEY_LOCAL_MACHINE
// (Software\Classes\...), never Root 0: in the RemoveRegistry table Root 0 is
// HKEY_CURRENT_USER\Software\Classes even in a per-machine installation, and the
// rows must land in the store the pass read, the machine's.
enum class InstallerRoot : int {
    CurrentUser = 1,   // msidbRegistryRootCurrentUser
    LocalMachine = 2,  // msidbRegistryRootLocalMachine
};

struct InstallerRow {
    enum class Table { Registry, RemoveRegistry };
    Table table = Table::Registry;
    InstallerRoot root = InstallerRoot::LocalMachine;
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

// Text as a Formatted column holds it literally: the brackets that would name a
// property and the braces that would make a group, each written as its escape
// ([\[], [\]], [\{], [\}]).
std::string FormattedLiteral(const std::string& text);

// A registry value as the Registry table's Value column holds it: text as it
// is ("#" doubled at its start), #%text for REG_EXPAND_SZ, #n for REG_DWORD,
// #xHEX for REG_BINARY, [~]a[~]b[~]c[~] for REG_MULTI_SZ; the text escaped as
// FormattedLiteral does. nullopt for a type the column cannot hold.
std::optional<std::string> RegistryTableValue(const RegValue& value);

// One row as a line of the installation log.
std::string DescribeRow(const InstallerRow& row);

}  // namespace qz
