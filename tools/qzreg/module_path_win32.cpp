#include <windows.h>

#include <vector>

#include "text/wide_text_win32.h"
#include "tools/qzreg/module_path.h"

namespace qz {

std::string ModulePathToLoad(const std::string& given) {
    // LoadLibrary searches for any path that is not absolute (a bare name, and
    // "sub\x.dll" too): the full path leaves it only the named file.
    if (given.empty()) return given;
    const std::wstring wide = Utf8ToWide(given);
    const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return given;
    std::vector<wchar_t> full(needed);
    const DWORD length = GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) return given;
    return WideToUtf8(std::wstring(full.data(), length));
}

}  // namespace qz
