#include "registration/documents/key_name_text.h"
#include "text/code_page.h"

namespace qz {

// The portable registry's narrow calls speak Windows-1252: the same conversion
// makes the name open the key it was enumerated from.
std::string NarrowKeyName(const std::u16string& name) { return WideToNarrow(name); }

}  // namespace qz
