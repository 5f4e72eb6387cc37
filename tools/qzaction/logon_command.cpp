#include "tools/qzaction/logon_command.h"

#include <cstdint>
#include <cstdio>

#include "text/code_page.h"
#include "text/utf16_data.h"

namespace qz {

// ---- EmptyUserHive ----------------------------------------------------------

bool EmptyUserHive::IsUserKey(HKEY key) const { return key == HKEY_CURRENT_USER || userRoots_.count(key) != 0; }

LONG EmptyUserHive::CreateKeyExW(HKEY root, const char16_t* path, DWORD options, REGSAM access, HKEY* out) {
    if (IsUserKey(root)) return ERROR_ACCESS_DENIED;
    return ForwardingRegistry::CreateKeyExW(root, path, options, access, out);
}

LONG EmptyUserHive::OpenKeyExW(HKEY root, const char16_t* path, REGSAM access, HKEY* out) {
    if (!IsUserKey(root)) return ForwardingRegistry::OpenKeyExW(root, path, access, out);
    // The hive itself is there (empty); nothing below it is.
    if (path != nullptr && *path != u'\0') return ERROR_FILE_NOT_FOUND;
    const LONG status = ForwardingRegistry::OpenKeyExW(HKEY_CURRENT_USER, path, access, out);
    if (status == ERROR_SUCCESS) userRoots_.insert(*out);
    return status;
}

LONG EmptyUserHive::SetValueExW(HKEY key, const char16_t* name, DWORD type, const BYTE* data, DWORD size) {
    if (IsUserKey(key)) return ERROR_ACCESS_DENIED;
    return ForwardingRegistry::SetValueExW(key, name, type, data, size);
}

LONG EmptyUserHive::QueryValueExW(HKEY key, const char16_t* name, DWORD* type, BYTE* data, DWORD* size) {
    if (IsUserKey(key)) return ERROR_FILE_NOT_FOUND;
    return ForwardingRegistry::QueryValueExW(key, name, type, data, size);
}

LONG EmptyUserHive::QueryInfoKeyW(HKEY key, DWORD* subKeys, DWORD* values) {
    if (!IsUserKey(key)) return ForwardingRegistry::QueryInfoKeyW(key, subKeys, values);
    if (subKeys != nullptr) *subKeys = 0;
    if (values != nullptr) *values = 0;
    return ERROR_SUCCESS;
}

LONG EmptyUserHive::EnumKeyExW(HKEY key, DWORD index, char16_t* name, DWORD* nameLen) {
    if (IsUserKey(key)) return ERROR_NO_MORE_ITEMS;
    return ForwardingRegistry::EnumKeyExW(key, index, name, nameLen);
}

LONG EmptyUserHive::EnumValueW(HKEY key, DWORD index, char16_t* name, DWORD* nameLen, DWORD* type, BYTE* data,
                               DWORD* dataLen) {
    if (IsUserKey(key)) return ERROR_NO_MORE_ITEMS;
    return ForwardingRegistry::EnumValueW(key, index, name, nameLen, type, data, dataLen);
}

LONG EmptyUserHive::DeleteKeyW(HKEY root, const char16_t* path) {
    if (IsUserKey(root)) return ERROR_ACCESS_DENIED;
    return ForwardingRegistry::DeleteKeyW(root, path);
}

LONG EmptyUserHive::DeleteValueW(HKEY key, const char16_t* name) {
    if (IsUserKey(key)) return ERROR_ACCESS_DENIED;
    return ForwardingRegistry::DeleteValueW(key, name);
}

LONG EmptyUserHive::CloseKey(HKEY key) {
    userRoots_.erase(key);
    return ForwardingRegistry::CloseKey(key);
}

// ---- LogonCommandsFor -------------------------------------------------------

namespace {

// Why text cannot stand between quotes on the command line, or "" when it can.
// Inside quotes cmd.exe /v:off keeps & | < > ^ ( ) ! literal, but expands %,
// ends the argument at a quote, and a backslash before the closing quote
// escapes it; the command reaches the Registry row through formatted text,
// where [ ] { } could name a property.
std::string Unquotable(const std::string& text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) return "a control character";
        switch (c) {
            case '"': return "a quote";
            case '%': return "a percent sign";
            case '[': case ']': case '{': case '}': return std::string("the character ") + c;
            default: break;
        }
    }
    if (!text.empty() && text.back() == '\\') return "a trailing backslash";
    return {};
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string ValueName(const RegValue& value) { return value.name.empty() ? "@" : Utf16ToUtf8(value.name); }

std::uint64_t LittleEndian(const std::vector<BYTE>& data) {
    std::uint64_t number = 0;
    for (std::size_t i = data.size(); i-- > 0;) number = (number << 8) | data[i];
    return number;
}

// The /t and /d arguments of one value; false (why in reason) when no command states it.
bool TypeAndData(const RegValue& value, std::string& arguments, std::string& reason) {
    switch (value.type) {
        case REG_SZ:
        case REG_EXPAND_SZ: {
            const std::string text = Utf16ToUtf8(Utf16TextOfData(value.data.data(), value.data.size()));
            reason = Unquotable(text);
            if (!reason.empty()) return false;
            arguments = std::string("/t ") + (value.type == REG_SZ ? "REG_SZ" : "REG_EXPAND_SZ") + " /d " + Quoted(text);
            return true;
        }
        case REG_DWORD:
        case REG_QWORD: {
            const std::size_t size = value.type == REG_DWORD ? 4 : 8;
            if (value.data.size() != size) {
                reason = "data of " + std::to_string(value.data.size()) + " bytes";
                return false;
            }
            arguments = std::string("/t ") + (value.type == REG_DWORD ? "REG_DWORD" : "REG_QWORD") + " /d " +
                        std::to_string(LittleEndian(value.data));
            return true;
        }
        case REG_BINARY: {
            std::string hex;
            char digits[3];
            for (const BYTE b : value.data) {
                std::snprintf(digits, sizeof digits, "%02x", b);
                hex += digits;
            }
            arguments = "/t REG_BINARY /d " + Quoted(hex);
            return true;
        }
        default:
            reason = "the type " + std::to_string(value.type) + " (reg.exe cannot write it exactly)";
            return false;
    }
}

}  // namespace

LogonCommands LogonCommandsFor(const std::vector<RegistryChange>& changes, const std::string& regExe) {
    LogonCommands result;
    std::vector<std::string> commands;
    const auto refuse = [&](const RegistryChange& change, const std::string& what) {
        result.refused.push_back(FullKeyName(change) + ": " + what);
    };
    const std::string program = Quoted(regExe) + " add ";
    if (const std::string reason = Unquotable(regExe); !reason.empty()) {
        result.refused.push_back("reg.exe at " + regExe + " holds " + reason);
    }
    // A new key needs no command of its own when reg add makes it anyway: for a
    // value in it, or for a key below it.
    std::set<std::string> keysWithValues;
    std::vector<std::string> addedKeys;
    for (const RegistryChange& change : changes) {
        if (change.hive != RegRoot::CurrentUser) continue;
        if (change.kind == RegistryChange::Kind::SetValue) keysWithValues.insert(change.key);
        if (change.kind == RegistryChange::Kind::SetValue || change.kind == RegistryChange::Kind::AddKey)
            addedKeys.push_back(change.key);
    }
    const auto madeAnyway = [&](const std::string& key) {
        if (keysWithValues.count(key) != 0) return true;
        for (const std::string& other : addedKeys)
            if (other.size() > key.size() + 1 && other.compare(0, key.size(), key) == 0 && other[key.size()] == '\\')
                return true;
        return false;
    };

    for (const RegistryChange& change : changes) {
        if (change.hive != RegRoot::CurrentUser) continue;
        const std::string key = "HKCU\\" + change.key;
        if (const std::string reason = Unquotable(key); !reason.empty()) {
            refuse(change, "the key's name holds " + reason);
            continue;
        }
        switch (change.kind) {
            case RegistryChange::Kind::AddKey:
                if (!madeAnyway(change.key)) commands.push_back(program + Quoted(key) + " /f");
                break;
            case RegistryChange::Kind::SetValue: {
                const RegValue& value = *change.newValue;
                const std::string name = Utf16ToUtf8(value.name);
                if (const std::string reason = Unquotable(name); !reason.empty()) {
                    refuse(change, "the value name \"" + name + "\" holds " + reason);
                    break;
                }
                std::string arguments;
                std::string reason;
                if (!TypeAndData(value, arguments, reason)) {
                    refuse(change, "the value " + ValueName(value) + " holds " + reason);
                    break;
                }
                commands.push_back(program + Quoted(key) + (name.empty() ? " /ve " : " /v " + Quoted(name) + " ") +
                                   arguments + " /f");
                break;
            }
            case RegistryChange::Kind::RemoveKey:
            case RegistryChange::Kind::RemoveValue:
                refuse(change, "a removal (a logon adds, it never removes)");
                break;
        }
    }
    for (const std::string& command : commands)
        result.commands += (result.commands.empty() ? "" : " && ") + command;
    return result;
}

}  // namespace qz
