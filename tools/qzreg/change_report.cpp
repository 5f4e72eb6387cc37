#include "tools/qzreg/change_report.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>

#include "registry/reg_file/reg_file.h"
#include "registry/changes/registry_data.h"
#include "text/ascii.h"
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

std::string ParentKey(const std::string& key) {
    const std::size_t slash = key.find_last_of('\\');
    return slash == std::string::npos ? std::string() : key.substr(0, slash);
}

// What the rules of machine state may look at: all the dry run's changes, and
// the class id the registration gives this version's versioned ProgID.
struct DriftContext {
    const std::vector<RegistryChange>& all;
    const RegisteredDefaultReader& registeredDefault;
};

// The rules of machine state: values a registration writes that the machine
// then owns. Each looks at one value change among all the dry run's changes.
struct MachineStateRule {
    const char* text;
    bool (*applies)(const RegistryChange& change, const DriftContext& context);
};

// The host application turns the per-user "What's new" switch on and off
// after its first start; a registration only starts it at 0.
bool IsWhatsNewSwitch(const RegistryChange& change, const DriftContext&) {
    return change.hive == RegRoot::CurrentUser && change.oldValue && change.oldValue->type == REG_DWORD &&
           AsciiEndsWithIgnoringCase(change.key, "\\IniSettings") &&
           Utf16ToUtf8(change.newValue->name).rfind("whatsnew_", 0) == 0;
}

// The registration's change of a CurVer default value that names another
// version: that version is current. Null when CurVer already names this one.
const RegistryChange* AnotherVersionsCurVer(const std::vector<RegistryChange>& all) {
    for (const RegistryChange& other : all) {
        if (other.kind == RegistryChange::Kind::SetValue && other.hive == RegRoot::ClassesRoot && other.oldValue &&
            other.newValue->name.empty() && AsciiEndsWithIgnoringCase(other.key, "\\CurVer"))
            return &other;
    }
    return nullptr;
}

// Key names compare without regard to case, as the registry compares them.
bool IsBelow(const std::string& key, const std::string& top) {
    return key.size() > top.size() && AsciiEqualIgnoringCase(key.substr(0, top.size() + 1), top + "\\");
}
bool IsKeyOrBelow(const std::string& key, const std::string& top) {
    return AsciiEqualIgnoringCase(key, top) || IsBelow(key, top);
}

// While CurVer names another version, that version is current: the
// version-independent ProgID (its name, class id and CurVer) is its to own.
bool IsAnotherVersionsProgId(const RegistryChange& change, const DriftContext& context) {
    if (change.hive != RegRoot::ClassesRoot) return false;
    const RegistryChange* curVer = AnotherVersionsCurVer(context.all);
    if (curVer == nullptr) return false;
    const std::string progId = ParentKey(curVer->key);
    return AsciiEqualIgnoringCase(change.key, progId) || AsciiEqualIgnoringCase(change.key, progId + "\\CurVer") ||
           AsciiEqualIgnoringCase(change.key, progId + "\\CLSID");
}

// Every version writes the classes and document types the versions share (the
// document object and library classes, the language document type) with its own
// module, system directories and application name, and the last one registered,
// the current one, has them. While CurVer names another version, a value of
// theirs that differs is that version's to judge (its own check lists what
// another program changed there); a missing one is still drift. This
// version's own keys still count: the versioned ProgID the registration names in
// CurVer and the application class that ProgID names. When that class cannot be
// read, no class key is passed over.
bool IsAnotherVersionsSharedClassValue(const RegistryChange& change, const DriftContext& context) {
    if (change.hive != RegRoot::ClassesRoot || !change.oldValue) return false;
    const RegistryChange* curVer = AnotherVersionsCurVer(context.all);
    if (curVer == nullptr || curVer->newValue->type != REG_SZ) return false;
    const std::string versionedProgId = Utf16ToUtf8(StringOfData(curVer->newValue->data));
    if (versionedProgId.empty() || IsKeyOrBelow(change.key, versionedProgId)) return false;
    if (IsKeyOrBelow(change.key, "CLSID")) {
        const std::optional<std::string> ownClass =
            context.registeredDefault ? context.registeredDefault(versionedProgId + "\\CLSID") : std::nullopt;
        if (!ownClass || ownClass->empty() || IsKeyOrBelow(change.key, "CLSID\\" + *ownClass)) return false;
    }
    return true;
}

const MachineStateRule kMachineStateRules[] = {
    {"HKEY_CURRENT_USER\\Software\\Corvalen\\<product>\\<version>\\IniSettings, whatsnew_<abbreviation>: "
     "any number once it exists (the host application changes it after its first start)",
     IsWhatsNewSwitch},
    {"HKEY_CLASSES_ROOT\\<application ProgID> (default), its CLSID (default) and its CurVer (default), while "
     "CurVer names another version: that version is current and owns them",
     IsAnotherVersionsProgId},
    {"HKEY_CLASSES_ROOT: a value that differs in the classes and document types the versions share (every key "
     "but this version's versioned ProgID and the application class it names), while CurVer names another "
     "version: that version is current, and its own check judges them",
     IsAnotherVersionsSharedClassValue},
};

std::string ValueLine(const RegValue& value) { return Utf16ToUtf8(FormatRegValue(value, u"\n")); }

}  // namespace

std::string ChangesAsJson(const std::vector<RegistryChange>& changes) {
    Json list = Json::array();
    for (const RegistryChange& change : changes) list.push_back(ChangeAsJson(change));
    return list.dump(2) + "\n";
}

CheckResult ClassifyDrift(const std::vector<RegistryChange>& changes, const RegisteredDefaultReader& registeredDefault) {
    CheckResult result;
    const DriftContext context{changes, registeredDefault};
    for (const RegistryChange& change : changes) {
        switch (change.kind) {
            case RegistryChange::Kind::AddKey: {
                // Once, for the top of a missing subtree.
                bool parentMissing = false;
                for (const Drift& drift : result.drift) {
                    if (drift.kind == Drift::Kind::MissingKey && drift.change.hive == change.hive &&
                        IsBelow(change.key, drift.change.key))
                        parentMissing = true;
                }
                if (!parentMissing) result.drift.push_back({Drift::Kind::MissingKey, change});
                break;
            }
            case RegistryChange::Kind::SetValue: {
                if (change.keyIsNew) break;  // part of a missing key
                bool machineState = false;
                for (const MachineStateRule& rule : kMachineStateRules) machineState |= rule.applies(change, context);
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
