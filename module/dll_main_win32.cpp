// The library entry point of the Windows build. It keeps the instance handle:
// the module's own resources are read through it (see module_resources_win32),
// which is what links the product's identity to every string read of a pass.
#include "module/module_instance_win32.h"

namespace qz {

HINSTANCE g_moduleInstance = nullptr;

HINSTANCE ModuleInstance() { return g_moduleInstance != nullptr ? g_moduleInstance : ::GetModuleHandleA(nullptr); }

}  // namespace qz

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    qz::g_moduleInstance = instance;
    (void)reason;
    return TRUE;
}
