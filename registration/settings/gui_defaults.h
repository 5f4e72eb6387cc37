// The truth test of the product switches that RegisterGuiDefaults writes.
#pragma once

#include <string>

#include "registry/api/win32_types.h"

namespace qz {

// 1 when the text is "TRUE" in any letter case or exactly "1"; 0 for every
// other text, the empty one and texts with blanks around the word included.
DWORD ProductSwitchValue(const std::string& text);

}  // namespace qz
