#include "registry/memory/fault_injecting_registry.h"

#include <cstdio>

#include "text/code_page.h"
#include "registry/memory/reg_tree.h"

namespace qz {
namespace {

std::u16string Folded(std::u16string_view text) {
    std::u16string folded(text);
    for (char16_t& c : folded) c = RegistryFoldCase(c);
    return folded;
}

// The form in which two paths naming the same key are equal: components folded
// to lower case, short root names expanded, HKEY_CLASSES_ROOT as the machine's
// Software\Classes, empty components dropped.
std::u16string CanonicalPath(const std::string& path) {
    std::vector<std::u16string> components;
    const std::u16string wide = Utf8ToUtf16(path);
    std::size_t start = 0;
    while (start <= wide.size()) {
        std::size_t end = wide.find(u'\\', start);
        if (end == std::u16string::npos) end = wide.size();
        if (end > start) components.push_back(Folded(std::u16string_view(wide).substr(start, end - start)));
        start = end + 1;
    }
    std::u16string canonical;
    for (std::size_t i = 0; i < components.size(); ++i) {
        std::u16string component = components[i];
        if (i == 0) {
            if (component == u"hklm") component = u"hkey_local_machine";
            if (component == u"hkcu") component = u"hkey_current_user";
            if (component == u"hkcr" || component == u"hkey_classes_root")
                component = u"hkey_local_machine\\software\\classes";
        }
        if (i > 0) canonical.push_back(u'\\');
        canonical += component;
    }
    return canonical;
}

bool PathMatches(const RegistryFault& fault, const std::string& keyPath) {
    const std::u16string rule = CanonicalPath(fault.keyPath);
    const std::u16string key = CanonicalPath(keyPath);
    if (key == rule) return true;
    return fault.subtree && key.size() > rule.size() && key.compare(0, rule.size(), rule) == 0 &&
           key[rule.size()] == u'\\';
}

// Names and paths are logged and matched in UTF-8, the module's own text.
std::string Utf8(const char16_t* text) { return text != nullptr ? Utf16ToUtf8(text) : std::string(); }

bool TakesValueName(RegOp op) {
    return op == RegOp::SetValue || op == RegOp::QueryValue || op == RegOp::DeleteValue;
}

}  // namespace

const char* RegOpName(RegOp op) {
    switch (op) {
        case RegOp::CreateKey: return "CreateKey";
        case RegOp::OpenKey: return "OpenKey";
        case RegOp::SetValue: return "SetValue";
        case RegOp::QueryValue: return "QueryValue";
        case RegOp::QueryInfoKey: return "QueryInfoKey";
        case RegOp::EnumKey: return "EnumKey";
        case RegOp::EnumValue: return "EnumValue";
        case RegOp::DeleteKey: return "DeleteKey";
        case RegOp::DeleteValue: return "DeleteValue";
        case RegOp::CloseKey: return "CloseKey";
        case RegOp::Any: break;
    }
    return "Any";
}

RegistryFault& FaultInjectingRegistry::Fail(RegOp op, std::string keyPath, LONG status) {
    RegistryFault fault;
    fault.op = op;
    fault.keyPath = std::move(keyPath);
    fault.status = status;
    faults_.push_back(std::move(fault));
    return faults_.back();
}

std::vector<std::string> FaultInjectingRegistry::CallsOf(RegOp op) const {
    std::vector<std::string> texts;
    for (const RegistryCall& call : calls_) {
        if (call.op != op) continue;
        texts.push_back(TakesValueName(op) ? call.keyPath + " -> " + call.valueName : call.keyPath);
    }
    return texts;
}

std::size_t FaultInjectingRegistry::CountCalls(RegOp op) const {
    std::size_t count = 0;
    for (const RegistryCall& call : calls_) count += call.op == op ? 1 : 0;
    return count;
}

std::string FaultInjectingRegistry::FormatCalls() const {
    std::string text;
    for (const RegistryCall& call : calls_) {
        text += RegOpName(call.op);
        text += ' ';
        text += call.keyPath;
        if (TakesValueName(call.op) || !call.valueName.empty()) text += " -> \"" + call.valueName + "\"";
        text += " = " + std::to_string(call.result);
        if (call.injected) text += " (injected)";
        text += '\n';
    }
    return text;
}

std::string FaultInjectingRegistry::PathOf(HKEY key) const {
    if (key == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
    if (key == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
    if (key == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
    if (key == HKEY_USERS) return "HKEY_USERS";
    const auto found = paths_.find(key);
    if (found != paths_.end()) return found->second;
    char text[48];
    std::snprintf(text, sizeof text, "<unknown handle %p>", static_cast<void*>(key));
    return text;
}

std::string FaultInjectingRegistry::Join(HKEY base, const char16_t* path) const {
    std::string relative = Utf8(path);
    while (!relative.empty() && relative.back() == '\\') relative.pop_back();
    const std::string basePath = PathOf(base);
    return relative.empty() ? basePath : basePath + "\\" + relative;
}

std::optional<LONG> FaultInjectingRegistry::Injected(RegOp op, const std::string& keyPath,
                                                     const std::string& valueName, REGSAM access) {
    for (RegistryFault& fault : faults_) {
        if (fault.op != RegOp::Any && fault.op != op) continue;
        if (fault.rights != 0 && (access & fault.rights) == 0) continue;
        if (fault.valueName) {
            if (!TakesValueName(op)) continue;
            if (!RegistryNamesEqual(Utf8ToUtf16(*fault.valueName), Utf8ToUtf16(valueName)))
                continue;
        }
        if (!PathMatches(fault, keyPath)) continue;
        ++fault.matched;
        if (fault.occurrence == 0 || fault.occurrence == fault.matched) return fault.status;
    }
    return std::nullopt;
}

LONG FaultInjectingRegistry::Record(RegOp op, std::string keyPath, std::string valueName, LONG result,
                                    bool injected) {
    calls_.push_back(RegistryCall{op, std::move(keyPath), std::move(valueName), result, injected});
    return result;
}

LONG FaultInjectingRegistry::CreateKeyExW(HKEY root, const char16_t* path, DWORD options, REGSAM access,
                                          HKEY* out) {
    std::string keyPath = Join(root, path);
    if (const auto status = Injected(RegOp::CreateKey, keyPath, {}, access)) {
        if (out != nullptr) *out = nullptr;
        return Record(RegOp::CreateKey, std::move(keyPath), {}, *status, true);
    }
    const LONG result = inner_.CreateKeyExW(root, path, options, access, out);
    if (result == ERROR_SUCCESS && out != nullptr) paths_[*out] = keyPath;
    return Record(RegOp::CreateKey, std::move(keyPath), {}, result, false);
}

LONG FaultInjectingRegistry::OpenKeyExW(HKEY root, const char16_t* path, REGSAM access, HKEY* out) {
    std::string keyPath = Join(root, path);
    if (const auto status = Injected(RegOp::OpenKey, keyPath, {}, access)) {
        if (out != nullptr) *out = nullptr;
        return Record(RegOp::OpenKey, std::move(keyPath), {}, *status, true);
    }
    const LONG result = inner_.OpenKeyExW(root, path, access, out);
    if (result == ERROR_SUCCESS && out != nullptr) paths_[*out] = keyPath;
    return Record(RegOp::OpenKey, std::move(keyPath), {}, result, false);
}

LONG FaultInjectingRegistry::SetValueExW(HKEY key, const char16_t* name, DWORD type, const BYTE* data,
                                         DWORD size) {
    std::string keyPath = PathOf(key);
    std::string valueName = Utf8(name);
    if (const auto status = Injected(RegOp::SetValue, keyPath, valueName))
        return Record(RegOp::SetValue, std::move(keyPath), std::move(valueName), *status, true);
    const LONG result = inner_.SetValueExW(key, name, type, data, size);
    return Record(RegOp::SetValue, std::move(keyPath), std::move(valueName), result, false);
}

LONG FaultInjectingRegistry::QueryValueExW(HKEY key, const char16_t* name, DWORD* type, BYTE* data,
                                           DWORD* size) {
    std::string keyPath = PathOf(key);
    std::string valueName = Utf8(name);
    if (const auto status = Injected(RegOp::QueryValue, keyPath, valueName))
        return Record(RegOp::QueryValue, std::move(keyPath), std::move(valueName), *status, true);
    const LONG result = inner_.QueryValueExW(key, name, type, data, size);
    return Record(RegOp::QueryValue, std::move(keyPath), std::move(valueName), result, false);
}

LONG FaultInjectingRegistry::QueryInfoKeyW(HKEY key, DWORD* subKeys, DWORD* values) {
    std::string keyPath = PathOf(key);
    if (const auto status = Injected(RegOp::QueryInfoKey, keyPath, {}))
        return Record(RegOp::QueryInfoKey, std::move(keyPath), {}, *status, true);
    const LONG result = inner_.QueryInfoKeyW(key, subKeys, values);
    return Record(RegOp::QueryInfoKey, std::move(keyPath), {}, result, false);
}

LONG FaultInjectingRegistry::EnumKeyExW(HKEY key, DWORD index, char16_t* name, DWORD* nameLen) {
    std::string keyPath = PathOf(key);
    if (const auto status = Injected(RegOp::EnumKey, keyPath, {}))
        return Record(RegOp::EnumKey, std::move(keyPath), {}, *status, true);
    const LONG result = inner_.EnumKeyExW(key, index, name, nameLen);
    return Record(RegOp::EnumKey, std::move(keyPath), {}, result, false);
}

LONG FaultInjectingRegistry::EnumValueW(HKEY key, DWORD index, char16_t* name, DWORD* nameLen, DWORD* type,
                                        BYTE* data, DWORD* dataLen) {
    std::string keyPath = PathOf(key);
    if (const auto status = Injected(RegOp::EnumValue, keyPath, {}))
        return Record(RegOp::EnumValue, std::move(keyPath), {}, *status, true);
    const LONG result = inner_.EnumValueW(key, index, name, nameLen, type, data, dataLen);
    std::string valueName;
    if (result == ERROR_SUCCESS && name != nullptr && nameLen != nullptr)
        valueName = Utf16ToUtf8(std::u16string_view(name, *nameLen));
    return Record(RegOp::EnumValue, std::move(keyPath), std::move(valueName), result, false);
}

LONG FaultInjectingRegistry::DeleteKeyW(HKEY root, const char16_t* path) {
    std::string keyPath = Join(root, path);
    if (const auto status = Injected(RegOp::DeleteKey, keyPath, {}))
        return Record(RegOp::DeleteKey, std::move(keyPath), {}, *status, true);
    const LONG result = inner_.DeleteKeyW(root, path);
    return Record(RegOp::DeleteKey, std::move(keyPath), {}, result, false);
}

LONG FaultInjectingRegistry::DeleteValueW(HKEY key, const char16_t* name) {
    std::string keyPath = PathOf(key);
    std::string valueName = Utf8(name);
    if (const auto status = Injected(RegOp::DeleteValue, keyPath, valueName))
        return Record(RegOp::DeleteValue, std::move(keyPath), std::move(valueName), *status, true);
    const LONG result = inner_.DeleteValueW(key, name);
    return Record(RegOp::DeleteValue, std::move(keyPath), std::move(valueName), result, false);
}

LONG FaultInjectingRegistry::CloseKey(HKEY key) {
    std::string keyPath = PathOf(key);
    const auto status = Injected(RegOp::CloseKey, keyPath, {});
    // A handle is released whatever the fault says: a test must not leak keys.
    const LONG result = inner_.CloseKey(key);
    if (result == ERROR_SUCCESS) paths_.erase(key);
    return Record(RegOp::CloseKey, std::move(keyPath), {}, status ? *status : result, status.has_value());
}

}  // namespace qz
