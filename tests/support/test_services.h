// Seams for tests: a reporter that records every box, and a string source that
// reads the module's own string table except for the ids a test overrides.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "registration/module_state.h"

namespace qz::test {

class RecordingReporter final : public ErrorReporter {
public:
    void Report(const std::string& message) override { messages.push_back(message); }
    std::vector<std::string> messages;
};

class OverridableStrings final : public StringSource {
public:
    std::string Load(unsigned id) override;
    // Replaces one entry; an empty text reads as a missing entry does.
    void Set(unsigned id, std::string text) { overrides_[id] = std::move(text); }

private:
    std::map<unsigned, std::string> overrides_;
};

// The box of a registration that finds no installation of the modelling system.
inline std::string MissingInstallationBox(const std::string& valueName, const std::string& why = "(the key is missing)") {
    return "The installation directory of the modelling system was not found: "
           "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Dir, value " +
           valueName + " " + why;
}

}  // namespace qz::test
