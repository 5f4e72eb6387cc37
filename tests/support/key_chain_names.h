// Names for chains of keys, each below the one before, as the tests of deep
// trees build them.
#pragma once

#include <string>
#include <vector>

namespace qz::test {

// count times the same name.
std::vector<std::u16string> Repeated(int count, const std::u16string& name);

// Level00_abcde, Level01_abcde, ...: 13 characters each, whatever the count
// (the number wraps after 99, which names in a chain may repeat).
std::vector<std::u16string> NumberedLevels(int count);

}  // namespace qz::test
