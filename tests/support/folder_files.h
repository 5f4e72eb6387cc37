// Files and folders as the native tests look at them: files whole, as bytes,
// and a scratch folder of a test's own.
#pragma once

#include <string>
#include <vector>

namespace qz::test {

// The file's bytes; empty when it cannot be read.
std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);
// A hive file of a registry folder (UTF-16LE after its byte order mark) as
// UTF-8 text; empty when it cannot be read or has no such mark.
std::string HiveText(const std::string& path);
// The names in a folder, without . and .., sorted; empty when it cannot be read.
std::vector<std::string> FileNames(const std::string& directory);

// A new folder "/tmp/<name>XXXXXX" for one test, removed with everything in it
// when the owner goes (a test fixture's member: when the test ends). Throws
// when it cannot be made, which fails the test.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& name);
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder();

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace qz::test
