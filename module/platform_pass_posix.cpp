// Temporary: the native pass arrives with the registry folder.
#include "module/platform_pass.h"

namespace qz {
struct PlatformPass::Impl {};
PlatformPass::PlatformPass() = default;
PlatformPass::~PlatformPass() = default;
bool PlatformPass::Ready() const { return false; }
ModuleServices PlatformPass::Services() const { return {}; }
std::string PlatformPass::ModuleFileName() const { return {}; }
bool PlatformPass::Commit() { return false; }
}  // namespace qz
