// One versioned Open verb for every installed system version under which the
// product is registered, found in the 32-bit view first and the native view second.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "registration/registration_steps.h"
#include "text/code_page.h"
#include "tests/support/registry_fixture.h"
#ifdef _WIN32
#include <windows.h>
#endif

namespace qz {
namespace {

using Messages = std::vector<std::string>;
using Verbs = std::map<std::string, std::string>;  // verb name -> its command

const char kShellPrefix[] = "Orvantis Language\\shell\\";
const char kNative[] = "";
const char kWow[] = "Wow6432Node\\";

std::string RegEscaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}

// An installed system version with its bin directory.
std::string System(const char* view, const std::string& version, const std::string& bin) {
    return "[HKEY_LOCAL_MACHINE\\SOFTWARE\\" + std::string(view) + "Corvalen\\ZUREDORE\\" + version +
           "\\Dir]\n\"Bin\"=\"" + RegEscaped(bin) + "\"\n";
}
// The product registered under a version.
std::string Product(const char* view, const std::string& version) {
    return "[HKEY_LOCAL_MACHINE\\SOFTWARE\\" + std::string(view) + "Corvalen\\Orvantis\\" + version + "]\n";
}
std::string Installed(const char* view, const std::string& version, const std::string& bin) {
    return System(view, version, bin) + Product(view, version);
}

std::string Command(const std::string& executablePath) { return "\"" + executablePath + "\" /ovx \"%1\""; }

struct ShellCase {
    std::string name;
    std::string seed;
    Verbs expected;
};
void PrintTo(const ShellCase& c, std::ostream* os) { *os << c.name; }

const std::string kV12Bin = "C:\\Program Files\\Corvalen\\ZURedore V12\\bin";
const std::string kV12Command = Command(kV12Bin + "\\Tessaryn.exe");

std::string BinaryBin(const std::string& version, const std::string& bin) {
    std::string hex;
    for (char c : bin) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%02x", static_cast<unsigned char>(c));
        hex += (hex.empty() ? "" : ",") + std::string(byte);
    }
    return "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvalen\\ZUREDORE\\" + version + "\\Dir]\n\"Bin\"=hex:" + hex +
           "\n" + Product(kNative, version);
}

// A Bin stored as an expandable text (REG_EXPAND_SZ), in the hex(2) form of a 5.00 .reg file.
std::string ExpandableBin(const std::string& version, const std::string& bin) {
    std::string hex;
    for (char c : bin + '\0') {
        char unit[8];
        std::snprintf(unit, sizeof unit, "%02x,00", static_cast<unsigned char>(c));
        hex += (hex.empty() ? "" : ",") + std::string(unit);
    }
    return "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvalen\\ZUREDORE\\" + version + "\\Dir]\n\"Bin\"=hex(2):" + hex +
           "\n" + Product(kNative, version);
}

// Sets an environment variable for the test's duration.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : name_(name) { Set(value); }
    ~ScopedVariable() { Set(nullptr); }

private:
    void Set(const char* value) {
#ifdef _WIN32
        SetEnvironmentVariableA(name_, value);
#else
        if (value != nullptr)
            setenv(name_, value, 1);
        else
            unsetenv(name_);
#endif
    }
    const char* name_;
};

// A Bin text of exactly `length` characters that contains "ZURedore V5\".
std::string BinOfLength(std::size_t length) {
    const std::string head = "C:\\ZURedore V5\\";
    return head + std::string(length - head.size(), 'b');
}

const std::vector<ShellCase> kShellCases = {
    {"NothingInstalled", "", {}},
    {"ProductWithoutSystem", Product(kNative, "38.0"), {}},
    {"SystemWithoutProduct", System(kNative, "38.0", kV12Bin), {}},
    {"NativeVersion", Installed(kNative, "38.0", kV12Bin), {{"Open Orvantis V12", kV12Command}}},
    {"BinEndingInBackslash",
     Installed(kNative, "37.0", "C:\\Corvalen\\ZURedore V11\\bin\\"),
     {{"Open Orvantis V11", Command("C:\\Corvalen\\ZURedore V11\\bin\\Tessaryn.exe")}}},
    {"VersionTheSystemLacks",
     Installed(kNative, "38.0", kV12Bin) + Product(kNative, "37.0"),
     {{"Open Orvantis V12", kV12Command}}},
    {"CurVerSkipped",
     Installed(kNative, "CurVer", "C:\\ZURedore V10\\bin") + Installed(kNative, "38.0", kV12Bin),
     {{"Open Orvantis V12", kV12Command}}},
    {"CurverInOtherCaseIsAVersion",
     Installed(kNative, "curver", "C:\\ZURedore V10\\bin"),
     {{"Open Orvantis V10", Command("C:\\ZURedore V10\\bin\\Tessaryn.exe")}}},
    {"NoDirKey", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvalen\\ZUREDORE\\37.0]\n" + Product(kNative, "37.0"), {}},
    {"BinWithoutSystemName", Installed(kNative, "37.0", "D:\\Modelling\\bin"), {}},
    {"SystemNameInOtherCase", Installed(kNative, "37.0", "C:\\zuredore V11\\bin"), {}},
    {"EmptyBin", Installed(kNative, "37.0", ""), {}},
    {"NoSpaceAfterSystemName",
     Installed(kNative, "37.0", "C:\\ZURedore\\bin"),
     {{"Open Orvantis ", Command("C:\\ZURedore\\bin\\Tessaryn.exe")}}},
    {"NoBackslashAfterTheSpace",
     Installed(kNative, "37.0", "C:\\ZURedore V11"),
     {{"Open Orvantis ", Command("C:\\ZURedore V11\\Tessaryn.exe")}}},
    {"LabelUpToTheNextBackslash",
     Installed(kNative, "37.0", "C:\\Apps\\ZURedore 2024 R1\\bin"),
     {{"Open Orvantis 2024 R1", Command("C:\\Apps\\ZURedore 2024 R1\\bin\\Tessaryn.exe")}}},
    {"BinFillingTheBuffer",
     Installed(kNative, "37.0", BinOfLength(1023)),
     {{"Open Orvantis V5", Command(BinOfLength(1023) + "\\Tessaryn.exe")}}},
    {"BinOverTheBuffer", Installed(kNative, "37.0", BinOfLength(1024)), {}},
    {"BinaryBinValue",
     BinaryBin("37.0", "C:\\ZURedore V8\\bin"),
     {{"Open Orvantis V8", Command("C:\\ZURedore V8\\bin\\Tessaryn.exe")}}},
    {"ThirtyTwoBitViewOnly",
     Installed(kWow, "30.0", "C:\\Program Files (x86)\\ZURedore V9\\bin"),
     {{"Open Orvantis V9", Command("C:\\Program Files (x86)\\ZURedore V9\\bin\\Tessaryn.exe")}}},
    {"SameLabelInBothViewsNativeWins",
     Installed(kWow, "37.0", "C:\\x86\\ZURedore V11\\bin") +
         Installed(kNative, "37.0", "C:\\x64\\ZURedore V11\\bin"),
     {{"Open Orvantis V11", Command("C:\\x64\\ZURedore V11\\bin\\Tessaryn.exe")}}},
    {"BothViewsDifferentLabels",
     Installed(kWow, "30.0", "C:\\x86\\ZURedore V9\\bin") + Installed(kNative, "38.0", kV12Bin),
     {{"Open Orvantis V9", Command("C:\\x86\\ZURedore V9\\bin\\Tessaryn.exe")},
      {"Open Orvantis V12", kV12Command}}},
    // Windows-1252 has the euro sign at 0x80: the name must reach the system key as that byte.
    {"VersionNameOutsideAscii",
     Installed(kNative, "38.0\xE2\x82\xAC", "C:\\ZURedore V13\\bin"),
     {{"Open Orvantis V13", Command("C:\\ZURedore V13\\bin\\Tessaryn.exe")}}},
    // A name longer than the enumeration buffer is passed over; the next index is still visited.
    {"VersionNameOverTheBuffer",
     Installed(kNative, "1" + std::string(100, 'x'), "C:\\ZURedore V1\\bin") +
         Installed(kNative, "38.0", kV12Bin),
     {{"Open Orvantis V12", kV12Command}}},
};

class ShellOpenCommandsTest : public test::RegistryFixture {
protected:
    Verbs WrittenVerbs() const {
        Verbs verbs;
        const RegKey* shell = memory.FindKey(u"HKEY_CLASSES_ROOT\\Orvantis Language\\shell");
        if (shell == nullptr) return verbs;
        for (const RegKey& verb : shell->Subkeys()) {
            const std::string name = Utf16ToUtf8(verb.name);
            verbs[name] =
                StringValue("HKCR\\Orvantis Language\\shell\\" + name + "\\command", "").value_or("<none>");
        }
        return verbs;
    }
};

class ShellOpenCommandCases : public ShellOpenCommandsTest,
                              public ::testing::WithParamInterface<ShellCase> {};

TEST_P(ShellOpenCommandCases, WritesOneVerbPerQualifyingVersion) {
    const ShellCase& c = GetParam();
    Seed("REGEDIT4\n" + c.seed);
    RegisterShellOpenCommands(kShellPrefix);
    EXPECT_EQ(WrittenVerbs(), c.expected);
    EXPECT_EQ(reporter.messages, Messages{});
}

INSTANTIATE_TEST_SUITE_P(Cases, ShellOpenCommandCases, ::testing::ValuesIn(kShellCases),
                         [](const auto& info) { return info.param.name; });

TEST_F(ShellOpenCommandsTest, AVersionWhoseNameCannotBeEnumeratedIsSkippedAndTheNextOneVisited) {
    Seed("REGEDIT4\n" + Installed(kNative, "37.0", "C:\\ZURedore V11\\bin") +
         Installed(kNative, "38.0", kV12Bin));
    registry.Fail(RegOp::EnumKey, "HKLM\\SOFTWARE\\Corvalen\\Orvantis").OnCall(1);
    RegisterShellOpenCommands(kShellPrefix);
    EXPECT_EQ(WrittenVerbs(), (Verbs{{"Open Orvantis V12", kV12Command}}));
    EXPECT_EQ(reporter.messages, Messages{});
}

TEST_F(ShellOpenCommandsTest, AVerbKeyThatCannotBeCreatedIsPassedOverSilently) {
    Seed("REGEDIT4\n" + Installed(kNative, "37.0", "C:\\ZURedore V11\\bin") +
         Installed(kNative, "38.0", kV12Bin));
    registry.Fail(RegOp::CreateKey, "HKCR\\Orvantis Language\\shell\\Open Orvantis V11\\command");
    RegisterShellOpenCommands(kShellPrefix);
    EXPECT_EQ(WrittenVerbs(), (Verbs{{"Open Orvantis V12", kV12Command}}));
    EXPECT_EQ(reporter.messages, Messages{});
}

TEST_F(ShellOpenCommandsTest, ACommandThatCannotBeWrittenIsReportedAndTheLoopGoesOn) {
    Seed("REGEDIT4\n" + Installed(kNative, "37.0", "C:\\ZURedore V11\\bin") +
         Installed(kNative, "38.0", kV12Bin));
    registry.Fail(RegOp::SetValue, "HKCR\\Orvantis Language\\shell\\Open Orvantis V11\\command");
    RegisterShellOpenCommands(kShellPrefix);
    EXPECT_EQ(WrittenVerbs(), (Verbs{{"Open Orvantis V11", "<none>"}, {"Open Orvantis V12", kV12Command}}));
    EXPECT_EQ(reporter.messages, Messages{"Unable to create shell document registry entry"});
}

TEST_F(ShellOpenCommandsTest, AProductKeyWithOneVersionIsEnumeratedOnce) {
    Seed("REGEDIT4\n" + Installed(kNative, "38.0", kV12Bin));
    RegisterShellOpenCommands(kShellPrefix);
    EXPECT_EQ(registry.CallsOf(RegOp::EnumKey),
              std::vector<std::string>{"HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvalen\\Orvantis"});
    EXPECT_EQ(WrittenVerbs(), (Verbs{{"Open Orvantis V12", kV12Command}}));
}

// The command value is a plain string that nothing expands later: an expandable
// Bin is expanded as Windows expands it before the label is taken, the path
// checked and the command written; one that names a variable the process does
// not have is no directory.
TEST_F(ShellOpenCommandsTest, AnExpandableBinIsExpandedBeforeItIsUsed) {
    const ScopedVariable root("QZ_TEST_MODELLING_ROOT", "D:\\Modelling Apps\\ZURedore V11");
    const ScopedVariable quoted("QZ_TEST_QUOTED_ROOT", "C:\\Apps\" /x \"\\ZURedore V10");
    // hex(2) data is UTF-16 in a 5.00 file (in a REGEDIT4 file it is in the code page).
    Seed("Windows Registry Editor Version 5.00\n" + ExpandableBin("37.0", "%QZ_TEST_MODELLING_ROOT%\\bin") +
         ExpandableBin("36.0", "%QZ_TEST_NOT_SET%\\ZURedore V9\\bin") +
         ExpandableBin("35.0", "%QZ_TEST_QUOTED_ROOT%\\bin"));
    RegisterShellOpenCommands(kShellPrefix);
    EXPECT_EQ(WrittenVerbs(),
              (Verbs{{"Open Orvantis V11", Command("D:\\Modelling Apps\\ZURedore V11\\bin\\Tessaryn.exe")}}));
    EXPECT_EQ(reporter.messages,
              (Messages{"The value Bin of an installation of the modelling system cannot be a directory path: "
                        "C:\\Apps\" /x \"\\ZURedore V10\\bin",
                        "The value Bin of an installation of the modelling system cannot be a directory path: "
                        "%QZ_TEST_NOT_SET%\\ZURedore V9\\bin"}));
}

}  // namespace
}  // namespace qz
