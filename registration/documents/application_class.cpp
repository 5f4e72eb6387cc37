#include "module/registration_steps.h"

namespace qz {

void RegisterApplicationClass(int) {}

}  // namespace qz
