#include "registration/environment.h"

#include "registration/module_state.h"

namespace qz {

std::string ExpandVariables(const std::string& text,
                            const std::function<std::optional<std::string>(const std::string& name)>& lookup) {
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
        const std::string name = text.substr(i + 1, close - i - 1);
        const std::optional<std::string> value = name.empty() ? std::nullopt : lookup(name);
        if (value) {
            out += *value;
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

std::string ExpandEnvironmentText(const std::string& text) {
    if (EnvironmentSource* source = CurrentServices().environment)
        return ExpandVariables(text, [source](const std::string& name) { return source->Variable(name); });
    return ExpandWithProcessEnvironment(text);
}

bool IsEnvironmentVariableDefined(const std::string& name) {
    if (EnvironmentSource* source = CurrentServices().environment) return source->Variable(name).has_value();
    return IsProcessVariableDefined(name);
}

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
