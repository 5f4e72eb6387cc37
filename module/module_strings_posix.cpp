// The string table of this module: the compiled resources embedded in the
// library, read as LoadStringA reads them on Windows.
#include "module/module_strings.h"

#include "resources/embedded_resources.h"

namespace qz {
namespace {

class EmbeddedStringSource final : public StringSource {
public:
    std::string Load(unsigned id) override { return EmbeddedResources().LoadNarrowString(id); }
};

}  // namespace

StringSource& ModuleStrings() {
    static EmbeddedStringSource source;
    return source;
}

}  // namespace qz
