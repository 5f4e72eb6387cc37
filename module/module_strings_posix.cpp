// The string table of this module: the compiled resources embedded in the
// library, in UTF-8 as the module works with text.
#include "module/module_strings.h"

#include "resources/embedded_resources.h"
#include "text/code_page.h"

namespace qz {
namespace {

class EmbeddedStringSource final : public StringSource {
public:
    std::string Load(unsigned id) override { return Utf16ToUtf8(EmbeddedResources().LoadWideString(id)); }
};

}  // namespace

StringSource& ModuleStrings() {
    static EmbeddedStringSource source;
    return source;
}

}  // namespace qz
