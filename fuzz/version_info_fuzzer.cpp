// The version-block reader on arbitrary blocks: every node length is checked
// against its parent before it is followed, so nothing outside the block is read
// (AddressSanitizer sees every byte), and a block it accepts has the fixed part.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "resources/version_info.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qz::VersionInfo info;
    if (!qz::ParseVersionInfo(data, size, info)) return 0;
    if (info.fixed.signature != qz::kFixedFileInfoSignature) std::abort();
    volatile std::size_t sink = 0;
    for (const qz::VersionStringTable& table : info.stringTables) {
        sink = sink + table.name.size();
        for (const auto& entry : table.entries) sink = sink + entry.first.size() + entry.second.size();
    }
    sink = sink + info.translations.size();
    return 0;
}
