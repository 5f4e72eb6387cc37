#include "tools/qzreg/directory_key.h"

#include <map>
#include <memory>
#include <set>
#include <vector>

#include "registry/memory/forwarding_registry.h"
#include "text/ascii.h"
#include "text/code_page.h"

namespace qz {
namespace {

bool IsBin(const char16_t* name) { return name != nullptr && AsciiEqualIgnoringCase(Utf16ToUtf8(name), "bin"); }

// Passes every call on to the overlay and notes, for keys below
// HKEY_LOCAL_MACHINE, which paths could not be opened and where "bin" was read.
class ReadRecorder final : public ForwardingRegistry {
public:
    explicit ReadRecorder(RegistryApi& inner) : ForwardingRegistry(inner) {}

    LONG CreateKeyExW(HKEY root, const char16_t* path, DWORD options, REGSAM access, HKEY* out) override {
        const LONG status = inner().CreateKeyExW(root, path, options, access, out);
        Note(root, path, status, out);
        return status;
    }
    LONG OpenKeyExW(HKEY root, const char16_t* path, REGSAM access, HKEY* out) override {
        const LONG status = inner().OpenKeyExW(root, path, access, out);
        Note(root, path, status, out);
        if (status != ERROR_SUCCESS && root == HKEY_LOCAL_MACHINE && path != nullptr) unopened.insert(path);
        return status;
    }
    LONG QueryValueExW(HKEY key, const char16_t* name, DWORD* type, BYTE* data, DWORD* size) override {
        const auto it = paths_.find(key);
        if (IsBin(name) && it != paths_.end() && binKey.empty()) binKey = it->second;
        return inner().QueryValueExW(key, name, type, data, size);
    }
    LONG CloseKey(HKEY key) override {
        paths_.erase(key);
        return inner().CloseKey(key);
    }

    std::set<std::u16string> unopened;
    std::u16string binKey;

private:
    void Note(HKEY root, const char16_t* path, LONG status, HKEY* out) {
        if (status != ERROR_SUCCESS || out == nullptr || root != HKEY_LOCAL_MACHINE || path == nullptr) return;
        paths_[*out] = path;
    }

    std::map<HKEY, std::u16string> paths_;
};

std::u16string BinKeyOfPass(const MemoryRegistry& state, PassEntry entry, const std::string& modulePath,
                            std::set<std::u16string>* unopened) {
    MemoryRegistry base = state;
    std::unique_ptr<ReadRecorder> recorder;
    RunPassOnOverlay(entry, base, QZ_PASS_REGISTER, &modulePath, [&recorder](RegistryApi& overlay) -> RegistryApi& {
        recorder = std::make_unique<ReadRecorder>(overlay);
        return *recorder;
    });
    if (unopened != nullptr) *unopened = recorder->unopened;
    return recorder->binKey;
}

}  // namespace

std::u16string SystemDirectoryKey(const MemoryRegistry& machineState, PassEntry entry, const std::string& modulePath) {
    std::set<std::u16string> unopened;
    std::u16string key = BinKeyOfPass(machineState, entry, modulePath, &unopened);
    if (!key.empty() || unopened.empty()) return key;
    MemoryRegistry withKeys = machineState;
    for (const std::u16string& path : unopened) withKeys.EnsureKey(u"HKEY_LOCAL_MACHINE\\" + path);
    return BinKeyOfPass(withKeys, entry, modulePath, nullptr);
}

}  // namespace qz
