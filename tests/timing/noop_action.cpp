// A custom action that does nothing: the floor of any DLL action under Windows
// Installer (the DLL taken from the Binary table, loaded, its entry called),
// for scripts/bench-msi.sh to set beside the package's own action.
#include <windows.h>
#include <msi.h>

extern "C" __declspec(dllexport) UINT __stdcall QzNothing(MSIHANDLE) { return ERROR_SUCCESS; }
