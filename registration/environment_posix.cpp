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

bool IsEnvironmentVariableDefined(const std::string& name) { return FindVariable(name) != nullptr; }

std::string ExpandEnvironmentText(const std::string& text) {
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] != '%') {
            out.push_back(text[i++]);
            continue;
        }
        const std::size_t close = text.find('%', i + 1);
        if (close == std::string::npos) {
            out.append(text, i, std::string::npos);
            break;
        }
        const std::string_view name(text.data() + i + 1, close - i - 1);
        const char* value = name.empty() ? nullptr : FindVariable(name);
        if (value != nullptr) {
            out += value;
            i = close + 1;
        } else {
            // Not a variable: the first % stays, and the second may open the next name.
            out.push_back('%');
            ++i;
            out.append(text, i, close - i);
            i = close;
        }
    }
    return out;
}

}  // namespace qz
