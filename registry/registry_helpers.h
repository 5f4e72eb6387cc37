// The helpers and lookups every registration step shares. They report nothing
// to the user: they answer through their results and the caller decides.
#pragma once

#include <cstdint>
#include <string>

#include "registry/win32_types.h"

namespace qz {

enum class InstallDirectoryKind : std::int32_t { Bin = 0, Help = 1, Lib = 2, Lic = 3, Root = 4 };

// Stores text as REG_SZ with its terminating NUL (size = length + 1), whole,
// whatever its length. 1 when stored, 0 when the registry refused.
int SetRegistryString(HKEY key, const std::string& valueName, const std::string& text);

// Deletes root\path after all its subkeys, depth first. 1 when the key itself went.
int DeleteRegistryTree(HKEY root, std::string path);

// The directory of that kind recorded under the system Dir key, or empty.
// Any number outside the enumeration gives empty without touching the registry.
std::string GetInstallDirectory(InstallDirectoryKind kind);

std::string SystemVersionString();       // "38.0"
std::string SystemDirKeyPath();          // Software\Corvalen\ZURedore\38.0\Dir
std::string SystemOptionsKeyPath();      // Software\Corvalen\ZURedore\38.0\Options
std::string SystemOptionsSubkeyPath();   // ZURedore\38.0\Options

// Number of values (not subkeys) of the system Options key; 0 when it cannot be read.
int CountSystemOptionsValues();

// 1 when HKCR\[application ProgID]\CurVer is missing or names this product version.
int IsCurrentApplicationVersion();

}  // namespace qz
