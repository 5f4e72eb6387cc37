// A self-registering DLL whose exports do nothing: what regsvr32 costs by
// itself (process start, loading a DLL, calling an export) under Wine, to set
// beside the time of registering the product module.
#include <windows.h>

extern "C" HRESULT DllRegisterServer() { return S_OK; }
extern "C" HRESULT DllUnregisterServer() { return S_OK; }
