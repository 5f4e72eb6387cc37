#include "tools/qzreg/directory_key.h"

#include <map>
#include <set>
#include <vector>

#include "registry/overlay_registry.h"
#include "text/code_page.h"

namespace qz {
namespace {

bool IsBin(const char16_t* name) {
    if (name == nullptr) return false;
    const std::u16string text = name;
    return text.size() == 3 && (text[0] | 0x20) == u'b' && (text[1] | 0x20) == u'i' && (text[2] | 0x20) == u'n';
}

// Passes every call on to the overlay and notes, for keys below
// HKEY_LOCAL_MACHINE, which paths could not be opened and where "bin" was read.
class ReadRecorder final : public RegistryApi {
public:
    explicit ReadRecorder(RegistryApi& inner) : inner_(inner) {}

    LONG CreateKeyExW(HKEY root, const char16_t* path, DWORD options, REGSAM access, HKEY* out) override {
        const LONG status = inner_.CreateKeyExW(root, path, options, access, out);
        Note(root, path, status, out);
        return status;
    }
    LONG OpenKeyExW(HKEY root, const char16_t* path, REGSAM access, HKEY* out) override {
        const LONG status = inner_.OpenKeyExW(root, path, access, out);
        Note(root, path, status, out);
        if (status != ERROR_SUCCESS && root == HKEY_LOCAL_MACHINE && path != nullptr) unopened.insert(path);
        return status;
    }
    LONG SetValueExW(HKEY key, const char16_t* name, DWORD type, const BYTE* data, DWORD size) override {
        return inner_.SetValueExW(key, name, type, data, size);
    }
    LONG QueryValueExW(HKEY key, const char16_t* name, DWORD* type, BYTE* data, DWORD* size) override {
        const auto it = paths_.find(key);
        if (IsBin(name) && it != paths_.end() && binKey.empty()) binKey = it->second;
        return inner_.QueryValueExW(key, name, type, data, size);
    }
    LONG QueryInfoKeyW(HKEY key, DWORD* subKeys, DWORD* values) override {
        return inner_.QueryInfoKeyW(key, subKeys, values);
    }
    LONG EnumKeyExW(HKEY key, DWORD index, char16_t* name, DWORD* nameLen) override {
        return inner_.EnumKeyExW(key, index, name, nameLen);
    }
    LONG EnumValueW(HKEY key, DWORD index, char16_t* name, DWORD* nameLen, DWORD* type, BYTE* data,
                    DWORD* dataLen) override {
        return inner_.EnumValueW(key, index, name, nameLen, type, data, dataLen);
    }
    LONG DeleteKeyW(HKEY root, const char16_t* path) override { return inner_.DeleteKeyW(root, path); }
    LONG DeleteValueW(HKEY key, const char16_t* name) override { return inner_.DeleteValueW(key, name); }
    LONG CloseKey(HKEY key) override {
        paths_.erase(key);
        return inner_.CloseKey(key);
    }

    std::set<std::u16string> unopened;
    std::u16string binKey;

private:
    void Note(HKEY root, const char16_t* path, LONG status, HKEY* out) {
        if (status != ERROR_SUCCESS || out == nullptr || root != HKEY_LOCAL_MACHINE || path == nullptr) return;
        paths_[*out] = path;
    }

    RegistryApi& inner_;
    std::map<HKEY, std::u16string> paths_;
};

std::u16string BinKeyOfPass(const MemoryRegistry& state, const std::function<int32_t(RegistryApi&)>& runPass,
                            std::set<std::u16string>* unopened) {
    MemoryRegistry base = state;
    OverlayRegistry overlay(base);
    ReadRecorder recorder(overlay);
    runPass(recorder);
    if (unopened != nullptr) *unopened = recorder.unopened;
    return recorder.binKey;
}

}  // namespace

std::u16string SystemDirectoryKey(const MemoryRegistry& machineState,
                                  const std::function<int32_t(RegistryApi& registry)>& runPass) {
    std::set<std::u16string> unopened;
    std::u16string key = BinKeyOfPass(machineState, runPass, &unopened);
    if (!key.empty() || unopened.empty()) return key;
    MemoryRegistry withKeys = machineState;
    for (const std::u16string& path : unopened) withKeys.EnsureKey(u"HKEY_LOCAL_MACHINE\\" + path);
    return BinKeyOfPass(withKeys, runPass, nullptr);
}

}  // namespace qz
