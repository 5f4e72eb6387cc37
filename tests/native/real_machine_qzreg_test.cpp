// The registry states real machines have (the table in
// tests/support/real_machine_states.h), natively: each state imported into a
// registry folder of the test's own by qzreg --import (the .reg fixtures, and
// a 5.00 file made from the deep chains and typed values the suite under Wine
// creates with the wide calls), registered and unregistered by qzreg with
// libqzproduct.so, each pass in a new process. The boxes are the
// "Registration Error:" lines on qzreg's stderr; keys are read back from the
// saved hive files.
#include <gtest/gtest.h>

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "registry/reg_file/reg_file.h"
#include "registry/changes/registry_data.h"
#include "registry/folder/registry_folder.h"
#include "tests/support/real_machine_states.h"
#include "text/code_page.h"
#include "tests/support/folder_files.h"
#include "text/utf16_data.h"

namespace qz::test {
namespace {

constexpr int kPassFailed = 5;
const char kBoxPrefix[] = "Registration Error: ";

std::string FixturePath(const std::string& name) {
    return std::string(QZ_SOURCE_DIR) + "/" + kRealMachineFixtures + name;
}

// A fixture as the UTF-8 text it is written in, LF line ends.
std::string FixtureText(const std::string& name) {
    std::string text;
    for (char c : ReadBytes(FixturePath(name)))
        if (c != '\r') text += c;
    return text;
}

std::string RealPath(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return path;
    std::string result(resolved);
    std::free(resolved);
    return result;
}

struct QzregRun {
    int exitCode = -1;
    std::string err;
    std::vector<std::string> boxes;  // the "Registration Error:" lines, without the prefix
};

// What a test reads back from the registry folder: a copy of its registry as saved.
class FolderProbe final : public RegistryProbe {
public:
    explicit FolderProbe(const std::string& folder) {
        std::string error;
        std::unique_ptr<RegistryFolder> open = RegistryFolder::Open(folder, error);
        EXPECT_NE(open, nullptr) << error;
        if (open) registry_ = open->registry();
    }

    bool KeyExists(const std::string& key) override { return Find(key) != nullptr; }

    bool ValueExists(const std::string& key, const std::string& name) override {
        const RegKey* found = Find(key);
        return found != nullptr && found->FindValue(Utf8ToUtf16(name)) != nullptr;
    }

    std::optional<std::string> Text(const std::string& key, const std::string& name) override {
        const RegKey* found = Find(key);
        const RegValue* value = found != nullptr ? found->FindValue(Utf8ToUtf16(name)) : nullptr;
        if (value == nullptr || value->type != REG_SZ) return std::nullopt;
        return Utf16ToUtf8(StringOfData(value->data));
    }

    std::string Export(const std::string& key) override {
        const RegKey* found = Find(key);
        if (found == nullptr) return std::string();
        RegWriteOptions options;
        options.newline = u"\n";
        std::u16string text = RegFileHeader(options);
        AppendRegKey(text, Utf8ToUtf16(key), *found, options);
        return Utf16ToUtf8(text);
    }

private:
    const RegKey* Find(const std::string& key) const { return registry_.FindKey(Utf8ToUtf16(key)); }

    MemoryRegistry registry_;
};

class RealMachineThroughQzreg : public ::testing::TestWithParam<RealMachineState> {
protected:
    // The registry folder qzreg is told to use exists, as one a user names must.
    void SetUp() override { ASSERT_EQ(mkdir(folder_.c_str(), 0755), 0) << folder_; }

    // A fixture as a 5.00 file (UTF-16LE with a BOM, CRLF), as qzreg --import and regedit take it.
    std::string Utf16Fixture(const std::string& name) {
        std::string crlf;
        for (char c : FixtureText(name)) {
            if (c == '\n') crlf += '\r';
            crlf += c;
        }
        const std::string path = scratch_ + "/" + name;
        WriteBytes(path, EncodeUtf16LeWithBom(Utf8ToUtf16(crlf)));
        return path;
    }

    // What the suite under Wine makes with the wide calls, as a 5.00 file for
    // qzreg --import: one section for the deepest key of each chain (the import
    // creates its parents), one for each value. "" when there is nothing.
    std::string GeneratedFixture(const std::string& name, const std::vector<KeyChain>& chains,
                                 const std::vector<SeedValue>& values) {
        if (chains.empty() && values.empty()) return std::string();
        std::u16string text = u"Windows Registry Editor Version 5.00\r\n\r\n";
        for (const KeyChain& chain : chains) {
            std::u16string path = Utf8ToUtf16(chain.parent);
            for (const std::u16string& component : chain.names) path += u"\\" + component;
            text += u"[" + path + u"]\r\n" + FormatRegValue(RegValue{u"v", REG_SZ, Utf16Data(u"leaf")}) + u"\r\n\r\n";
        }
        for (const SeedValue& value : values) {
            text += u"[" + Utf8ToUtf16(value.key) + u"]\r\n" +
                    FormatRegValue(RegValue{Utf8ToUtf16(value.name), value.type, value.data}) + u"\r\n\r\n";
        }
        const std::string path = scratch_ + "/" + name;
        WriteBytes(path, EncodeUtf16LeWithBom(text));
        return path;
    }

    // --import options for a fixture (or null) and a generated file (or "").
    std::string Imports(const char* fixture, const std::string& generated) {
        std::string options;
        if (fixture != nullptr) options += " --import '" + Utf16Fixture(fixture) + "'";
        if (!generated.empty()) options += " --import '" + generated + "'";
        return options;
    }

    // qzreg with its options before the subcommand; ProgramFiles as Windows has it.
    QzregRun Qzreg(const std::string& options, const std::string& subcommand) {
        const std::string out = scratch_ + "/out.txt", err = scratch_ + "/err.txt";
        const std::string command = "ProgramFiles='C:\\Program Files' " + std::string(QZ_BINARY_DIR) +
                                    "/bin/qzreg --registry '" + folder_ + "' " + options + " " + subcommand +
                                    " </dev/null >'" + out + "' 2>'" + err + "'";
        const int status = std::system(command.c_str());
        QzregRun run;
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.err = ReadBytes(err);
        std::size_t start = 0;
        while (start < run.err.size()) {
            std::size_t end = run.err.find('\n', start);
            if (end == std::string::npos) end = run.err.size();
            const std::string line = run.err.substr(start, end - start);
            if (line.compare(0, sizeof kBoxPrefix - 1, kBoxPrefix) == 0) run.boxes.push_back(line.substr(sizeof kBoxPrefix - 1));
            start = end + 1;
        }
        return run;
    }

    // The library copied into a folder of that name (UTF-8 bytes as they are); its real path.
    std::string ModuleCopyIn(const std::string& folderName) {
        const std::string folder = scratch_ + "/" + folderName;
        EXPECT_EQ(mkdir(folder.c_str(), 0755), 0) << folder;
        const std::string target = folder + "/libqzproduct.so";
        std::error_code error;
        EXPECT_TRUE(std::filesystem::copy_file(std::string(QZ_BINARY_DIR) + "/bin/libqzproduct.so", target, error))
            << error.message();
        return RealPath(target);
    }

    const ScratchFolder scratchFolder_{"qzreg-states."};
    const std::string scratch_ = scratchFolder_.path();
    const std::string folder_ = scratch_ + "/registry";
};

TEST_P(RealMachineThroughQzreg, RegistersAndUnregistersExactlyWhatIsOurs) {
    const RealMachineState& state = GetParam();
    std::string modulePath = RealPath(std::string(QZ_BINARY_DIR) + "/bin/libqzproduct.so");
    std::string moduleOption;
    if (state.moduleFolder != nullptr) {
        modulePath = ModuleCopyIn(state.moduleFolder);
        moduleOption = " --module '" + modulePath + "'";
    }
    const std::string seed = Imports(kRealMachineInstallation, "") +
                             Imports(state.seed, GeneratedFixture("seed.reg", state.seedChains, state.seedValues));
    const QzregRun registration = Qzreg("-q" + seed + moduleOption, "register");
    EXPECT_EQ(registration.exitCode, state.boxes.empty() ? 0 : kPassFailed) << registration.err;
    {
        FolderProbe probe(folder_);
        CheckRegistration(state, registration.boxes, probe, modulePath);
    }

    const std::string after =
        Imports(state.afterRegistration, GeneratedFixture("after.reg", state.afterRegistrationChains, {}));
    const QzregRun unregistration = Qzreg("-q" + after + moduleOption, "unregister");
    ASSERT_EQ(unregistration.exitCode, 0) << unregistration.err;
    EXPECT_EQ(unregistration.boxes, std::vector<std::string>{});
    FolderProbe probe(folder_);
    CheckUnregistration(state, probe, state.kept != nullptr ? FixtureText(state.kept) : std::string());
}

INSTANTIATE_TEST_SUITE_P(States, RealMachineThroughQzreg, ::testing::ValuesIn(RealMachineStates()),
                         [](const ::testing::TestParamInfo<RealMachineState>& info) { return info.param.name; });

class ModulePathThroughQzreg : public RealMachineThroughQzreg {};

// The hive file itself (UTF-16LE) holds the module path exactly as the file
// system names it: UTF-8 in, the same characters out, none of them '?' or
// read as Windows-1252 (Ã¼ for ü).
TEST_F(ModulePathThroughQzreg, AUtf8ModulePathArrivesUnchangedInTheHiveFile) {
    const std::string module = ModuleCopyIn("Prod\xC3\xBC" "ct \xC3\xA9 \xD0\x9E\xD1\x80\xD0\xB2 \xE6\xA8\xA1");
    const QzregRun run = Qzreg("-q --import '" + Utf16Fixture(kRealMachineInstallation) + "' --module '" + module + "'",
                               "register");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string hive = ReadBytes(folder_ + "/HKEY_LOCAL_MACHINE.reg");
    std::u16string line = u"\"DLL\"=\"" + Utf8ToUtf16(module) + u"\"\r\n";
    const std::string encoded = EncodeUtf16LeWithBom(line).substr(2);
    EXPECT_NE(hive.find(encoded), std::string::npos) << module;
    EXPECT_NE(hive.find(EncodeUtf16LeWithBom(u"Prod\u00FCct \u00E9 \u041E\u0440\u0432 \u6A21").substr(2)),
              std::string::npos);
}

// A file name that is not UTF-8 (a Latin-1 byte) cannot be carried into the
// registry unchanged: the pass says so and writes nothing.
TEST_F(ModulePathThroughQzreg, AModulePathThatIsNotUtf8FailsThePassAndWritesNothing) {
    const std::string module = ModuleCopyIn("Prod\xFC" "ct");
    const QzregRun run = Qzreg("-q --import '" + Utf16Fixture(kRealMachineInstallation) + "' --module '" + module + "'",
                               "register");
    EXPECT_EQ(run.exitCode, kPassFailed);
    const std::string shown = scratch_ + "/Prod\xEF\xBF\xBD" "ct/libqzproduct.so";  // the byte shown as U+FFFD
    EXPECT_EQ(run.boxes, std::vector<std::string>{"Unable to represent the module path in the registry: " + shown})
        << run.err;
    FolderProbe probe(folder_);
    EXPECT_FALSE(probe.KeyExists("HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis"));
    EXPECT_FALSE(probe.KeyExists("HKEY_CLASSES_ROOT\\Orvantis Language"));
    EXPECT_TRUE(probe.KeyExists("HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Dir"));
}

}  // namespace
}  // namespace qz::test
