#include <windows.h>

#include <vector>

#include "registry/api/system_error_text.h"
#include "text/code_page.h"
#include "text/wide_text_win32.h"
#include "tools/host/module_library.h"

namespace qz {

ModuleLibrary::~ModuleLibrary() {
    if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
}

ModuleLibrary::Failure ModuleLibrary::Load(const std::string& path, std::string& error) {
    const std::u16string wide = Utf8ToUtf16(path);
    handle_ = LoadLibraryW(AsWide(wide.c_str()));
    if (handle_ == nullptr) {
        error = "cannot load " + path + " (" + SystemErrorText(GetLastError()) + ")";
        return Failure::NotLoaded;
    }
    run_ = reinterpret_cast<QzRunRegistrationPassFunction>(
        reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), QZ_RUN_REGISTRATION_PASS_NAME)));
    if (run_ == nullptr) {
        error = path + " has no export " + QZ_RUN_REGISTRATION_PASS_NAME;
        return Failure::ExportMissing;
    }
    return Failure::None;
}

std::string DefaultModulePath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    DWORD length = 0;
    for (;;) {
        length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length < buffer.size() || buffer.size() >= 32768) break;
        buffer.resize(buffer.size() * 2);
    }
    std::string directory = Utf16ToUtf8(AsUtf16(buffer.data(), length));
    directory.erase(directory.find_last_of("\\/") + 1);
    return directory + "qzproduct.dll";
}

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
