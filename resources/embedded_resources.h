// The native build's compiled resources: product.res, embedded in the library
// (resources/embedded_res.S.in) and indexed once, on first use.
#pragma once

#include "resources/res_reader.h"

namespace qz {

const ResourceFile& EmbeddedResources();

}  // namespace qz
