// cmake/wixl-package.sh, the step that writes into a wixl-built package what
// wixl 0.101 leaves out: the File table's versions and the empty tables a custom
// action adds rows to. Runs Debian's wixl and msiinfo (scripts/setup-debian.sh
// installs them).
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/folder_files.h"

namespace {

struct CommandRun {
    int exitCode = -1;
    std::string out;
};

class WixlPackage : public ::testing::Test {
protected:
    void SetUp() override { std::ofstream(scratch_ + "/payload.dll") << "not a real module"; }

    CommandRun Shell(const std::string& command) {
        const std::string out = scratch_ + "/out.txt";
        const int status = std::system((command + " >'" + out + "' 2>&1").c_str());
        CommandRun run;
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = qz::test::ReadBytes(out);
        return run;
    }

    // Builds the one-file package with the step's extra arguments (createFolder: its component
    // creates its folder, a CreateFolder row).
    CommandRun Package(const std::string& arguments, bool createFolder = false) {
        const std::string wxs =
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
            "<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">\n"
            "  <Product Id=\"{0F1E2D3C-4B5A-5968-8776-A5B4C3D2E1F0}\" Name=\"T\" Language=\"1033\" Version=\"1.0.0\" "
            "Manufacturer=\"T\" UpgradeCode=\"{1F1E2D3C-4B5A-5968-8776-A5B4C3D2E1F0}\">\n"
            "    <Package InstallerVersion=\"500\" Compressed=\"yes\" InstallScope=\"perMachine\"/>\n"
            "    <Media Id=\"1\" Cabinet=\"t.cab\" EmbedCab=\"yes\"/>\n"
            "    <Directory Id=\"TARGETDIR\" Name=\"SourceDir\"><Directory Id=\"ProgramFiles64Folder\">\n"
            "      <Directory Id=\"INSTALLFOLDER\" Name=\"T\">\n"
            "        <Component Id=\"Payload\" Guid=\"{2F1E2D3C-4B5A-5968-8776-A5B4C3D2E1F0}\" Win64=\"yes\">\n" +
            std::string(createFolder ? "          <CreateFolder/>\n" : "") +
            "          <File Id=\"payload.dll\" Name=\"payload.dll\" Source=\"payload.dll\" KeyPath=\"yes\"/>\n"
            "        </Component>\n"
            "      </Directory>\n"
            "    </Directory></Directory>\n"
            "    <Feature Id=\"F\" Level=\"1\"><ComponentRef Id=\"Payload\"/></Feature>\n"
            "  </Product>\n"
            "</Wix>\n";
        std::ofstream(scratch_ + "/t.wxs") << wxs;
        return Shell("'" + std::string(QZ_SOURCE_DIR) + "/cmake/wixl-package.sh' " + arguments + " '" + scratch_ +
                     "/t.wxs' '" + scratch_ + "' '" + msi() + "'");
    }

    // One row of a table, as msiinfo exports it (tab-separated), by its first column.
    std::vector<std::string> Row(const std::string& table, const std::string& id) {
        const CommandRun run = Shell("msiinfo export '" + msi() + "' " + table);
        std::istringstream rows(run.out);
        for (std::string line; std::getline(rows, line);) {
            std::vector<std::string> fields;
            std::istringstream split(line);
            for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
            if (!fields.empty() && fields[0] == id) return fields;
        }
        return {};
    }

    std::string msi() const { return scratch_ + "/out/t.msi"; }

    const qz::test::ScratchFolder scratchFolder_{"wixl-package-test."};
    const std::string scratch_ = scratchFolder_.path();
};

// The file's version from its version block goes into the File table (columns: File, Component_,
// FileName, FileSize, Version, ...); the tables the custom action writes to are there, empty.
TEST_F(WixlPackage, WritesTheFileVersionAndTheEmptyRegistryTables) {
    const CommandRun run = Package("--file-version payload.dll=38.0.0.380");
    ASSERT_EQ(run.exitCode, 0) << run.out;
    const std::vector<std::string> file = Row("File", "payload.dll");
    ASSERT_GE(file.size(), 5u) << run.out;
    EXPECT_EQ(file[4], "38.0.0.380");
    const CommandRun tables = Shell("msiinfo tables '" + msi() + "'");
    for (const char* table : {"\nRegistry\n", "\nRemoveRegistry\n"})
        EXPECT_NE(("\n" + tables.out).find(table), std::string::npos) << tables.out;
}

// A folder the package creates gets the DACL given, in the MsiLockPermissionsEx table wixl lacks
// (columns: MsiLockPermissionsEx, LockObject, Table, SDDLText, Condition).
TEST_F(WixlPackage, LocksACreatedFolderWithItsDacl) {
    const CommandRun run = Package("--lock-folder 'INSTALLFOLDER=D:PAI(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)'", true);
    ASSERT_EQ(run.exitCode, 0) << run.out;
    const std::vector<std::string> lock = Row("MsiLockPermissionsEx", "LockINSTALLFOLDER");
    ASSERT_GE(lock.size(), 4u) << run.out;
    EXPECT_EQ(lock[1], "INSTALLFOLDER");
    EXPECT_EQ(lock[2], "CreateFolder");
    EXPECT_EQ(lock[3], "D:PAI(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)");
}

TEST_F(WixlPackage, RefusesAVersionItCannotWriteAndWritesNoPackage) {
    struct Case {
        const char* argument;
        const char* message;
    };
    const Case cases[] = {
        {"--file-version other.dll=1.0.0.0", "wixl-package.sh: the package has no file other.dll"},
        {"--file-version payload.dll=38.0", "wixl-package.sh: payload.dll: '38.0' is not a file version (a.b.c.d)"},
        {"--file-version \"payload.dll=1.0.0.0' OR '1'='1\"", "is not a file version"},
        {"--lock-folder 'INSTALLFOLDER=D:P(A;;FA;;;SY)'", "the package creates no folder INSTALLFOLDER"},
        {"--lock-folder \"INSTALLFOLDER=D:P(A;;FA;;;SY)') OR ('1'='1\"", "is not a DACL in SDDL"},
    };
    for (const Case& c : cases) {
        const CommandRun run = Package(c.argument);
        EXPECT_NE(run.exitCode, 0) << c.argument;
        EXPECT_NE(run.out.find(c.message), std::string::npos) << c.argument << "\n" << run.out;
        EXPECT_NE(access(msi().c_str(), F_OK), 0) << c.argument << ": a package was written";
    }
}

}  // namespace
