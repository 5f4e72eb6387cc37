#include "registry/api/system_error_text.h"

namespace qz {

std::string SystemErrorText(unsigned long code) { return "error " + std::to_string(code); }

}  // namespace qz
