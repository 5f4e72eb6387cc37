// Every user's part of the registration as logon commands: a pass run over a
// registry whose HKEY_CURRENT_USER reads empty shows every write there, and the
// writes become reg.exe commands quoted for cmd.exe /v:off /s /c "...", or are
// refused when no quote keeps them literal.
#include <gtest/gtest.h>

#include "registry/overlay/overlay_registry.h"
#include "text/utf16_data.h"
#include "tools/qzaction/logon_command.h"

namespace qz {
namespace {

const char kReg[] = "C:\\windows\\system32\\reg.exe";
const std::string kAdd = std::string("\"") + kReg + "\" add ";

RegistryChange Set(std::string key, std::u16string name, DWORD type, std::vector<BYTE> data,
                   RegRoot hive = RegRoot::CurrentUser) {
    RegistryChange change;
    change.kind = RegistryChange::Kind::SetValue;
    change.hive = hive;
    change.key = std::move(key);
    RegValue value;
    value.name = std::move(name);
    value.type = type;
    value.data = std::move(data);
    change.newValue = value;
    return change;
}

RegistryChange Other(RegistryChange::Kind kind, std::string key) {
    RegistryChange change;
    change.kind = kind;
    change.hive = RegRoot::CurrentUser;
    change.key = std::move(key);
    return change;
}

std::vector<BYTE> Text(std::u16string_view text) { return Utf16Data(text); }

struct CommandCase {
    const char* what;
    std::vector<RegistryChange> changes;
    std::string commands;  // expected when nothing is refused
    std::size_t refused;
};

TEST(LogonCommand, EachUserWriteIsOneQuotedCommandOrIsRefused) {
    const std::string ini = "\"HKCU\\Software\\Corvalen\\Orvantis\\38.0\\IniSettings\"";
    const CommandCase cases[] = {
        {"a dword", {Set("Software\\Corvalen\\Orvantis\\38.0\\IniSettings", u"whatsnew_ovx", REG_DWORD, {0, 0, 0, 0})},
         kAdd + ini + " /v \"whatsnew_ovx\" /t REG_DWORD /d 0 /f", 0},
        {"machine writes are not the user's",
         {Set("Software\\X", u"v", REG_SZ, Text(u"a"), RegRoot::LocalMachine),
          Set("X", u"v", REG_SZ, Text(u"a"), RegRoot::ClassesRoot)},
         "", 0},
        {"a new key's values make the key; a key without values has its own command",
         {Other(RegistryChange::Kind::AddKey, "Software\\A"), Set("Software\\A", u"", REG_SZ, Text(u"x")),
          Other(RegistryChange::Kind::AddKey, "Software\\A\\Empty")},
         kAdd + "\"HKCU\\Software\\A\" /ve /t REG_SZ /d \"x\" /f && " + kAdd + "\"HKCU\\Software\\A\\Empty\" /f", 0},
        {"cmd's special characters inside quotes, spaces, non-ASCII",
         {Set("Software\\A B", u"n & m", REG_SZ, Text(u"a|b<c>d^e(f)!g \u00e9"))},
         kAdd + "\"HKCU\\Software\\A B\" /v \"n & m\" /t REG_SZ /d \"a|b<c>d^e(f)!g \xc3\xa9\" /f", 0},
        {"expandable, qword, binary",
         {Set("K", u"e", REG_EXPAND_SZ, Text(u"C:\\x")), Set("K", u"q", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 1}),
          Set("K", u"b", REG_BINARY, {0x0a, 0xff})},
         kAdd + "\"HKCU\\K\" /v \"e\" /t REG_EXPAND_SZ /d \"C:\\x\" /f && " + kAdd +
             "\"HKCU\\K\" /v \"q\" /t REG_QWORD /d 72057594037927937 /f && " + kAdd +
             "\"HKCU\\K\" /v \"b\" /t REG_BINARY /d \"0aff\" /f",
         0},
        {"a quote in the data", {Set("K", u"v", REG_SZ, Text(u"say \"hi\""))}, "", 1},
        {"a percent sign (cmd expands it)", {Set("K", u"v", REG_EXPAND_SZ, Text(u"%APPDATA%\\x"))}, "", 1},
        {"brackets (formatted text)", {Set("K", u"[v]", REG_SZ, Text(u"x"))}, "", 1},
        {"braces in the key (formatted text)", {Set("Software\\{GUID}", u"v", REG_SZ, Text(u"x"))}, "", 1},
        {"a trailing backslash escapes the closing quote", {Set("K", u"v", REG_SZ, Text(u"C:\\dir\\"))}, "", 1},
        {"a line break", {Set("K", u"v", REG_SZ, Text(u"a\nb"))}, "", 1},
        {"a multi-string", {Set("K", u"v", REG_MULTI_SZ, Utf16Data(std::u16string(u"a\0b\0", 4)))}, "", 1},
        {"a short dword", {Set("K", u"v", REG_DWORD, {1, 0})}, "", 1},
        {"removals", {Other(RegistryChange::Kind::RemoveKey, "K"), Other(RegistryChange::Kind::RemoveValue, "L")}, "", 2},
    };
    for (const CommandCase& c : cases) {
        const LogonCommands logon = LogonCommandsFor(c.changes, kReg);
        EXPECT_EQ(logon.refused.size(), c.refused) << c.what;
        if (c.refused == 0) {
            EXPECT_EQ(logon.commands, c.commands) << c.what;
        } else {
            ASSERT_FALSE(logon.refused.empty()) << c.what;
            EXPECT_EQ(logon.refused[0].rfind("HKEY_CURRENT_USER\\", 0), 0u) << c.what << ": " << logon.refused[0];
        }
    }
}

TEST(LogonCommand, ARegExeThatCannotBeQuotedIsRefused) {
    EXPECT_EQ(LogonCommandsFor({}, "C:\\100%\\reg.exe").refused.size(), 1u);
}

// The user who runs the installation already holds the value: seen through
// EmptyUserHive, the pass's write still shows, and the machine's keys read through.
TEST(LogonCommand, ThroughAnEmptyUserHiveEveryUserWriteShows) {
    MemoryRegistry machine;
    HKEY key = nullptr;
    const BYTE zero[4] = {0, 0, 0, 0};
    ASSERT_EQ(machine.CreateKeyExW(HKEY_CURRENT_USER, u"Software\\P\\Ini", 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    ASSERT_EQ(machine.SetValueExW(key, u"w", REG_DWORD, zero, 4), ERROR_SUCCESS);
    machine.CloseKey(key);
    ASSERT_EQ(machine.CreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\P", 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    ASSERT_EQ(machine.SetValueExW(key, u"m", REG_DWORD, zero, 4), ERROR_SUCCESS);
    machine.CloseKey(key);

    const auto pass = [](RegistryApi& base) {
        OverlayRegistry overlay(base);
        HKEY written = nullptr;
        const BYTE zeroValue[4] = {0, 0, 0, 0};
        EXPECT_EQ(overlay.CreateKeyExW(HKEY_CURRENT_USER, u"Software\\P\\Ini", 0, KEY_ALL_ACCESS, &written),
                  ERROR_SUCCESS);
        EXPECT_EQ(overlay.SetValueExW(written, u"w", REG_DWORD, zeroValue, 4), ERROR_SUCCESS);
        overlay.CloseKey(written);
        EXPECT_EQ(overlay.CreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\P", 0, KEY_ALL_ACCESS, &written), ERROR_SUCCESS);
        EXPECT_EQ(overlay.SetValueExW(written, u"m", REG_DWORD, zeroValue, 4), ERROR_SUCCESS);
        overlay.CloseKey(written);
        return overlay.Changes();
    };
    EXPECT_TRUE(pass(machine).empty()) << "the machine as it is already holds both values";

    EmptyUserHive emptyUser(machine);
    const std::vector<RegistryChange> changes = pass(emptyUser);
    ASSERT_FALSE(changes.empty());
    for (const RegistryChange& change : changes) EXPECT_EQ(change.hive, RegRoot::CurrentUser) << change.key;
    EXPECT_EQ(LogonCommandsFor(changes, kReg).commands,
              kAdd + "\"HKCU\\Software\\P\\Ini\" /v \"w\" /t REG_DWORD /d 0 /f");

    HKEY user = nullptr;
    EXPECT_EQ(emptyUser.OpenKeyExW(HKEY_CURRENT_USER, u"Software", KEY_READ, &user), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(emptyUser.CreateKeyExW(HKEY_CURRENT_USER, u"Software\\New", 0, KEY_ALL_ACCESS, &user),
              ERROR_ACCESS_DENIED);
}

}  // namespace
}  // namespace qz
