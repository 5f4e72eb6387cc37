// The module's own product string table, read by id: LoadStringW on the
// module's instance in the Windows build, the embedded compiled resources in
// the native build. Missing entries read as empty.
#pragma once

#include "registration/module_state.h"

namespace qz {

StringSource& ModuleStrings();

}  // namespace qz
