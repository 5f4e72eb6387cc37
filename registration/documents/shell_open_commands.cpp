#include "module/registration_steps.h"

namespace qz {

void RegisterShellOpenCommands(std::string) {}

}  // namespace qz
