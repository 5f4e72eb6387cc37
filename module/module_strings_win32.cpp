// The string table of this module, not of whichever program loaded it.
#include <string>

#include "module/module_instance_win32.h"
#include "module/module_strings.h"

namespace qz {
namespace {

class ModuleStringSource final : public StringSource {
public:
    std::string Load(unsigned id) override {
        // LoadStringW with a zero size hands out a pointer into the resource
        // itself, so a string of any length is read whole; it is then narrowed
        // to the system code page as LoadStringA would.
        const wchar_t* text = nullptr;
        const int length = ::LoadStringW(ModuleInstance(), id, reinterpret_cast<LPWSTR>(&text), 0);
        if (length <= 0 || text == nullptr) return std::string();
        const int size = ::WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
        if (size <= 0) return std::string();
        std::string narrow(static_cast<size_t>(size), '\0');
        ::WideCharToMultiByte(CP_ACP, 0, text, length, &narrow[0], size, nullptr, nullptr);
        return narrow;
    }
};

}  // namespace

StringSource& ModuleStrings() {
    static ModuleStringSource source;
    return source;
}

}  // namespace qz
