#include "registration/environment.h"

namespace qz {

bool NamesOnlyDefinedVariables(const std::string& text) {
    // The same walk as the expansion: a name that is set is passed over whole; a
    // pair that is no name leaves its second % to open the next one.
    std::size_t i = text.find('%');
    while (i != std::string::npos) {
        const std::size_t close = text.find('%', i + 1);
        if (close == std::string::npos) return true;
        const std::string name = text.substr(i + 1, close - i - 1);
        const bool isReference = !name.empty() && name.find('\\') == std::string::npos;
        if (isReference && !IsEnvironmentVariableDefined(name)) return false;
        i = text.find('%', isReference ? close + 1 : close);
    }
    return true;
}

}  // namespace qz
