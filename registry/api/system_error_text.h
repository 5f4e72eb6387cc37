// A system error code as a message shows it: "error 5: Access is denied." on
// Windows (the system's text, in the user's language, from FormatMessageW),
// "error 5" in the native build, whose registry has no texts for the codes it
// returns.
#pragma once

#include <string>

namespace qz {

std::string SystemErrorText(unsigned long code);

}  // namespace qz
