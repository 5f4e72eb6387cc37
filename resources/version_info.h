// A reader of the version resource (VS_VERSIONINFO): its fixed part, its string
// tables with their entries in stored order, and its translations. The native build
// has no GetFileVersionInfo/VerQueryValue, so its tools and tests read the module's
// version block through this; it reads the block Windows returns just the same.
//
// Like the resource reader, it trusts nothing in the data: every node length is
// checked against its parent before it is followed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qz {

// VS_FIXEDFILEINFO.
struct FixedFileInfo {
    std::uint32_t signature = 0;
    std::uint32_t structVersion = 0;
    std::uint32_t fileVersionMS = 0;
    std::uint32_t fileVersionLS = 0;
    std::uint32_t productVersionMS = 0;
    std::uint32_t productVersionLS = 0;
    std::uint32_t fileFlagsMask = 0;
    std::uint32_t fileFlags = 0;
    std::uint32_t fileOS = 0;
    std::uint32_t fileType = 0;
    std::uint32_t fileSubtype = 0;
    std::uint32_t fileDateMS = 0;
    std::uint32_t fileDateLS = 0;
};

constexpr std::uint32_t kFixedFileInfoSignature = 0xFEEF04BD;

struct VersionStringTable {
    std::string name;  // language and code page in hex, such as "040904b0"
    std::vector<std::pair<std::string, std::string>> entries;  // key, text (Windows-1252)
};

struct VersionInfo {
    FixedFileInfo fixed;
    std::vector<VersionStringTable> stringTables;
    std::vector<std::uint32_t> translations;  // language in the low word, code page in the high word
};

// False when the block is not a well-formed VS_VERSIONINFO with a fixed part.
bool ParseVersionInfo(const void* data, std::size_t size, VersionInfo& info);

}  // namespace qz
