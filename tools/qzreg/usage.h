// qzreg's words to its user outside the passes themselves: an unknown
// subcommand and the nearest known one, and each command's exit statuses.
#pragma once

#include <string>
#include <vector>

namespace qz {

// The subcommands, in the order --help lists them.
const std::vector<std::string>& SubcommandNames();

// The known word closest to word (by edit distance, case ignored); the first
// of equals.
std::string NearestWord(const std::string& word, const std::vector<std::string>& known);

// "'regster' is not a qzreg subcommand; did you mean 'register'? (...)"
std::string UnknownSubcommandText(const std::string& word);

// No subcommand at all: which there are.
std::string MissingSubcommandText();

#ifdef _WIN32
// Which registry view each command reads, for --help on Windows.
std::string RegistryViewText();
#endif

// The "Exit status" section of a command's --help: "" for qzreg itself, or a
// subcommand's name.
std::string ExitStatusText(const std::string& subcommand);

}  // namespace qz
