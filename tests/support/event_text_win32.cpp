#include "tests/support/event_text.h"

#include <windows.h>

#include "text/wide_text_win32.h"

namespace qz::test {

RenderedEvent RenderEvent(const std::string& modulePath, unsigned long id, const std::vector<std::string>& inserts) {
    RenderedEvent rendered;
    const std::wstring path = Utf8ToWide(modulePath);
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) {
        rendered.error = GetLastError();
        return rendered;
    }
    std::vector<std::wstring> wide;
    for (const std::string& insert : inserts) wide.push_back(Utf8ToWide(insert));
    std::vector<DWORD_PTR> arguments;
    for (const std::wstring& insert : wide) arguments.push_back(reinterpret_cast<DWORD_PTR>(insert.c_str()));
    // An event viewer passes as many strings as the event carries: with none, no array.
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_ALLOCATE_BUFFER, module, id,
        MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), reinterpret_cast<wchar_t*>(&buffer), 0,
        arguments.empty() ? nullptr : reinterpret_cast<va_list*>(arguments.data()));
    if (length == 0) {
        rendered.error = GetLastError();
    } else {
        rendered.found = true;
        rendered.text = WideToUtf8(std::wstring(buffer, length));
    }
    if (buffer != nullptr) LocalFree(buffer);
    FreeLibrary(module);
    return rendered;
}

}  // namespace qz::test
