#include <fstream>
#include <iterator>

#include "registry/memory_registry.h"
#include "registry/reg_file.h"
#include "tools/qzreg/live_registry.h"

namespace qz {

bool ImportRegFile(const std::string& file, MemoryRegistry& registry, std::string& error) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = "cannot read " + file;
        return false;
    }
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string why;
    if (!ImportRegText(DecodeRegFileBytes(bytes), registry, why)) {
        error = file + ": " + why;
        return false;
    }
    return true;
}

}  // namespace qz
