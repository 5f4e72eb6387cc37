#include "module/registration_steps.h"

namespace qz {

void RegisterCustomizationKey(int, const std::string&) {}
void RegisterZozViewClass(int) {}
void RegisterGuiDefaults(int) {}
void RegisterIniSettings() {}

}  // namespace qz
