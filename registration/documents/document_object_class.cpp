#include "module/registration_steps.h"

namespace qz {

void RegisterDocumentObjectClass(int, const std::string&) {}

}  // namespace qz
