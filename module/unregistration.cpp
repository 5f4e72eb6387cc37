#include "module/registration_steps.h"

namespace qz {

void RemoveProductKeys() {}
void RemoveShellVerbs() {}

}  // namespace qz
