// Expansion of an expandable registry text (REG_EXPAND_SZ), as Windows expands
// it: every %NAME% whose variable is set is replaced by its value; an unknown
// name, or a lone %, stays as written.
//
// Whose variables: a host may name them (the package's action hands the
// machine's own, so that what the requesting user set changes nothing written
// for every user); without one, this process's environment, as regsvr32 has it.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace qz {

// The variables a host hands the pass, in place of the process environment.
class EnvironmentSource {
public:
    virtual ~EnvironmentSource() = default;
    // The value of the variable of that name (UTF-8), names compared as Windows
    // compares them; nullopt when it is not set.
    virtual std::optional<std::string> Variable(const std::string& name) = 0;
};

// UTF-8 in and out. With the services' environment source, the variables are
// its; without one, Windows reads the process environment through
// ExpandEnvironmentStringsW, and the native build reads its own environment,
// whose names compare without regard to letter case as Windows' do.
std::string ExpandEnvironmentText(const std::string& text);

// Whether every %NAME% in an expandable text names a variable that is set. A
// text that keeps a reference after expansion names no real directory: nothing
// later expands the plain strings it would be written into. A pair of % around
// a backslash, or around nothing, is no reference (C:\50%\x\60%\bin).
bool NamesOnlyDefinedVariables(const std::string& text);

// Whether a variable of that name is set (names compared as Windows compares them).
bool IsEnvironmentVariableDefined(const std::string& name);

// The expansion's walk over any lookup of variables (Windows' own rules: a name
// that is set is replaced whole; a pair that is no name leaves its second % to
// open the next one).
std::string ExpandVariables(const std::string& text,
                            const std::function<std::optional<std::string>(const std::string& name)>& lookup);

// The process environment's answers, each platform's own.
std::string ExpandWithProcessEnvironment(const std::string& text);
bool IsProcessVariableDefined(const std::string& name);

}  // namespace qz
