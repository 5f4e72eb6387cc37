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

// Whether every %NAME% in an expandable text names a variable that is set. A
// text that keeps a reference after expansion names no real directory: nothing
// later expands the plain strings it would be written into. A pair of % around
// a backslash, or around nothing, is no reference (C:\50%\x\60%\bin).
bool NamesOnlyDefinedVariables(const std::string& text);

// Whether a variable of that name is set (names compared as Windows compares them).
bool IsEnvironmentVariableDefined(const std::string& name);

}  // namespace qz
