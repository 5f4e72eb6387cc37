// Key names enumerated as UTF-16, turned into the narrow text in the system code
// page that the rest of the registration works in.
#pragma once

#include <string>

namespace qz {

// The name in the system code page (the ANSI code page on Windows, Windows-1252 in
// the native build), converted as the registry's own narrow calls convert it, so
// that the result opens the key of that name. Names in the ASCII range come out
// unchanged; a character the code page lacks becomes '?'. Empty when the
// name cannot be converted at all.
std::string NarrowKeyName(const std::u16string& name);

}  // namespace qz
