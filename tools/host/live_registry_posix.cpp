#include "registry/registry_folder.h"
#include "tools/host/live_registry.h"

namespace qz {
namespace {

class FolderRegistry final : public LiveRegistry {
public:
    explicit FolderRegistry(std::unique_ptr<RegistryFolder> folder) : folder_(std::move(folder)) {}
    RegistryApi& registry() override { return folder_->registry(); }
    bool Save(std::string& error) override { return folder_->Save(error); }
    std::string Describe() const override { return "registry folder " + folder_->directory(); }

private:
    std::unique_ptr<RegistryFolder> folder_;
};

}  // namespace

std::unique_ptr<LiveRegistry> LiveRegistry::Open(const LiveRegistryOptions& options, std::string& error) {
    const std::string directory = options.folder.empty() ? DefaultRegistryFolder() : options.folder;
    RegistryFolder::OpenOptions open;
    open.lockTimeout = std::chrono::milliseconds(static_cast<long long>(options.lockTimeoutSeconds * 1000));
    // Like a package manager: say who holds the folder, then wait up to the limit.
    open.onWaiting = [](const std::string& notice) { RegistryFolder::PrintNotice("qzreg: " + notice); };
    std::unique_ptr<RegistryFolder> folder = RegistryFolder::Open(directory, error, open);
    if (!folder) return nullptr;
    for (const std::string& file : options.imports) {
        if (!ImportRegFile(file, folder->registry(), error)) return nullptr;
    }
    return std::make_unique<FolderRegistry>(std::move(folder));
}

}  // namespace qz
