// How qzreg shows a pass: the change list as JSON (the .reg form is
// DescribeRegistryChanges), and what `check` makes of a registration's dry run.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "registry/changes/registry_changes.h"

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
// The default value (text) of a key of the classes root as the registration
// leaves it; nullopt when there is none. Some rules need one value the
// registration does not change, which the change list therefore lacks.
using RegisteredDefaultReader = std::function<std::optional<std::string>(const std::string& classesRootKey)>;
CheckResult ClassifyDrift(const std::vector<RegistryChange>& changes, const RegisteredDefaultReader& registeredDefault);

// The rules of machine state, for --help and the README: one line each.
std::vector<std::string> MachineStateRuleTexts();

std::string CheckAsText(const CheckResult& result);
// {"intact": true|false|null, "drift", "machine_state", "messages"[, "error"]}:
// the form docs/qzreg-json.schema.json describes as "check"; null (with "error") when
// the check cannot tell.
std::string CheckAsJson(const CheckResult& result);

}  // namespace qz
