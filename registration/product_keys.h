// Where the product's keys are, and how a step makes one. Every key path that
// carries the product's names or its version is built here, from the string
// table and the build's version, so that a newcomer finds the code of any key
// by the key's name and a version bump is one edit (the build's version).
#pragma once

#include <string>

#include "registry/api/registry_api.h"

namespace qz {

// The system version this product version belongs to: "38.0".
std::string SystemVersionString();

// Under HKEY_LOCAL_MACHINE.
std::string ProductSettingsKeyPath();                         // Software\Corvalen\Orvantis\38.0
std::string ProductSettingsKeyPath(const std::string& leaf);  // ...\38.0\<leaf>
std::string SystemDirKeyPath();                               // Software\Corvalen\ZURedore\38.0\Dir
std::string SystemOptionsKeyPath();                           // Software\Corvalen\ZURedore\38.0\Options
std::string SystemOptionsSubkeyPath();                        // ZURedore\38.0\Options (below the company key)

// The per-user settings key, under HKEY_CURRENT_USER: Software\Corvalen\Orvantis\38.0\IniSettings.
std::string UserSettingsKeyPath();

// The versioned application ProgID this version writes: OVX Application 3800
// (the digit groups joined as text, then a literal "0").
std::string CurrentVersionProgId();

// The label this product version gives its installation of the modelling
// system ("V12"), and the versioned Open verb that carries a label:
// "Open Orvantis " + label.
std::string ProductVersionLabel();
std::string VersionedOpenVerbName(const std::string& label);

// Creates root\path (UTF-8) or opens it when it is there, for writing values
// and creating subkeys, as every step makes its keys. The registry's status.
LONG CreateRegistryKey(HKEY root, const std::string& path, UniqueKey& key);

}  // namespace qz
