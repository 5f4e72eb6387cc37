// cmake/wixl-package.sh, the step that writes into a wixl-built package what
// wixl 0.101 drops or cannot read: permanent components and component
// conditions land in the Component table; WiX that wixl would build wrongly is
// refused. Runs Debian's wixl and msiinfo (scripts/setup-debian.sh installs them).
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

    // Builds a package from a product whose components are given.
    CommandRun Package(const std::string& components, const std::string& refs) {
        const std::string wxs =
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
            "<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">\n"
            "  <Product Id=\"{0F1E2D3C-4B5A-5968-8776-A5B4C3D2E1F0}\" Name=\"T\" Language=\"1033\" Version=\"1.0.0\" "
            "Manufacturer=\"T\" UpgradeCode=\"{1F1E2D3C-4B5A-5968-8776-A5B4C3D2E1F0}\">\n"
            "    <Package InstallerVersion=\"500\" Compressed=\"yes\" InstallScope=\"perMachine\"/>\n"
            "    <Media Id=\"1\" Cabinet=\"t.cab\" EmbedCab=\"yes\"/>\n"
            "    <Directory Id=\"TARGETDIR\" Name=\"SourceDir\"><Directory Id=\"ProgramFiles64Folder\">\n"
            "      <Directory Id=\"INSTALLFOLDER\" Name=\"T\">\n"
            "        <Component Id=\"Payload\" Guid=\"{2F1E2D3C-4B5A-5968-8776-A5B4C3D2E1F0}\" Win64=\"yes\">\n"
            "          <File Id=\"payload.dll\" Name=\"payload.dll\" Source=\"payload.dll\" KeyPath=\"yes\"/>\n"
            "        </Component>\n" +
            components +
            "      </Directory>\n"
            "    </Directory></Directory>\n"
            "    <Feature Id=\"F\" Level=\"1\"><ComponentRef Id=\"Payload\"/>" +
            refs +
            "</Feature>\n"
            "  </Product>\n"
            "</Wix>\n";
        std::ofstream(scratch_ + "/t.wxs") << wxs;
        return Shell("'" + std::string(QZ_SOURCE_DIR) + "/cmake/wixl-package.sh' '" + scratch_ + "/t.wxs' '" +
                     scratch_ + "' '" + msi() + "'");
    }

    // The Component table's row of a component, as msiinfo exports it (tab-separated).
    std::vector<std::string> ComponentRow(const std::string& id) {
        const CommandRun run = Shell("msiinfo export '" + msi() + "' Component");
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

const char kKey[] = "Root=\"HKLM\" Key=\"Software\\Corvalen\\T\"";

std::string Component(const std::string& id, const std::string& guidDigit, const std::string& extraAttributes,
                      const std::string& body) {
    return "        <Component Id=\"" + id + "\" Guid=\"{3F1E2D3C-4B5A-5968-8776-A5B4C3D2E1F" + guidDigit +
           "}\" Win64=\"yes\"" + extraAttributes + ">\n" + body + "        </Component>\n";
}

TEST_F(WixlPackage, WritesPermanentComponentsAndConditionsIntoThePackage) {
    const std::string components =
        Component("Kept", "1", " Permanent=\"yes\"",
                  std::string("          <RegistryValue ") + kKey +
                      " Name=\"a\" Type=\"string\" Value=\"1\" KeyPath=\"yes\"/>\n") +
        Component("Conditioned", "2", "",
                  std::string("          <Condition>NOT Installed OR (VersionNT64 &gt;= 601 AND X~=&quot;a&amp;b&quot;)"
                              "</Condition>\n          <RegistryValue ") +
                      kKey + " Name=\"b\" Type=\"string\" Value=\"2\" KeyPath=\"yes\"/>\n") +
        Component("Plain", "3", "",
                  std::string("          <RegistryValue ") + kKey +
                      " Name=\"c\" Type=\"integer\" Value=\"3\" KeyPath=\"yes\"/>\n");
    const CommandRun run = Package(components, "<ComponentRef Id=\"Kept\"/><ComponentRef Id=\"Conditioned\"/>"
                                        "<ComponentRef Id=\"Plain\"/>");
    ASSERT_EQ(run.exitCode, 0) << run.out;

    // Columns: Component, ComponentId, Directory_, Attributes, Condition, KeyPath. 0x104 is a
    // 64-bit component with a registry key path; 0x10 makes it permanent.
    const std::vector<std::string> kept = ComponentRow("Kept");
    ASSERT_GE(kept.size(), 5u) << run.out;
    EXPECT_EQ(kept[3], "276");
    EXPECT_EQ(kept[4], "");
    const std::vector<std::string> conditioned = ComponentRow("Conditioned");
    ASSERT_GE(conditioned.size(), 5u);
    EXPECT_EQ(conditioned[3], "260");
    EXPECT_EQ(conditioned[4], "NOT Installed OR (VersionNT64 >= 601 AND X~=\"a&b\")");
    const std::vector<std::string> plain = ComponentRow("Plain");
    ASSERT_GE(plain.size(), 5u);
    EXPECT_EQ(plain[3], "260");
    EXPECT_EQ(plain[4], "");
    // wixl's note about the attribute it ignores is not passed on: the step took care of it.
    EXPECT_EQ(run.out.find("Permanent"), std::string::npos) << run.out;
}

TEST_F(WixlPackage, RefusesWhatWixlWouldBuildWronglyAndWritesNoPackage) {
    const std::string rows[] = {
        std::string("<RegistryValue ") + kKey + " Name=\"e\" Type=\"expandable\" Value=\"%A%\" KeyPath=\"yes\"/>",
        std::string("<RegistryValue ") + kKey + " Name=\"b\" Type=\"binary\" Value=\"0A0B\" KeyPath=\"yes\"/>",
        std::string("<RegistryValue ") + kKey +
            " Name=\"m\" Type=\"multiString\" KeyPath=\"yes\"><MultiStringValue>a</MultiStringValue></RegistryValue>",
        std::string("<RemoveRegistryKey Action=\"removeOnInstall\" ") + kKey + "/>",
        // A condition that SQL could not carry.
        std::string("<Condition>X='a'</Condition><RegistryValue ") + kKey + " Name=\"q\" Type=\"string\" Value=\"1\"/>",
    };
    for (const std::string& row : rows) {
        const std::string body = row.rfind("<Condition>", 0) == 0
                                     ? "          " + row.substr(0, row.find("</Condition>") + 12) + "\n          " +
                                           row.substr(row.find("</Condition>") + 12) + "\n"
                                     : "          " + row + "\n";
        const CommandRun run = Package(Component("Row", "4", "", body), "<ComponentRef Id=\"Row\"/>");
        EXPECT_NE(run.exitCode, 0) << row;
        EXPECT_NE(run.out.find("wixl-package.sh: "), std::string::npos) << row << "\n" << run.out;
        EXPECT_NE(access(msi().c_str(), F_OK), 0) << row << ": a package was written";
    }
}

}  // namespace
