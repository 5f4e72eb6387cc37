// The default library list of the product: file names separated by commas.
#pragma once

#include <string>
#include <vector>

namespace qz {

// The leading white space of the whole text is dropped; an empty text or "none"
// in any letter case means no libraries. Otherwise the names between commas,
// left to right, empty ones skipped; blanks inside a name, around a comma or at
// the end of the text belong to the names.
std::vector<std::string> DefaultLibraryNames(const std::string& list);

// The text without its leading blanks, tabs, line feeds, vertical tabs, form
// feeds and carriage returns.
std::string WithoutLeadingWhiteSpace(const std::string& text);

}  // namespace qz
