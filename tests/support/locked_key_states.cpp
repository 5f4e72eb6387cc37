#include "tests/support/locked_key_states.h"

#include "tests/support/product_identity.h"

namespace qz::test {
namespace {

const char* const kOptions = kSystemOptionsKey;
const char* const kSettings = kProductSettingsKey;
const char* const kAsciiSuffix = kAsciiSuffixKey;
const char* const kLibrarySuffix = kLibrarySuffixKey;
const char* const kLibraryType = kLibraryTypeKey;
const char* const kDocumentType = kDocumentTypeKey;
const char* const kCurVer = kCurVerKey;
const char* const kVersionedProgId = kVersionedProgIdKey;
const char* const kApplicationClass = kApplicationClassKey;
const char* const kDocumentClass = kDocumentClassKey;

std::string Below(const char* key, const char* path) { return std::string(key) + "\\" + path; }

std::vector<LockedKeyState> MakeStates() {
    const std::string unableToRemoveOurOptionsValue = std::string("Unable to remove the value ovx of ") + kOptions;
    std::vector<LockedKeyState> states;

    // Seen after registration when a lockdown tool makes the Options key
    // read-only while another product is registered: the other product still
    // counts, so the family's shared keys stay; our own value stays with a box.
    {
        LockedKeyState s;
        s.name = "ReadOnlyOptionsKey";
        s.locks = {{kOptions, KeyLockKind::ReadOnly}};
        s.boxes = {unableToRemoveOurOptionsValue};
        s.values = {{kOptions, "ovx", "Orvantis"},
                    {kOptions, "pwk", "Pellwick"},
                    {kLibrarySuffix, "", "Tavrin Model Library"}};
        s.present = {kLibraryType, Below(kLibraryType, "CLSID")};
        // Everything else of this version goes.
        s.absent = {kSettings, kAsciiSuffix, kDocumentType, kVersionedProgId, kApplicationClass, kDocumentClass};
        // Lifted, the next unregistration removes our value and keeps the shared keys for pwk.
        s.unregisterOnceLifted = true;
        s.valuesOnceLifted = {{kOptions, "ovx", std::nullopt}, {kOptions, "pwk", "Pellwick"}};
        s.presentOnceLifted = {kLibraryType};
        states.push_back(s);
    }
    // Whether another product is left cannot be told: the shared keys stay,
    // and the pass says why.
    {
        LockedKeyState s;
        s.name = "UnreadableOptionsKey";
        s.otherProductLeaves = true;
        s.locks = {{kOptions, KeyLockKind::Nothing}};
        s.boxes = {unableToRemoveOurOptionsValue, std::string("Unable to read ") + kOptions};
        s.present = {kLibrarySuffix, kLibraryType};
        s.absent = {kAsciiSuffix};
        states.push_back(s);
    }
    // Which version is current cannot be told: every key the current version
    // uses stays; this version's own keys go.
    {
        LockedKeyState s;
        s.name = "UnreadableCurVer";
        s.locks = {{kCurVer, KeyLockKind::Nothing}};
        s.boxes = {std::string("Unable to read ") + kCurVer};
        s.present = {kAsciiSuffix, kDocumentType, kDocumentClass};
        s.presentNatively = {kCurVer};
        s.absent = {kSettings, kVersionedProgId, kApplicationClass};
        s.values = {{kOptions, "ovx", std::nullopt}};
        states.push_back(s);
    }
    // Our suffix key made read-only after registration: its value stays, with a box.
    {
        LockedKeyState s;
        s.name = "ReadOnlySuffixKeyOfOurs";
        s.locks = {{kAsciiSuffix, KeyLockKind::ReadOnly}};
        s.boxes = {std::string("Unable to remove the default value of ") + kAsciiSuffix};
        s.values = {{kAsciiSuffix, "", "Orvantis Language"}};
        s.absent = {kDocumentType};
        states.push_back(s);
    }
    // A suffix key another program took over is not ours: that it is locked is no failure.
    {
        LockedKeyState s;
        s.name = "ReadOnlySuffixKeyOfAnotherProgram";
        s.afterRegistration = "REGEDIT4\n[HKEY_CLASSES_ROOT\\.ovxf]\n@=\"Other.Document\"\n";
        s.locks = {{kAsciiSuffix, KeyLockKind::ReadOnly}};
        s.values = {{kAsciiSuffix, "", "Other.Document"}};
        s.underWine = false;
        states.push_back(s);
    }
    // Our suffix key emptied of our value, but its deletion refused. Wine
    // deletes a key without subkeys whatever its permissions say.
    {
        LockedKeyState s;
        s.name = "EmptiedSuffixKeyThatCannotGo";
        s.locks = {{kAsciiSuffix, KeyLockKind::DeleteRefused}};
        s.boxes = {std::string("Unable to remove ") + kAsciiSuffix};
        s.present = {kAsciiSuffix};
        s.values = {{kAsciiSuffix, "", std::nullopt}};
        s.underWine = false;
        states.push_back(s);
    }
    {
        LockedKeyState s;
        s.name = "UnreadableSuffixKey";
        s.locks = {{kAsciiSuffix, KeyLockKind::Nothing}};
        s.boxes = {std::string("Unable to read ") + kAsciiSuffix};
        s.values = {{kAsciiSuffix, "", "Orvantis Language"}};
        s.underWine = false;
        states.push_back(s);
    }
    // A locked subkey below a shared key of ours: the key cannot go, and says
    // so. Under Wine the lock must be on a key with a subkey of its own (see
    // EmptiedSuffixKeyThatCannotGo), so each suite locks its own level.
    {
        LockedKeyState s;
        s.name = "ReadOnlySubkeyBelowTheDocumentType";
        s.locks = {{Below(kDocumentType, "shell\\Open\\command"), KeyLockKind::ReadOnly}};
        s.boxes = {std::string("Unable to remove ") + kDocumentType};
        s.present = {Below(kDocumentType, "shell\\Open\\command")};
        s.absent = {Below(kDocumentType, "shell\\Edit")};
        s.underWine = false;
        states.push_back(s);
    }
    {
        LockedKeyState s;
        s.name = "KeyWithASubkeyBelowTheDocumentTypeLockedToItsValues";
        s.locks = {{Below(kDocumentType, "shell\\Open"), KeyLockKind::ValuesOnly}};
        s.boxes = {std::string("Unable to remove ") + kDocumentType};
        s.present = {Below(kDocumentType, "shell\\Open")};
        s.absent = {Below(kDocumentType, "shell\\Edit"), Below(kDocumentType, "shell\\Open Orvantis V12")};
        s.native = false;
        states.push_back(s);
    }
    // During a registration, the search for installed versions must read the
    // system's and the product's keys: one it cannot read would silently drop
    // other versions' verbs from the rebuilt document type.
    {
        LockedKeyState s;
        s.name = "UnreadableSystemKeyAtRegistration";
        s.registers = true;
        s.locks = {{"HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvalen\\ZUREDORE", KeyLockKind::Nothing}};
        s.boxes = {"Unable to read HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvalen\\ZUREDORE"};
        s.underWine = false;
        states.push_back(s);
    }
    // The unregistration reads the installation's Dir key for the label of this
    // version's verb: one it cannot read might leave that verb, so it says so.
    {
        LockedKeyState s;
        s.name = "UnreadableDirKeyAtUnregistration";
        s.locks = {{"HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Dir", KeyLockKind::Nothing}};
        s.boxes = {"Unable to read HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvalen\\ZUREDORE\\38.0\\Dir"};
        s.absent = {Below(kDocumentType, "shell\\Open Orvantis V12")};
        s.underWine = false;
        states.push_back(s);
    }
    return states;
}

}  // namespace

const char kLockedKeysInstallation[] = "tests/e2e/fixtures/real_machine/installation.reg";

const std::vector<LockedKeyState>& LockedKeyStates() {
    static const std::vector<LockedKeyState> states = MakeStates();
    return states;
}

void PrintTo(const LockedKeyState& state, std::ostream* out) { *out << state.name; }

}  // namespace qz::test
