// How qzreg shows a pass: the change list as JSON (the .reg form is
// DescribeRegistryChanges), and what `check` makes of a registration's dry run.
#pragma once

#include <string>
#include <vector>

#include "registry/changes/registry_changes.h"
#include "tools/host/pass_on_overlay.h"

namespace qz {

// [{"change": "add-key"|"remove-key"|"set-value"|"remove-value", "hive", "key",
//   "name", "type", "old", "new"}, ...]; data as JSON: text as strings, numbers
// as numbers, multi-strings as arrays, anything else as hex. The form
// docs/qzreg-json.schema.json describes as "changes".
std::string ChangesAsJson(const std::vector<RegistryChange>& changes);

// One difference between the machine and its registration, as check reports it.
struct Drift {
    enum class Kind { MissingKey, MissingValue, DifferentValue };
    Kind kind;
    RegistryChange change;  // the change a registration would make to mend it
};

// What a registration's dry run would change, sorted into drift and the values
// that are the machine's own state once registered (never drift). Removals
// are not drift: a registration removes only what it rebuilds.
struct CheckResult {
    std::vector<Drift> drift;
    std::vector<RegistryChange> machineState;  // changes passed over, for the record
    std::vector<std::string> messages;         // the dry run's error reports
    // False when the check cannot tell (the pass failed, or never ran): no
    // drift is listed then, and error says why.
    bool judged = true;
    std::string error;
};
// Sorts a registration's dry run into drift and machine state by the notes
// the module's pass gave about what it writes.
CheckResult ClassifyDrift(const std::vector<RegistryChange>& changes, const PassNotes& notes);

// The rules of machine state, for --help and the README: one line each.
std::vector<std::string> MachineStateRuleTexts();

std::string CheckAsText(const CheckResult& result);
// {"intact": true|false|null, "drift", "machine_state", "messages"[, "error"]}:
// the form docs/qzreg-json.schema.json describes as "check"; null (with "error") when
// the check cannot tell.
std::string CheckAsJson(const CheckResult& result);

}  // namespace qz
