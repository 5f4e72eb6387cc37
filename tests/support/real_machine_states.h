// Registry states real machines have, as one table that both end-to-end suites
// run: under Wine with the real DLL (tests/wine/real_machine_e2e_test.cpp,
// regsvr32 and the hook host) and natively with qzreg and libqzproduct.so
// (tests/native/real_machine_qzreg_test.cpp).
//
// Each state starts from the installation fixture (tests/e2e/fixtures/
// real_machine/installation.reg: the modelling system's Dir key and another
// product registered with it), adds its own .reg fixture and what is awkward to
// write by hand (deep chains of keys, long or typed values), registers, changes
// what another program would change meanwhile, and unregisters, each pass in a
// new process. The checks are the same in both suites: the boxes of the
// registration (none, or exactly these, and then the pass fails), the values it
// wrote, and after unregistration none of this version's keys but those the
// layout keeps on purpose, and every key and value that is not ours.
//
// Texts are UTF-8; key paths are full, with the long root names. "<module>" in
// an expected text stands for the full path of the module that was registered.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "registry/api/registry_api.h"

namespace qz::test {

// Folder of the fixtures, relative to the source tree.
extern const char kRealMachineFixtures[];
// The installation every state starts from.
extern const char kRealMachineInstallation[];

// Keys created one below the other, each from its parent's handle, below parent
// (created as needed); the last one gets the value "v" = "leaf".
struct KeyChain {
    std::string parent;
    std::vector<std::u16string> names;
};

// A value set from code: data of any type and length, exactly these bytes.
struct SeedValue {
    std::string key;
    std::string name;
    DWORD type = REG_SZ;
    std::vector<BYTE> data;
};

struct ExpectedValue {
    std::string key;
    std::string name;  // "" for the default value
    std::string text;  // REG_SZ; "<module>" stands for the module path
};

struct RealMachineState {
    const char* name;

    // Before registration: a fixture of the folder above (or null), then chains and values.
    const char* seed = nullptr;
    std::vector<KeyChain> seedChains;
    std::vector<SeedValue> seedValues;
    // The module is copied into a folder of this name (UTF-8) before it is
    // registered; null: the suite's usual folder.
    const char* moduleFolder = nullptr;

    // The registration's boxes, in order; with any, the pass fails (regsvr32 and qzreg exit 5).
    std::vector<std::string> boxes;
    std::vector<ExpectedValue> registered;
    std::vector<std::string> absentAfterRegistration;

    // Between the passes: what another program or version does meanwhile.
    const char* afterRegistration = nullptr;
    std::vector<KeyChain> afterRegistrationChains;

    // At unregistration: whether OVX Application\CurVer still names this version,
    // and whether this product is the last one in the system's Options key.
    bool staysCurrent = true;
    bool lastProduct = false;
    // A fixture of keys that are not ours as they must be after unregistration,
    // each top key compared whole with its export.
    const char* kept = nullptr;
    // Keys of this version beyond the usual ones that must be gone after unregistration.
    std::vector<std::string> absentAfterUnregistration;
};

const std::vector<RealMachineState>& RealMachineStates();
// A state in test output: its name.
void PrintTo(const RealMachineState& state, std::ostream* out);

// What a suite reads back from its registry.
class RegistryProbe {
public:
    virtual ~RegistryProbe() = default;
    virtual bool KeyExists(const std::string& key) = 0;
    virtual bool ValueExists(const std::string& key, const std::string& name) = 0;
    // A REG_SZ value up to its terminator; nullopt when missing or of another type.
    virtual std::optional<std::string> Text(const std::string& key, const std::string& name) = 0;
    // The key and everything below it in the layout of `reg export` (UTF-8, LF
    // line ends, the key named as given); "" when it does not exist.
    virtual std::string Export(const std::string& key) = 0;
};

// Replaces every "<module>" in text.
std::string WithModulePath(std::string text, const std::string& modulePath);

// The checks after registration: the boxes, the values written, the keys absent.
void CheckRegistration(const RealMachineState& state, const std::vector<std::string>& boxes, RegistryProbe& probe,
                       const std::string& modulePath);

// The checks after unregistration: this version's keys gone, the keys kept on
// purpose there, and the state's kept fixture (its UTF-8 text, LF line ends)
// equal to the exports of its top keys.
void CheckUnregistration(const RealMachineState& state, RegistryProbe& probe, const std::string& keptFixture);

// The top keys of a .reg text: each section that is not below an earlier one, in order.
std::vector<std::string> TopKeysOfRegText(const std::string& text);

}  // namespace qz::test
