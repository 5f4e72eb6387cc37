#include <cstdlib>
#include <cstring>
#include <string_view>

#include "registration/environment.h"
#include "text/ascii.h"

extern char** environ;

namespace qz {
namespace {

// The value of the variable of that name, names compared as Windows compares them.
const char* FindVariable(std::string_view name) {
    if (const char* exact = std::getenv(std::string(name).c_str())) return exact;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        if (equals != nullptr && AsciiEqualIgnoringCase(std::string_view(*entry, equals - *entry), name))
            return equals + 1;
    }
    return nullptr;
}

}  // namespace

bool IsProcessVariableDefined(const std::string& name) { return FindVariable(name) != nullptr; }

std::string ExpandWithProcessEnvironment(const std::string& text) {
    return ExpandVariables(text, [](const std::string& name) -> std::optional<std::string> {
        const char* value = FindVariable(name);
        if (value == nullptr) return std::nullopt;
        return std::string(value);
    });
}

}  // namespace qz
