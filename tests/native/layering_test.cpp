// The includes run one way: text conversion at the bottom, the registry layer
// and the resources above it, the registration steps (with the services and
// product knowledge they share) above those, the module's driver and exports
// above the steps, the hosts on top, and below them what every host shares
// (tools/host), which includes no host. The hosts run the module's pass through
// its entry point (qzreg loads the module; the custom action links the module's
// code but still calls only the entry point), so they never include its steps
// or its driver. A source that reaches upward
// fails here with its file and line.
#include <gtest/gtest.h>

#include <filesystem>
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
    {"tools/host", {"module/", "registration/", "tools/qzreg/", "tools/qzaction/", "tests/"}},
    {"tools/qzreg", {"module/", "registration/", "tests/"}},
    {"tools/qzaction", {"module/", "registration/", "tools/qzreg/", "tests/"}},
};

TEST(Layering, NoIncludeRunsUpward) {
    namespace fs = std::filesystem;
    std::vector<std::string> upward;
    for (const Rule& rule : kRules) {
        for (const auto& entry : fs::recursive_directory_iterator(fs::path(QZ_SOURCE_DIR) / rule.directory)) {
            if (!entry.is_regular_file()) continue;
            const std::string extension = entry.path().extension().string();
            if (extension != ".h" && extension != ".cpp") continue;
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

}  // namespace
