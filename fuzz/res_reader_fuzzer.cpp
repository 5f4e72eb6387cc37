// The compiled-resource reader on arbitrary images: whatever it indexes must lie
// inside the image (AddressSanitizer sees every byte read, since libFuzzer hands
// over a buffer of exactly the input's size), and string and version lookups on
// what it found must stay inside it too.
#include <cstddef>
#include <cstdint>

#include "resources/res_reader.h"
#include "resources/version_info.h"

namespace {

// Reads every byte of a found resource, so that an out-of-bounds span shows.
unsigned Touch(const qz::ResourceData& data) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < data.size; ++i) sum += data.data[i];
    return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const qz::ResourceFile file(data, size);
    volatile unsigned sink = 0;
    const unsigned types[] = {qz::kResourceTypeBitmap,     qz::kResourceTypeIcon,    qz::kResourceTypeString,
                              qz::kResourceTypeGroupIcon,  qz::kResourceTypeVersion, qz::kResourceTypeManifest};
    for (unsigned type : types) {
        for (unsigned id : file.Ids(type)) {
            const qz::ResourceData found = file.Find(type, id);
            if (found.found()) sink = sink + Touch(found);
            if (type == qz::kResourceTypeString) {
                // Block id covers string ids (id - 1) * 16 .. (id - 1) * 16 + 15.
                for (unsigned index = 0; index < 16; ++index) {
                    const unsigned stringId = (id - 1) * 16 + index;
                    sink = sink + static_cast<unsigned>(file.LoadWideString(stringId).size());
                    sink = sink + static_cast<unsigned>(file.LoadNarrowString(stringId).size());
                }
            }
            if (type == qz::kResourceTypeVersion && found.found()) {
                qz::VersionInfo info;
                sink = sink + (qz::ParseVersionInfo(found.data, found.size, info) ? 1u : 0u);
            }
        }
    }
    // Ids past the 16-bit range name nothing.
    sink = sink + static_cast<unsigned>(file.LoadWideString(0x10000).size());
    return 0;
}
