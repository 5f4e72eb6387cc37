// Key names enumerated as UTF-16, turned into the narrow text in the system code
// page that the rest of the registration works in.
#pragma once

#include <string>

namespace qz {

// The name in the system code page (the ANSI code page on Windows, Windows-1252 in
// the native build). Names in the ASCII range come out unchanged; a character the
// code page lacks becomes '?', so that such a name matches no key rather than a wrong one.
std::string NarrowKeyName(const std::u16string& name);

}  // namespace qz
