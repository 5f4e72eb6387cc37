#include "module/registration_steps.h"

namespace qz {

void RegisterDocumentSuffixes(int) {}
void RegisterSuffixSetting(int) {}
void RegisterLibraryDocumentClass(int) {}

}  // namespace qz
