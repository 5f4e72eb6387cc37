#include "tools/qzreg/wix_source.h"

namespace qz {

// Placeholder until the WiX writer lands: says so in the output itself.
std::string HarvestAsWixSource(const std::vector<RegistryChange>&) {
    return "<!-- WiX output is not available in this build -->\n";
}

}  // namespace qz
