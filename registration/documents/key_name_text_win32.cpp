#include <windows.h>

#include "registration/documents/key_name_text.h"

namespace qz {
namespace {

int ToAnsiCodePage(DWORD flags, const std::u16string& name, char* out, int outLength) {
    return ::WideCharToMultiByte(CP_ACP, flags, reinterpret_cast<const wchar_t*>(name.data()),
                                 static_cast<int>(name.size()), out, outLength, nullptr, nullptr);
}

}  // namespace

std::string NarrowKeyName(const std::u16string& name) {
    if (name.empty()) return std::string();
    // No best-fit mapping: a character the code page lacks must not turn into a
    // look-alike that names some other key. Code pages that refuse the flag
    // (UTF-8 as the ANSI code page) can show every character anyway.
    DWORD flags = WC_NO_BEST_FIT_CHARS;
    int length = ToAnsiCodePage(flags, name, nullptr, 0);
    if (length <= 0 && ::GetLastError() == ERROR_INVALID_FLAGS) {
        flags = 0;
        length = ToAnsiCodePage(flags, name, nullptr, 0);
    }
    if (length <= 0) return std::string();
    std::string narrow(static_cast<std::string::size_type>(length), '\0');
    if (ToAnsiCodePage(flags, name, &narrow[0], length) != length) return std::string();
    return narrow;
}

}  // namespace qz
