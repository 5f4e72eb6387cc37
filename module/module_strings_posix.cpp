// Temporary: the embedded resource reader arrives with the resources.
#include "module/module_strings.h"

namespace qz {
namespace {
class EmptyStrings final : public StringSource {
public:
    std::string Load(unsigned) override { return {}; }
};
}  // namespace
StringSource& ModuleStrings() {
    static EmptyStrings source;
    return source;
}
}  // namespace qz
