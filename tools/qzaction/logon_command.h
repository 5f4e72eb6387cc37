// Every user's part of the registration, for each user's next logon: the
// registration's writes under HKEY_CURRENT_USER as reg.exe commands, which the
// package's Active Setup entry runs as that user. A deployment tool installs as
// SYSTEM, so the installation's own HKEY_CURRENT_USER rows reach only SYSTEM's
// hive; these commands reach everybody who logs on.
//
// The commands are taken from the module's own pass, run on an overlay of a
// registry whose HKEY_CURRENT_USER reads empty (EmptyUserHive): every value
// the registration writes there shows as a write, whatever the user who runs
// the installation already holds. Platform-free, so that its rules are tested
// in both builds.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "registry/changes/registry_changes.h"
#include "registry/memory/forwarding_registry.h"

namespace qz {

// The inner registry, but HKEY_CURRENT_USER has no keys and no values; nothing
// is written through it (a pass on an overlay of it only reads).
class EmptyUserHive : public ForwardingRegistry {
public:
    using ForwardingRegistry::ForwardingRegistry;

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
    bool IsUserKey(HKEY key) const;
    std::set<HKEY> userRoots_;  // handles of HKEY_CURRENT_USER itself, opened through this registry
};

struct LogonCommands {
    // The commands, joined by " && " (empty when the pass writes nothing under
    // HKEY_CURRENT_USER); each one "REG" add "HKCU\key" [/v "name" | /ve] /t TYPE /d "data" /f.
    std::string commands;
    // The changes no command can state safely, each naming its key and value;
    // when there are any, commands must not be used.
    std::vector<std::string> refused;
};

// The pass's changes under HKEY_CURRENT_USER (the others are left out) as
// commands of reg.exe at regExe (a full path), for a command line that cmd.exe
// runs with /v:off /s /c "...": every key, name and text is quoted, and text
// that a quote cannot keep literal there (a quote, %, a control character, a
// trailing backslash) or that the installer's formatted text would read as a
// property ([ ] { }) is refused, as are multi-strings and removals.
LogonCommands LogonCommandsFor(const std::vector<RegistryChange>& changes, const std::string& regExe);

}  // namespace qz
