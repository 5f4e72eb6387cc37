#include <windows.h>

#include <vector>

#include "registration/environment.h"
#include "text/code_page.h"

namespace qz {

bool IsEnvironmentVariableDefined(const std::string& name) {
    const std::u16string wide = Utf8ToUtf16(name);
    // A variable that is set needs room for its value and the NUL, so at least 1.
    return ::GetEnvironmentVariableW(reinterpret_cast<const wchar_t*>(wide.c_str()), nullptr, 0) != 0;
}

std::string ExpandEnvironmentText(const std::string& text) {
    const std::u16string wide = Utf8ToUtf16(text);
    const wchar_t* source = reinterpret_cast<const wchar_t*>(wide.c_str());
    std::vector<wchar_t> buffer(wide.size() + 1);
    for (;;) {
        const DWORD needed = ::ExpandEnvironmentStringsW(source, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (needed == 0) return text;
        if (needed <= buffer.size()) {
            std::string expanded;
            // The count includes the terminating NUL.
            if (!Utf16ToUtf8Exact(std::u16string_view(reinterpret_cast<const char16_t*>(buffer.data()), needed - 1),
                                  expanded))
                return text;
            return expanded;
        }
        buffer.resize(needed);
    }
}

}  // namespace qz
