#include "registry/memory/memory_registry.h"
#include "registry/folder/registry_folder.h"
#include "tools/host/live_registry.h"
#include "tools/host/reg_import.h"

namespace qz {
namespace {

// A folder that does not exist, read as an empty registry: nothing is made.
class MissingFolderRegistry final : public LiveRegistry {
public:
    explicit MissingFolderRegistry(std::string directory) : directory_(std::move(directory)) {}
    RegistryApi& registry() override { return registry_; }
    MemoryRegistry& memory() { return registry_; }
    bool Save(std::string& error) override {
        error = "the registry folder " + directory_ + " does not exist";
        return false;
    }
    std::string Describe() const override { return "registry folder " + directory_ + ", which does not exist"; }

private:
    std::string directory_;
    MemoryRegistry registry_;
};

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
    const std::string& directory = options.folder;
    RegistryFolder::OpenOptions open;
    open.lockTimeout = std::chrono::milliseconds(static_cast<long long>(options.lockTimeoutSeconds * 1000));
    // Like a package manager: say who holds the folder, then wait up to the limit.
    open.onWaiting = [](const std::string& notice) { RegistryFolder::PrintNotice("qzreg: " + notice); };
    const auto imported = [&options, &error](MemoryRegistry& registry) {
        for (const std::string& file : options.imports) {
            if (!ImportRegFile(file, registry, error)) return false;
        }
        return true;
    };
    if (options.readOnly && !options.folderExists) {
        auto missing = std::make_unique<MissingFolderRegistry>(directory);
        if (!imported(missing->memory())) return nullptr;
        return missing;
    }
    std::unique_ptr<RegistryFolder> folder = options.readOnly ? RegistryFolder::OpenToRead(directory, error, open)
                                                              : RegistryFolder::Open(directory, error, open);
    if (!folder || !imported(folder->registry())) return nullptr;
    return std::make_unique<FolderRegistry>(std::move(folder));
}

}  // namespace qz
