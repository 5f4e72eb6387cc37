// The product knowledge every registration step shares: where the modelling
// system is installed, its version text and keys, how many products it knows,
// and whether this product version is the current one. And the generic registry
// helpers bound to the registry in force, in the form the steps call them.
#pragma once

#include <cstdint>
#include <string>

#include "registration/module_state.h"
#include "registration/product_keys.h"
#include "registry/api/registry_helpers.h"
#include "text/code_page.h"

namespace qz {

inline int SetRegistryString(HKEY key, const std::string& valueName, const std::string& text) {
    return SetRegistryString(Registry(), key, valueName, text);
}
// A 32-bit number as REG_DWORD, in the machine's byte order; the registry's status.
LONG SetRegistryDword(HKEY key, const char* valueName, DWORD number);
// Creates root\path and sets its default value (UTF-8 text); any failure shows
// the message failure.
void WriteDefaultValue(HKEY root, const std::string& path, const std::string& value,
                       ReportMessage failure);
// A key the pass must read to decide what to keep is there but cannot be read:
// one box per key and pass ("Unable to read HKEY_...\..."), and the pass fails.
// The caller then keeps what the answer would have let it remove.
void ReportUnreadableKey(HKEY root, const std::string& path);

// Removes one of this module's own trees. A tree that stays (a subkey the
// registry will not let go, say) shows a box, so that the pass does not report
// as done a removal it could not make; a tree that is not there is no failure.
// 1 when the key went.
int DeleteRegistryTree(HKEY root, std::string path);

enum class InstallDirectoryKind : std::int32_t { Bin = 0, Help = 1, Lib = 2, Lic = 3, Root = 4 };

// The directory of that kind recorded under the system Dir key (an expandable
// text expanded), or empty. Any number outside the enumeration gives empty
// without touching the registry. A directory that is missing, empty, not text
// or too long shows one box per pass (the pass then fails, but the steps still
// write what they write without it); a text that cannot be a path (a double
// quote, a control character) shows a box (one per value and pass) and gives
// empty, so that it never reaches a command line.
std::string GetInstallDirectory(InstallDirectoryKind kind);

// False for a text no Windows path can hold (a double quote, a control
// character, < > |): it must never reach a command line.
bool CanBeADirectoryPath(const std::string& text);

// Number of products registered with the system: the named values (not the
// subkeys, not an empty default value) of the system Options key; 0 when the key
// is not there. -1 when it is there but cannot be read (a box says so): callers
// that remove shared keys at 0 then keep them.
int CountSystemOptionsValues();

// 1 when HKCR\[application ProgID]\CurVer is missing or names this product
// version (the whole ProgID, without regard to letter case). 0 when it names
// another version, has no readable default value, or is there but cannot be
// read (a box says so): the shared keys it guards then stay.
int IsCurrentApplicationVersion();

// For a host that takes notes: before a registration writes anything, whether
// another version is current, by IsCurrentApplicationVersion's rule (without
// its box: a registration does not fail over it). Reads nothing when nobody
// listens.
void NoteWhichVersionIsCurrent();
// For a host that takes notes: root\path and below belong to whichever version
// is current, the keys an unregistration removes only when this version is
// current (IsCurrentApplicationVersion).
void NoteCurrentVersionsKey(const std::string& classesRootPath);

}  // namespace qz
