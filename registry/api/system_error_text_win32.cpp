#include <windows.h>

#include "registry/api/system_error_text.h"
#include "text/wide_text_win32.h"

namespace qz {

std::string SystemErrorText(unsigned long code) {
    std::string text = "error " + std::to_string(code);
    wchar_t* message = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    std::wstring system(message != nullptr ? message : L"", message != nullptr ? length : 0);
    if (message != nullptr) LocalFree(message);
    // The system's texts end with a line break.
    while (!system.empty() && (system.back() == L'\n' || system.back() == L'\r' || system.back() == L' '))
        system.pop_back();
    if (!system.empty()) text += ": " + WideToUtf8(system);
    return text;
}

}  // namespace qz
