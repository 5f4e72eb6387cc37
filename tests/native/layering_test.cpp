// The includes run one way: text conversion at the bottom, the registry layer
// and the resources above it, the registration steps (with the services and
// product knowledge they share) above those, the module's driver and exports
// above the steps, the hosts on top, and below them what every host shares
// (tools/host), which includes no host. The hosts run the module's pass through
// its entry point (qzreg loads the module; the custom action links the module's
// code but still calls only the entry point), so no file of tools/ includes its
// steps or its driver; measurements (bench/) may. Every source of ours is under
// a rule, so that a new folder cannot slip past them. A source that reaches
// upward fails here with its file and line.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Rule {
    const char* directory;                 // below the source tree
    std::vector<const char*> mayNotInclude;  // include path prefixes
};

// No product source includes tests/: what only the tests need (the narrow
// registry calls, say) stays in tests/support.
const Rule kRules[] = {
    {"text", {"registry/", "resources/", "module/", "registration/", "tools/", "tests/"}},
    {"registry", {"module/", "registration/", "resources/", "tools/", "tests/"}},
    {"registry/api", {"registry/memory/", "registry/reg_file/", "registry/changes/", "registry/overlay/",
                      "registry/folder/"}},
    {"registry/memory", {"registry/reg_file/", "registry/changes/", "registry/overlay/", "registry/folder/"}},
    {"registry/reg_file", {"registry/changes/", "registry/overlay/", "registry/folder/"}},
    {"registry/changes", {"registry/overlay/", "registry/folder/"}},
    {"registry/overlay", {"registry/folder/"}},
    {"registry/folder", {"registry/changes/", "registry/overlay/"}},
    {"resources", {"registry/", "module/", "registration/", "tools/", "tests/"}},
    {"registration", {"module/", "tools/", "tests/"}},
    {"module", {"tools/", "tests/"}},
    {"tools", {"module/", "registration/", "tests/"}},
    {"tools/host", {"tools/qzreg/", "tools/qzaction/"}},
    {"tools/qzaction", {"tools/qzreg/"}},
    {"bench", {"tools/", "tests/"}},
};

// The folders of the source tree that hold no source of the product, its hosts
// or its measurements: the build's files, documents, the tests themselves, the
// fuzz targets (they compile the readers they reach from their own list).
const char* const kNotProductSources[] = {".git", "build", "cmake", "docs", "fuzz", "scripts", "tests"};

bool IsSource(const std::filesystem::path& path) {
    const std::string extension = path.extension().string();
    return extension == ".h" || extension == ".cpp";
}

bool UnderRule(const std::string& relative) {
    for (const Rule& rule : kRules) {
        const std::string directory = std::string(rule.directory) + "/";
        if (relative.rfind(directory, 0) == 0) return true;
    }
    return false;
}

TEST(Layering, NoIncludeRunsUpward) {
    namespace fs = std::filesystem;
    std::vector<std::string> upward;
    for (const Rule& rule : kRules) {
        for (const auto& entry : fs::recursive_directory_iterator(fs::path(QZ_SOURCE_DIR) / rule.directory)) {
            if (!entry.is_regular_file() || !IsSource(entry.path())) continue;
            std::ifstream in(entry.path());
            int number = 0;
            for (std::string line; std::getline(in, line);) {
                ++number;
                if (line.rfind("#include \"", 0) != 0) continue;
                const std::string included = line.substr(10);
                for (const char* prefix : rule.mayNotInclude) {
                    if (included.rfind(prefix, 0) == 0)
                        upward.push_back(fs::relative(entry.path(), QZ_SOURCE_DIR).string() + ":" +
                                         std::to_string(number) + ": " + line);
                }
            }
        }
    }
    EXPECT_TRUE(upward.empty()) << [&] {
        std::string text;
        for (const std::string& item : upward) text += item + "\n";
        return text;
    }();
}

// A source outside every rule's folder (a new room, a program at the top of
// tools/) would never be checked: each must sit below one.
TEST(Layering, EverySourceIsUnderARule) {
    namespace fs = std::filesystem;
    std::vector<std::string> unchecked;
    for (auto it = fs::recursive_directory_iterator(QZ_SOURCE_DIR); it != fs::recursive_directory_iterator(); ++it) {
        const std::string relative = fs::relative(it->path(), QZ_SOURCE_DIR).generic_string();
        if (it.depth() == 0 && it->is_directory() &&
            std::find(std::begin(kNotProductSources), std::end(kNotProductSources), relative) !=
                std::end(kNotProductSources)) {
            it.disable_recursion_pending();
            continue;
        }
        if (it->is_regular_file() && IsSource(it->path()) && !UnderRule(relative)) unchecked.push_back(relative);
    }
    EXPECT_TRUE(unchecked.empty()) << [&] {
        std::string text;
        for (const std::string& item : unchecked) text += item + "\n";
        return text;
    }();
}

}  // namespace
