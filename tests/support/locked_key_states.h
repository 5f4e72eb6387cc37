// Keys whose permissions let this process only read them, or not even that,
// met by a whole pass: one table that both suites run, natively on the
// in-memory registry with the locks modelled by the fault injector
// (tests/unit/locked_keys_test.cpp), and under Wine with the real DLL and
// DACLs set with RegSetKeySecurity (tests/wine/locked_keys_e2e_test.cpp).
//
// Each state starts from the installation fixture (tests/e2e/fixtures/
// real_machine/installation.reg: the modelling system's Dir key and another
// product, pwk, in the Options key), registers, changes what the state says,
// locks its keys and runs the pass under test (the unregistration, or a
// registration again). The checks are the same in both suites: the pass's
// boxes exactly (with any, it fails), the keys there and gone, the values.
// A lock a suite cannot model faithfully leaves the state to the other suite.
//
// Texts are UTF-8; key paths are full, with the long root names.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace qz::test {

// How a key's permissions lock it, for everyone.
enum class KeyLockKind {
    ReadOnly,       // the key may be read and its subkeys listed; nothing more, not even deleted
    Nothing,        // nothing at all, not even opening it
    ValuesOnly,     // only its values may be read: not even its subkeys listed
    DeleteRefused,  // everything but deleting it
};

struct LockedKey {
    std::string key;
    KeyLockKind lock;
};

struct ExpectedText {
    std::string key;
    std::string name;                 // "" for the default value
    std::optional<std::string> text;  // REG_SZ; nullopt: the value is not there
};

struct LockedKeyState {
    const char* name = "";

    // After the registration, before the locks: another product leaves the
    // system's Options key, and (a REGEDIT4 text) what another program writes.
    bool otherProductLeaves = false;
    const char* afterRegistration = nullptr;
    std::vector<LockedKey> locks;
    // The pass under test: false, the unregistration; true, a registration.
    bool registers = false;

    std::vector<std::string> boxes;
    std::vector<std::string> present;
    // Keys the lock keeps, checked natively only: Wine deletes a key without
    // subkeys whatever its permissions say.
    std::vector<std::string> presentNatively;
    std::vector<std::string> absent;
    std::vector<ExpectedText> values;

    // Once the locks are lifted, an unregistration does what it could not:
    // no box, and these checks after it.
    bool unregisterOnceLifted = false;
    std::vector<std::string> presentOnceLifted;
    std::vector<ExpectedText> valuesOnceLifted;

    // Where the locks can be modelled faithfully.
    bool native = true;
    bool underWine = true;
};

const std::vector<LockedKeyState>& LockedKeyStates();
void PrintTo(const LockedKeyState& state, std::ostream* out);

// The installation every state starts from, relative to the source tree.
extern const char kLockedKeysInstallation[];

}  // namespace qz::test
