// The machine's own environment variables: what Windows gives a process that
// belongs to no user (CreateEnvironmentBlock with no token and nothing
// inherited: the system's variables, HKLM's Session Manager\Environment). The
// action expands the modelling system's directories with these, never with the
// requesting user's (HKCU\Environment, the installer's process environment),
// since what it computes is written for every user of the machine.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qz {

class MachineEnvironment {
public:
    // False with error naming the call when Windows cannot make the block.
    bool Load(std::string& error);
    // The value of the variable of that name, names compared as Windows compares
    // them; nullopt when the machine does not set it.
    std::optional<std::u16string> Variable(const std::u16string& name) const;

private:
    std::vector<std::pair<std::u16string, std::u16string>> variables_;
};

}  // namespace qz
