// Expansion of an expandable registry text (REG_EXPAND_SZ), as Windows expands
// it: every %NAME% whose variable is set is replaced by its value; an unknown
// name, or a lone %, stays as written.
#pragma once

#include <string>

namespace qz {

// UTF-8 in and out. Windows reads the process environment through
// ExpandEnvironmentStringsW; the native build reads its own environment, whose
// names compare without regard to letter case as Windows' do.
std::string ExpandEnvironmentText(const std::string& text);

}  // namespace qz
