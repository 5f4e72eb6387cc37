// The module's instance handle (Windows build). In a test program that links
// the module's code directly, it is the program's own handle, whose resources
// are the same compiled product.rc.
#pragma once

#include "registry/api/win32_types.h"

namespace qz {

extern HINSTANCE g_moduleInstance;
HINSTANCE ModuleInstance();

}  // namespace qz
