#include "tools/qzreg/change_report.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <optional>

#include "registry/reg_file/reg_file.h"
#include "registry/changes/registry_data.h"
#include "registry/memory/reg_tree.h"
#include "text/code_page.h"

namespace qz {
namespace {

using Json = nlohmann::ordered_json;

// Strings as strings, multi-strings as arrays, numbers of their exact size as
// numbers, anything else as hex.
Json DataAsJson(const RegValue& value) {
    switch (value.type) {
        case REG_SZ:
        case REG_EXPAND_SZ: return Utf16ToUtf8(WholeStringOfData(value.data));
        case REG_MULTI_SZ: {
            Json strings = Json::array();
            for (const std::u16string& text : MultiStringOfData(value.data)) strings.push_back(Utf16ToUtf8(text));
            return strings;
        }
        case REG_DWORD:
            if (const std::optional<std::uint32_t> number = DwordOfData(value.data)) return *number;
            break;
        case REG_QWORD:
            if (const std::optional<std::uint64_t> number = QwordOfData(value.data)) return *number;
            break;
        default: break;
    }
    return HexOfData(value.data, HexCase::Lower);
}

const char* KindName(RegistryChange::Kind kind) {
    switch (kind) {
        case RegistryChange::Kind::AddKey: return "add-key";
        case RegistryChange::Kind::RemoveKey: return "remove-key";
        case RegistryChange::Kind::SetValue: return "set-value";
        case RegistryChange::Kind::RemoveValue: return "remove-value";
    }
    return "?";
}

Json ChangeAsJson(const RegistryChange& change) {
    Json item;
    item["change"] = KindName(change.kind);
    item["hive"] = HiveName(change.hive);
    item["key"] = change.key;
    const RegValue* value = change.newValue ? &*change.newValue : change.oldValue ? &*change.oldValue : nullptr;
    if (value != nullptr) {
        item["name"] = Utf16ToUtf8(value->name);
        item["type"] = RegistryTypeName(value->type);
        item["old"] = change.oldValue ? DataAsJson(*change.oldValue) : Json();
        item["new"] = change.newValue ? DataAsJson(*change.newValue) : Json();
    }
    return item;
}

// Where a change's key lies from another key; names compare as the registry
// compares them.
enum class KeyPlace { Elsewhere, Same, Below };
KeyPlace PlaceOf(const RegistryChange& change, RegRoot hive, const std::string& other) {
    if (change.hive != hive) return KeyPlace::Elsewhere;
    const std::u16string key = Utf8ToUtf16(change.key);
    const std::u16string top = Utf8ToUtf16(other);
    if (key.size() < top.size() || !RegistryNamesEqual(std::u16string_view(key).substr(0, top.size()), top))
        return KeyPlace::Elsewhere;
    if (key.size() == top.size()) return KeyPlace::Same;
    return key[top.size()] == u'\\' ? KeyPlace::Below : KeyPlace::Elsewhere;
}

// The rules of machine state: values a registration writes that the machine
// then owns, as the module's notes say. Each looks at one value change.
struct MachineStateRule {
    const char* text;
    bool (*applies)(const RegistryChange& change, const PassNotes& notes);
};

// A first default the machine owns once it is there with the type written.
bool IsMachineOwnedValue(const RegistryChange& change, const PassNotes& notes) {
    if (!change.oldValue || change.oldValue->type != change.newValue->type) return false;
    return std::any_of(notes.machineOwnedValues.begin(), notes.machineOwnedValues.end(), [&](const NotedKey& noted) {
        return PlaceOf(change, noted.hive, noted.key) == KeyPlace::Same &&
               RegistryNamesEqual(change.newValue->name, noted.value);
    });
}

// While another version is current, what it wrote into the keys the versions
// share is its own to judge (its own check lists what another program changed
// there); a missing value is still drift, and this version's own keys count.
bool IsCurrentVersionsValue(const RegistryChange& change, const PassNotes& notes) {
    if (!notes.anotherVersionCurrent || !change.oldValue) return false;
    return std::any_of(notes.currentVersionsKeys.begin(), notes.currentVersionsKeys.end(),
                       [&](const NotedKey& noted) { return PlaceOf(change, noted.hive, noted.key) != KeyPlace::Elsewhere; });
}

const MachineStateRule kMachineStateRules[] = {
    {"a value the module marks as a first default the machine then owns (a switch the host application turns "
     "on and off after its first start): any data of the type written, once it exists",
     IsMachineOwnedValue},
    {"while the module finds another version of the product current (registered last): a value that differs "
     "in the keys the module marks as the current version's (the ProgID, classes and document types the "
     "versions share); that version's own check judges them. A missing value still counts, and so do this "
     "version's own keys",
     IsCurrentVersionsValue},
};

std::string ValueLine(const RegValue& value) { return Utf16ToUtf8(FormatRegValue(value, u"\n")); }

}  // namespace

std::string ChangesAsJson(const std::vector<RegistryChange>& changes) {
    Json list = Json::array();
    for (const RegistryChange& change : changes) list.push_back(ChangeAsJson(change));
    return list.dump(2) + "\n";
}

CheckResult ClassifyDrift(const std::vector<RegistryChange>& changes, const PassNotes& notes) {
    CheckResult result;
    for (const RegistryChange& change : changes) {
        switch (change.kind) {
            case RegistryChange::Kind::AddKey: {
                // Once, for the top of a missing subtree.
                bool parentMissing = false;
                for (const Drift& drift : result.drift) {
                    if (drift.kind == Drift::Kind::MissingKey && drift.change.hive == change.hive &&
                        PlaceOf(change, drift.change.hive, drift.change.key) == KeyPlace::Below)
                        parentMissing = true;
                }
                if (!parentMissing) result.drift.push_back({Drift::Kind::MissingKey, change});
                break;
            }
            case RegistryChange::Kind::SetValue: {
                if (change.keyIsNew) break;  // part of a missing key
                bool machineState = false;
                for (const MachineStateRule& rule : kMachineStateRules) machineState |= rule.applies(change, notes);
                if (machineState) {
                    result.machineState.push_back(change);
                } else {
                    result.drift.push_back(
                        {change.oldValue ? Drift::Kind::DifferentValue : Drift::Kind::MissingValue, change});
                }
                break;
            }
            case RegistryChange::Kind::RemoveKey:
            case RegistryChange::Kind::RemoveValue: break;
        }
    }
    return result;
}

std::vector<std::string> MachineStateRuleTexts() {
    std::vector<std::string> texts;
    for (const MachineStateRule& rule : kMachineStateRules) texts.push_back(rule.text);
    return texts;
}

std::string CheckAsText(const CheckResult& result) {
    std::string text;
    for (const Drift& drift : result.drift) {
        const std::string key = FullKeyName(drift.change);
        switch (drift.kind) {
            case Drift::Kind::MissingKey: text += "missing key      [" + key + "]\n"; break;
            case Drift::Kind::MissingValue:
                text += "missing value    [" + key + "] " + ValueLine(*drift.change.newValue) + "\n";
                break;
            case Drift::Kind::DifferentValue:
                text += "different value  [" + key + "] " + ValueLine(*drift.change.oldValue) +
                        "  (registration writes " + ValueLine(*drift.change.newValue) + ")\n";
                break;
        }
    }
    return text;
}

std::string CheckAsJson(const CheckResult& result) {
    Json out;
    out["intact"] = result.judged ? Json(result.drift.empty()) : Json();
    Json drift = Json::array();
    // A check that cannot tell lists no drift, whatever it was handed.
    const std::vector<Drift> none;
    for (const Drift& item : result.judged ? result.drift : none) {
        Json entry;
        entry["kind"] = item.kind == Drift::Kind::MissingKey     ? "missing-key"
                        : item.kind == Drift::Kind::MissingValue ? "missing-value"
                                                                 : "different-value";
        entry["hive"] = HiveName(item.change.hive);
        entry["key"] = item.change.key;
        if (item.change.newValue) {
            entry["name"] = Utf16ToUtf8(item.change.newValue->name);
            entry["type"] = RegistryTypeName(item.change.newValue->type);
            entry["found"] = item.change.oldValue ? DataAsJson(*item.change.oldValue) : Json();
            entry["expected"] = DataAsJson(*item.change.newValue);
        }
        drift.push_back(entry);
    }
    out["drift"] = drift;
    Json state = Json::array();
    const std::vector<RegistryChange> noChanges;
    for (const RegistryChange& change : result.judged ? result.machineState : noChanges)
        state.push_back(ChangeAsJson(change));
    out["machine_state"] = state;
    out["messages"] = result.messages;
    if (!result.judged) out["error"] = result.error;
    return out.dump(2) + "\n";
}

}  // namespace qz
