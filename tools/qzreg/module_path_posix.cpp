#include "tools/qzreg/module_path.h"

namespace qz {

std::string ModulePathToLoad(const std::string& given) {
    // dlopen searches the library path only for a name without a slash.
    if (given.empty() || given.find('/') != std::string::npos) return given;
    return "./" + given;
}

}  // namespace qz
