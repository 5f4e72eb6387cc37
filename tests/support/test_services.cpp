#include "tests/support/test_services.h"

#include "module/module_strings.h"

namespace qz::test {

std::string OverridableStrings::Load(unsigned id) {
    const auto found = overrides_.find(id);
    return found != overrides_.end() ? found->second : ModuleStrings().Load(id);
}

}  // namespace qz::test
