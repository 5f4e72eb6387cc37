#include "resources/embedded_resources.h"

extern "C" {
extern const unsigned char qz_embedded_res_begin[];
extern const unsigned char qz_embedded_res_end[];
}

namespace qz {

const ResourceFile& EmbeddedResources() {
    static const ResourceFile resources(qz_embedded_res_begin,
                                        static_cast<std::size_t>(qz_embedded_res_end - qz_embedded_res_begin));
    return resources;
}

}  // namespace qz
