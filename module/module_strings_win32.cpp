// The string table of this module, not of whichever program loaded it.
#include <string>

#include "module/module_instance_win32.h"
#include "module/module_strings.h"
#include "text/code_page.h"
#include "text/wide_text_win32.h"

namespace qz {
namespace {

class ModuleStringSource final : public StringSource {
public:
    std::string Load(unsigned id) override {
        // LoadStringW with a zero size hands out a pointer into the resource
        // itself, so a string of any length is read whole; the module works in
        // UTF-8, so no character of the table is lost to the system code page.
        const wchar_t* text = nullptr;
        const int length = ::LoadStringW(ModuleInstance(), id, reinterpret_cast<LPWSTR>(&text), 0);
        if (length <= 0 || text == nullptr) return std::string();
        return Utf16ToUtf8(AsUtf16(text, static_cast<size_t>(length)));
    }
};

}  // namespace

StringSource& ModuleStrings() {
    static ModuleStringSource source;
    return source;
}

}  // namespace qz
