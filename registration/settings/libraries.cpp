#include "module/registration_steps.h"

namespace qz {

void RegisterDefaultLibraries(int) {}
void RegisterScriptLibrary(int) {}

}  // namespace qz
