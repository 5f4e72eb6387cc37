#include "tools/host/reg_import.h"

#include <fstream>
#include <iterator>

#include "registry/reg_file/reg_file.h"
#ifndef _WIN32
#include "registry/folder/registry_folder.h"
#endif

namespace qz {

bool ImportRegFile(const std::string& file, MemoryRegistry& registry, std::string& error) {
    std::string bytes;
#ifdef _WIN32
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = "cannot read " + file;
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
#else
    // Only a regular file of bounded size: a FIFO or /dev/zero must not hang the command.
    if (!ReadRegFileToImport(file, bytes, error)) return false;
#endif
    // Read as regedit reads an import: UTF-16 after its BOM, UTF-8 after its BOM, else the ANSI code page.
    std::u16string text;
    std::string why;
    if (!DecodeRegFileBytes(bytes, RegFileRule::Import, text, why) || !ImportRegText(text, registry, why)) {
        error = file + ": " + why;
        return false;
    }
    return true;
}

}  // namespace qz
