// The event source "Orvantis" as the MSI package registers it, under Wine's
// msiexec: the Application log's key names the installed message file, which
// renders the pass's events into the box's texts; two products that carry the
// source (two versions side by side) share it, and it goes with the last of
// them. The second product is the package with everything but the event source
// taken out and its own product and upgrade codes (made by the build,
// cmake/release.cmake), as a package of another version carries the source.
#include <gtest/gtest.h>

#include <windows.h>

#include <iostream>
#include <string>

#include "registration/report_messages.h"
#include "tests/support/event_text.h"
#include "tests/support/module_e2e.h"
#include "tests/support/test_services.h"
#include "tests/support/windows_commands.h"

namespace qz::test {
namespace {

const char kSourceKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Orvantis";
const char kMessageFile[] = "C:\\Program Files\\Common Files\\Corvalen\\Orvantis Events\\qzevents.dll";

int Msiexec(const std::string& action, const std::string& package) {
    const std::string log = ScratchFilePath("msiexec", ".log");
    const int exitCode =
        RunWindowsCommand("msiexec " + action + " \"" + WindowsPath(package) + "\" /qn /l*v \"" + log + "\"");
    if (exitCode != 0) {
        const std::string text = ReadWholeFile(log);
        std::cout << "msiexec " << action << " " << package << " exited with " << exitCode << "; its log ends:\n"
                  << text.substr(text.size() > 3000 ? text.size() - 3000 : 0) << "\n";
    }
    DeleteFileA(log.c_str());
    return exitCode;
}

struct SourceKey {
    bool exists = false;
    std::string messageFile;
    DWORD messageFileType = REG_NONE;
    DWORD typesSupported = 0;
    DWORD typesSupportedType = REG_NONE;
};

SourceKey ReadSourceKey() {
    SourceKey result;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSourceKey, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return result;
    result.exists = true;
    char text[1024] = {};
    DWORD size = sizeof text - 1;
    if (RegQueryValueExA(key, "EventMessageFile", nullptr, &result.messageFileType, reinterpret_cast<BYTE*>(text),
                         &size) == ERROR_SUCCESS)
        result.messageFile = text;
    size = sizeof result.typesSupported;
    RegQueryValueExA(key, "TypesSupported", nullptr, &result.typesSupportedType,
                     reinterpret_cast<BYTE*>(&result.typesSupported), &size);
    RegCloseKey(key);
    return result;
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class EventSourceE2e : public ::testing::Test {
protected:
    void SetUp() override {
        ResetProductRegistry();
        ImportRegFixture("tests/e2e/fixtures/installation.reg");
    }
};

TEST_F(EventSourceE2e, ThePackageRegistersTheSourceWithAMessageFileThatRendersTheBoxTexts) {
    ASSERT_EQ(Msiexec("/i", QZ_MSI_PACKAGE), 0);
    const SourceKey source = ReadSourceKey();
    ASSERT_TRUE(source.exists) << "HKLM\\" << kSourceKey;
    EXPECT_EQ(source.messageFile, kMessageFile);
    EXPECT_EQ(source.messageFileType, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(source.typesSupported, 7u);  // error, warning and information events
    EXPECT_EQ(source.typesSupportedType, static_cast<DWORD>(REG_DWORD));
    ASSERT_TRUE(FileExists(source.messageFile));

    // Every message renders through the registered file as the box shows it.
    std::size_t count = 0;
    const ReportMessageEntry* catalogue = ReportMessageCatalogue(count);
    const std::vector<std::string> inserts = {"HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Dir", "help",
                                              "C:\\100% \xC3\xBCnic\xC3\xB6" "de"};
    for (std::size_t i = 0; i < count; ++i) {
        SCOPED_TRACE(catalogue[i].name);
        const ReportedMessage report = MakeReportedMessage(static_cast<ReportMessage>(catalogue[i].number), inserts);
        const RenderedEvent rendered = RenderEvent(source.messageFile, catalogue[i].number, inserts);
        ASSERT_TRUE(rendered.found) << rendered.error;
        EXPECT_EQ(rendered.text, report.text);
    }
    EXPECT_EQ(RenderEvent(source.messageFile, 8, {inserts[0], "help"}).text, MissingInstallationBox("help"));

    ASSERT_EQ(Msiexec("/x", QZ_MSI_PACKAGE), 0);
    const SourceKey after = ReadSourceKey();
    EXPECT_TRUE(after.messageFile.empty()) << "EventMessageFile stays after the removal: " << after.messageFile;
    EXPECT_FALSE(FileExists(kMessageFile));
}

TEST_F(EventSourceE2e, TwoProductsShareTheSourceAndItGoesWithTheLastOfThem) {
    ASSERT_EQ(Msiexec("/i", QZ_MSI_PACKAGE), 0);
    ASSERT_EQ(Msiexec("/i", QZ_EVENT_SOURCE_OTHER_PACKAGE), 0);
    EXPECT_EQ(ReadSourceKey().messageFile, kMessageFile);

    // The first product goes: the other still has the source.
    ASSERT_EQ(Msiexec("/x", QZ_MSI_PACKAGE), 0);
    EXPECT_EQ(ReadSourceKey().messageFile, kMessageFile) << "the source went with the first of two products";
    EXPECT_TRUE(FileExists(kMessageFile));

    // The last one goes: so does the source.
    ASSERT_EQ(Msiexec("/x", QZ_EVENT_SOURCE_OTHER_PACKAGE), 0);
    EXPECT_TRUE(ReadSourceKey().messageFile.empty());
    EXPECT_FALSE(FileExists(kMessageFile));
}

}  // namespace
}  // namespace qz::test
