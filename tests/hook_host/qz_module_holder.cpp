// A stand-in for the modelling application while an engineer works: it loads
// the product module and keeps it loaded until it is ended, as the host holds
// qzproduct.dll all day. The package tests run it around an upgrade or a
// removal, and end it (by its process handle) before the restart.
//
//   qz_module_holder <module.dll> <ready-file>
//
// Once the module is loaded it writes "loaded" into the ready file, so that a
// test starts the installation only while the file is really held. Exits 3 when
// the module cannot be loaded; otherwise it never ends by itself.
#include <windows.h>
#include <shellapi.h>

int main() {
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (args == nullptr || count != 3) return 2;
    if (LoadLibraryW(args[1]) == nullptr) return 3;
    const HANDLE ready = CreateFileW(args[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (ready == INVALID_HANDLE_VALUE) return 4;
    DWORD written = 0;
    WriteFile(ready, "loaded", 6, &written, nullptr);
    CloseHandle(ready);
    for (;;) Sleep(INFINITE);
}
