// The input of the registry-folder fuzzer: the files of a folder, one after the
// other, each as a byte choosing its name from kFolderFileNames, a 16-bit
// little-endian length and that many bytes (fewer when the input ends first).
// The names are the folder's own files, so that the fuzzer reaches the loading
// of hives, the finishing of an interrupted save from its journal, and the
// clearing of stale temporary files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qz::fuzz {

inline const char* const kFolderFileNames[] = {
    "HKEY_LOCAL_MACHINE.reg",
    "HKEY_CURRENT_USER.reg",
    "journal",
    ".HKEY_LOCAL_MACHINE.reg.AAAAAA",
    ".HKEY_CURRENT_USER.reg.AAAAAA",
    ".journal.AAAAAA",
    "lock",
};
constexpr std::size_t kFolderFileCount = sizeof kFolderFileNames / sizeof kFolderFileNames[0];

struct FolderFile {
    std::string name;
    std::string bytes;
};

inline std::vector<FolderFile> ParseFolderImage(const std::uint8_t* data, std::size_t size) {
    std::vector<FolderFile> files;
    std::size_t offset = 0;
    while (size - offset >= 3) {
        const std::size_t index = data[offset] % kFolderFileCount;
        std::size_t length = data[offset + 1] | (static_cast<std::size_t>(data[offset + 2]) << 8);
        offset += 3;
        if (length > size - offset) length = size - offset;
        files.push_back({kFolderFileNames[index], std::string(reinterpret_cast<const char*>(data + offset), length)});
        offset += length;
    }
    return files;
}

inline void AppendFolderFile(std::string& image, std::size_t index, const std::string& bytes) {
    const std::size_t length = bytes.size() > 0xFFFF ? 0xFFFF : bytes.size();
    image.push_back(static_cast<char>(index));
    image.push_back(static_cast<char>(length & 0xFF));
    image.push_back(static_cast<char>(length >> 8));
    image.append(bytes, 0, length);
}

// A folder whose machine hive holds these bytes.
inline std::string SeedFolderImage(const std::string& machineHive) {
    std::string image;
    AppendFolderFile(image, 0, machineHive);
    return image;
}

}  // namespace qz::fuzz
