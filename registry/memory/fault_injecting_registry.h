// A registry decorator for tests: it passes every call to the registry it wraps,
// records each one (operation, full key path, value name, result) in order, and
// fails the calls that match a fault with the fault's status code instead of
// passing them on. Full key paths are built from the caller's own names: the
// root as written (HKEY_CLASSES_ROOT\..., never translated) followed by every
// path the handle was opened with, so a key opened relative to an open key logs
// as root\parent\child.
//
//   FaultInjectingRegistry registry{memory};
//   registry.Fail(RegOp::CreateKey, "HKEY_LOCAL_MACHINE\\Software\\Corvalen").Subtree();
//   registry.Fail(RegOp::SetValue, "HKEY_CLASSES_ROOT\\CLSID\\{...}", ERROR_ACCESS_DENIED).OnValue("").OnCall(2);
//
// Matching compares paths without regard to case, accepts the short root names
// (HKLM, HKCU, HKCR), and treats HKEY_CLASSES_ROOT\X and
// HKEY_LOCAL_MACHINE\Software\Classes\X as the same key, as the registry does.
#pragma once

#include <cstddef>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "registry/api/registry_api.h"

namespace qz {

enum class RegOp {
    CreateKey,     // CreateKeyEx
    OpenKey,       // OpenKeyEx and OpenKey
    SetValue,      // SetValueEx
    QueryValue,    // QueryValueEx
    QueryInfoKey,  // QueryInfoKey
    EnumKey,       // EnumKeyEx and EnumKeyExW
    EnumValue,     // EnumValue
    DeleteKey,     // DeleteKey (the key path is the key to delete)
    DeleteValue,   // DeleteValue
    CloseKey,      // CloseKey
    Any,           // in a fault: every operation
};

const char* RegOpName(RegOp op);

struct RegistryFault {
    RegOp op = RegOp::Any;
    std::string keyPath;                   // full path, e.g. "HKEY_LOCAL_MACHINE\\Software\\Corvalen"
    bool subtree = false;                  // also every key below keyPath
    std::optional<std::string> valueName;  // only calls on this value ("" = the default value)
    int occurrence = 0;                    // only the Nth matching call (1-based); 0 = every one
    REGSAM rights = 0;                     // OpenKey, CreateKey: only calls asking for any of these; 0 = every one
    LONG status = ERROR_ACCESS_DENIED;
    int matched = 0;                       // matching calls seen so far

    RegistryFault& Subtree() {
        subtree = true;
        return *this;
    }
    RegistryFault& OnValue(std::string name) {
        valueName = std::move(name);
        return *this;
    }
    // A key whose permissions let others only read it: Fail(RegOp::OpenKey, key).AskingFor(KEY_SET_VALUE | ...).
    RegistryFault& AskingFor(REGSAM anyOf) {
        rights = anyOf;
        return *this;
    }
    RegistryFault& OnCall(int n) {
        occurrence = n;
        return *this;
    }
};

struct RegistryCall {
    RegOp op;
    std::string keyPath;    // full path as the caller named it (UTF-8)
    std::string valueName;  // SetValue, QueryValue, DeleteValue; EnumValue: the name returned (UTF-8)
    LONG result;
    bool injected;          // the result came from a fault, the wrapped registry never saw the call
};

class FaultInjectingRegistry final : public RegistryApi {
public:
    explicit FaultInjectingRegistry(RegistryApi& inner) : inner_(inner) {}

    // Adds a fault; the reference stays valid for the object's lifetime, for the
    // chained setters. CloseKey faults report their status but still close the key.
    RegistryFault& Fail(RegOp op, std::string keyPath, LONG status = ERROR_ACCESS_DENIED);
    void ClearFaults() { faults_.clear(); }

    const std::vector<RegistryCall>& Calls() const { return calls_; }
    void ClearCalls() { calls_.clear(); }
    // The calls of one kind, in order, as "keyPath" or "keyPath -> valueName" texts.
    std::vector<std::string> CallsOf(RegOp op) const;
    std::size_t CountCalls(RegOp op) const;
    // The whole log, one call a line, for failure messages.
    std::string FormatCalls() const;

    LONG CreateKeyExW(HKEY root, const char16_t* path, DWORD options, REGSAM access, HKEY* out) override;
    LONG OpenKeyExW(HKEY root, const char16_t* path, REGSAM access, HKEY* out) override;
    LONG SetValueExW(HKEY key, const char16_t* name, DWORD type, const BYTE* data, DWORD size) override;
    LONG QueryValueExW(HKEY key, const char16_t* name, DWORD* type, BYTE* data, DWORD* size) override;
    LONG QueryInfoKeyW(HKEY key, DWORD* subKeys, DWORD* values) override;
    LONG EnumKeyExW(HKEY key, DWORD index, char16_t* name, DWORD* nameLen) override;
    LONG EnumValueW(HKEY key, DWORD index, char16_t* name, DWORD* nameLen, DWORD* type, BYTE* data,
                    DWORD* dataLen) override;
    LONG DeleteKeyW(HKEY root, const char16_t* path) override;
    LONG DeleteValueW(HKEY key, const char16_t* name) override;
    LONG CloseKey(HKEY key) override;

private:
    std::string PathOf(HKEY key) const;
    std::string Join(HKEY base, const char16_t* path) const;
    // The status of the first fault that matches this call, if any.
    std::optional<LONG> Injected(RegOp op, const std::string& keyPath, const std::string& valueName,
                                 REGSAM access = 0);
    LONG Record(RegOp op, std::string keyPath, std::string valueName, LONG result, bool injected);

    RegistryApi& inner_;
    std::deque<RegistryFault> faults_;
    std::vector<RegistryCall> calls_;
    std::map<HKEY, std::string> paths_;  // open handles and the full paths they were opened with
};

}  // namespace qz
