#include "module/registration_steps.h"

namespace qz {

void RegisterLanguageDocumentType(int, const std::string&) {}

}  // namespace qz
