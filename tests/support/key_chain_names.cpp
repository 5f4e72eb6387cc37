#include "tests/support/key_chain_names.h"

#include <cstdio>

namespace qz::test {

std::vector<std::u16string> Repeated(int count, const std::u16string& name) {
    return std::vector<std::u16string>(static_cast<std::size_t>(count), name);
}

std::vector<std::u16string> NumberedLevels(int count) {
    std::vector<std::u16string> names;
    for (int level = 0; level < count; ++level) {
        char name[16];
        std::snprintf(name, sizeof name, "Level%02d_abcde", level % 100);
        names.emplace_back(name, name + 13);
    }
    return names;
}

}  // namespace qz::test
