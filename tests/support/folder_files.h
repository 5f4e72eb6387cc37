// Files of a folder as the registry folder tests look at them: whole, as bytes.
#pragma once

#include <string>
#include <vector>

namespace qz::test {

// The file's bytes; empty when it cannot be read.
std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);
// The names in a folder, without . and .., sorted; empty when it cannot be read.
std::vector<std::string> FileNames(const std::string& directory);

}  // namespace qz::test
