// Text pieces the document and class registrations share when they build the
// command lines that start the host executable.
#pragma once

#include <string>

namespace qz {

// The text without leading and trailing white space (space, tab, CR, LF, VT, FF).
std::string TrimWhiteSpace(const std::string& text);

// Only the product's own host executable takes the product switch.
bool IsProductHost(const std::string& hostBaseName);

// "directory\fileName", enclosed in double quotes so that a directory with
// spaces still names one program. The directory is taken as recorded: an empty
// one gives "\fileName" in quotes.
std::string QuotedExecutablePath(const std::string& directory, const std::string& fileName);

}  // namespace qz
