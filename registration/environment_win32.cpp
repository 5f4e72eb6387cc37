#include <windows.h>

#include <vector>

#include "registration/environment.h"
#include "text/code_page.h"
#include "text/wide_text_win32.h"

namespace qz {

bool IsProcessVariableDefined(const std::string& name) {
    // A variable that is set needs room for its value and the NUL, so at least 1.
    return ::GetEnvironmentVariableW(Utf8ToWide(name).c_str(), nullptr, 0) != 0;
}

std::string ExpandWithProcessEnvironment(const std::string& text) {
    const std::wstring wide = Utf8ToWide(text);
    const wchar_t* source = wide.c_str();
    std::vector<wchar_t> buffer(wide.size() + 1);
    for (;;) {
        const DWORD needed = ::ExpandEnvironmentStringsW(source, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (needed == 0) return text;
        if (needed <= buffer.size()) {
            std::string expanded;
            // The count includes the terminating NUL.
            if (!Utf16ToUtf8Exact(AsUtf16(buffer.data(), needed - 1), expanded)) return text;
            return expanded;
        }
        buffer.resize(needed);
    }
}

}  // namespace qz
