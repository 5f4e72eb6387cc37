// The shared registry helpers, run the same way against the in-memory registry
// and (under Wine) against advapi32, each behind the fault injector so that the
// order and number of registry calls can be checked.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "registration/module_state.h"
#include "registry/fault_injecting_registry.h"
#include "registry/memory_registry.h"
#include "registration/product_lookups.h"
#include "resources/resource_ids.h"
#include "tests/support/test_services.h"
#include "tests/support/narrow_registry.h"
#ifdef _WIN32
#include "registry/win32_registry.h"
#endif

namespace qz {
namespace {

enum class Kind { Memory, Advapi32 };

constexpr const char* kScratch = "Software\\QzHelpers";
constexpr const char* kDir = "Software\\Corvalen\\ZURedore\\38.0\\Dir";
constexpr const char* kOptions = "Software\\Corvalen\\ZURedore\\38.0\\Options";
constexpr const char* kCurVer = "OVX Application\\CurVer";

class RegistryHelpers : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override {
        if (GetParam() == Kind::Memory) {
            memory_ = std::make_unique<MemoryRegistry>();
            inner_ = memory_.get();
        } else {
#ifdef _WIN32
            win32_ = std::make_unique<Win32Registry>();
            inner_ = win32_.get();
#endif
        }
        registry_ = std::make_unique<FaultInjectingRegistry>(*inner_);
        CleanUp();
        ModuleServices services;
        services.registry = registry_.get();
        services.reporter = &reporter_;
        services.strings = &strings_;
        services_.emplace(services);
    }

    void TearDown() override {
        services_.reset();
        CleanUp();
        if (memory_) {
            EXPECT_EQ(memory_->OpenHandleCount(), 0u) << registry_->FormatCalls();
        }
    }

    void CleanUp() {
        for (const auto& [root, path] : {std::pair{HKEY_LOCAL_MACHINE, kScratch},
                                         std::pair{HKEY_LOCAL_MACHINE, "Software\\Corvalen"},
                                         std::pair{HKEY_CLASSES_ROOT, "OVX Application"},
                                         std::pair{HKEY_CLASSES_ROOT, "Other App"}}) {
            RemoveTree(root, path);
        }
    }

    void RemoveTree(HKEY root, const std::string& path) {
        RemoveTreeW(root, std::u16string(path.begin(), path.end()));
    }

    // Wide and relative to the parent's handle, so that a tree a test left behind
    // goes however deep it is and whatever its names.
    void RemoveTreeW(HKEY parent, const std::u16string& name) {
        HKEY key = nullptr;
        if (inner_->OpenKeyExW(parent, name.c_str(), KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
            std::vector<std::u16string> children;
            char16_t child[300];
            for (DWORD index = 0;; ++index) {
                DWORD length = 300;
                if (inner_->EnumKeyExW(key, index, child, &length) != ERROR_SUCCESS) break;
                children.emplace_back(child, length);
            }
            for (const std::u16string& c : children) RemoveTreeW(key, c);
            inner_->CloseKey(key);
        }
        (void)inner_->DeleteKeyW(parent, name.c_str());
    }

    // Creates names[0]\names[1]\... below root\path, each key from its parent's
    // handle (no path the registry sees is long), and sets a value "v" on the last.
    void CreateChain(HKEY root, const std::string& path, const std::vector<std::u16string>& names) {
        HKEY parent = nullptr;
        ASSERT_EQ(NarrowRegistry(*inner_).CreateKeyEx(root, path.c_str(), 0, KEY_ALL_ACCESS, &parent), ERROR_SUCCESS)
            << path;
        for (const std::u16string& name : names) {
            HKEY child = nullptr;
            const LONG status = inner_->CreateKeyExW(parent, name.c_str(), 0, KEY_ALL_ACCESS, &child);
            inner_->CloseKey(parent);
            ASSERT_EQ(status, ERROR_SUCCESS) << "name of " << name.size() << " characters";
            parent = child;
        }
        const std::u16string text = u"leaf";
        EXPECT_EQ(inner_->SetValueExW(parent, u"v", REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                      static_cast<DWORD>((text.size() + 1) * 2)),
                  ERROR_SUCCESS);
        inner_->CloseKey(parent);
    }

    // Direct writes and reads on the wrapped registry: not in the call log.
    void CreateKey(HKEY root, const std::string& path) {
        HKEY key = nullptr;
        ASSERT_EQ(NarrowRegistry(*inner_).CreateKeyEx(root, path.c_str(), 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS)
            << path;
        inner_->CloseKey(key);
    }

    void SetRaw(HKEY root, const std::string& path, const char* name, DWORD type, const std::string& bytes) {
        HKEY key = nullptr;
        ASSERT_EQ(NarrowRegistry(*inner_).CreateKeyEx(root, path.c_str(), 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS)
            << path;
        EXPECT_EQ(NarrowRegistry(*inner_).SetValueEx(key, name, type, reinterpret_cast<const BYTE*>(bytes.data()),
                                                     static_cast<DWORD>(bytes.size())),
                  ERROR_SUCCESS);
        inner_->CloseKey(key);
    }

    // Text given as UTF-8, stored as UTF-16 through the wide call: no code page in between.
    void SetWideText(HKEY root, const std::string& path, const char* name, DWORD type, const std::string& text) {
        std::u16string wide = Utf8ToUtf16(text);
        wide.push_back(u'\0');
        HKEY key = nullptr;
        ASSERT_EQ(NarrowRegistry(*inner_).CreateKeyEx(root, path.c_str(), 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS)
            << path;
        EXPECT_EQ(inner_->SetValueExW(key, Utf8ToUtf16(name).c_str(), type, reinterpret_cast<const BYTE*>(wide.data()),
                                      static_cast<DWORD>(wide.size() * 2)),
                  ERROR_SUCCESS);
        inner_->CloseKey(key);
    }

    void SetText(HKEY root, const std::string& path, const char* name, const std::string& text) {
        SetRaw(root, path, name, REG_SZ, std::string(text.c_str(), text.size() + 1));
    }

    bool KeyExists(HKEY root, const std::string& path) {
        HKEY key = nullptr;
        if (NarrowRegistry(*inner_).OpenKeyEx(root, path.c_str(), KEY_READ, &key) != ERROR_SUCCESS) return false;
        inner_->CloseKey(key);
        return true;
    }

    // The value as the narrow query gives it: type and bytes.
    std::optional<std::pair<DWORD, std::string>> Query(HKEY root, const std::string& path, const char* name) {
        HKEY key = nullptr;
        if (NarrowRegistry(*inner_).OpenKeyEx(root, path.c_str(), KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
        std::vector<BYTE> data(16384);
        DWORD size = static_cast<DWORD>(data.size());
        DWORD type = 0;
        const LONG status = NarrowRegistry(*inner_).QueryValueEx(key, name, &type, data.data(), &size);
        inner_->CloseKey(key);
        if (status != ERROR_SUCCESS) return std::nullopt;
        return std::pair{type, std::string(reinterpret_cast<char*>(data.data()), size)};
    }

    FaultInjectingRegistry& registry() { return *registry_; }

    test::RecordingReporter reporter_;
    test::OverridableStrings strings_;

private:
    std::unique_ptr<MemoryRegistry> memory_;
#ifdef _WIN32
    std::unique_ptr<Win32Registry> win32_;
#endif
    RegistryApi* inner_ = nullptr;
    std::unique_ptr<FaultInjectingRegistry> registry_;
    std::optional<ScopedServices> services_;
};

TEST_P(RegistryHelpers, DeleteRegistryTreeDeletesChildrenBeforeParents) {
    const std::string a = std::string(kScratch) + "\\A";
    SetText(HKEY_LOCAL_MACHINE, a, "value", "x");
    SetText(HKEY_LOCAL_MACHINE, a + "\\B\\C", "", "deep");
    CreateKey(HKEY_LOCAL_MACHINE, a + "\\D");

    EXPECT_EQ(DeleteRegistryTree(HKEY_LOCAL_MACHINE, a), 1);
    EXPECT_EQ(registry().CallsOf(RegOp::DeleteKey),
              (std::vector<std::string>{"HKEY_LOCAL_MACHINE\\" + a + "\\B\\C", "HKEY_LOCAL_MACHINE\\" + a + "\\B",
                                        "HKEY_LOCAL_MACHINE\\" + a + "\\D", "HKEY_LOCAL_MACHINE\\" + a}))
        << registry().FormatCalls();
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, a));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kScratch));
}

TEST_P(RegistryHelpers, DeleteRegistryTreeOfAMissingPathChangesNothing) {
    CreateKey(HKEY_LOCAL_MACHINE, std::string(kScratch) + "\\Kept");
    EXPECT_EQ(DeleteRegistryTree(HKEY_LOCAL_MACHINE, std::string(kScratch) + "\\Missing"), 0);
    for (const RegistryCall& call : registry().Calls()) {
        EXPECT_TRUE(call.op == RegOp::OpenKey || call.op == RegOp::DeleteKey) << registry().FormatCalls();
        EXPECT_EQ(call.result, ERROR_FILE_NOT_FOUND) << registry().FormatCalls();
    }
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, std::string(kScratch) + "\\Kept"));
}

TEST_P(RegistryHelpers, DeleteRegistryTreeKeepsAParentWhoseChildCannotGo) {
    const std::string a = std::string(kScratch) + "\\A";
    CreateKey(HKEY_LOCAL_MACHINE, a + "\\Stuck");
    CreateKey(HKEY_LOCAL_MACHINE, a + "\\Free");
    registry().Fail(RegOp::DeleteKey, "HKLM\\" + a + "\\Stuck");
    EXPECT_EQ(DeleteRegistryTree(HKEY_LOCAL_MACHINE, a), 0);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, a + "\\Stuck"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, a + "\\Free"));
}

// The shapes of tree real machines have below the keys this module removes:
// deep, with long full paths, with long names, with names in other scripts
// (and beside them the names a narrow code page would turn them into).
struct TreeShape {
    const char* what;
    std::vector<std::vector<std::u16string>> chains;  // each below the doomed key
};

std::vector<std::u16string> Repeated(int count, const std::u16string& name) {
    return std::vector<std::u16string>(static_cast<std::size_t>(count), name);
}

std::vector<std::u16string> NumberedLevels(int count) {
    std::vector<std::u16string> names;
    for (int level = 0; level < count; ++level) {
        char name[32];
        std::snprintf(name, sizeof name, "Level%02d_abcde", level);  // 13 characters or more; the first 13 are the name
        names.emplace_back(name, name + 13);
    }
    return names;
}

const std::u16string kCyrillic = u"\u041F\u0440\u043E\u0435\u043A\u0442\u044B";  // Проекты
const std::u16string kCyrillicChild = u"\u041C\u043E\u0434\u0435\u043B\u044C";   // Модель

std::vector<TreeShape> TreeShapes() {
    return {
        {"500 levels", {Repeated(500, u"d")}},
        {"20 levels of 13-character names", {NumberedLevels(20)}},
        {"a 240-character name", {{std::u16string(240, u'n'), u"child"}, {u"beside"}}},
        {"255-character names three deep", {Repeated(3, std::u16string(255, u'x'))}},
        {"names outside the code page",
         {{kCyrillic, kCyrillicChild, u"\u65E5\u672C"},
          {u"???????", u"??????"},
          {u"\u0141\u00F3d\u017A"},
          {u"a\U0001F600b", kCyrillic}}},
        {"deep and wide", {Repeated(100, u"deep"), NumberedLevels(20), {u"wide", kCyrillic}, {u"zz"}}},
    };
}

TEST_P(RegistryHelpers, DeleteRegistryTreeRemovesTreesOfAnyDepthPathLengthAndScript) {
    const std::string doomed = std::string(kScratch) + "\\Doomed";
    for (const TreeShape& shape : TreeShapes()) {
        SCOPED_TRACE(shape.what);
        CreateKey(HKEY_LOCAL_MACHINE, std::string(kScratch) + "\\Kept");
        for (const std::vector<std::u16string>& chain : shape.chains) CreateChain(HKEY_LOCAL_MACHINE, doomed, chain);
        SetText(HKEY_LOCAL_MACHINE, doomed, "top", "x");
        registry().ClearCalls();

        EXPECT_EQ(DeleteRegistryTree(HKEY_LOCAL_MACHINE, doomed), 1);
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, doomed));
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, std::string(kScratch) + "\\Kept"));
        // Every delete succeeded the first time: no key was tried before its subkeys went.
        std::size_t keys = 1;
        for (const std::vector<std::u16string>& chain : shape.chains) keys += chain.size();
        std::size_t deletes = 0;
        for (const RegistryCall& call : registry().Calls()) {
            if (call.op != RegOp::DeleteKey) continue;
            ++deletes;
            EXPECT_EQ(call.result, ERROR_SUCCESS) << call.keyPath.substr(0, 300);
        }
        EXPECT_EQ(deletes, keys);
        EXPECT_EQ(registry().CountCalls(RegOp::OpenKey), registry().CountCalls(RegOp::CloseKey));
        RemoveTree(HKEY_LOCAL_MACHINE, kScratch);
    }
}

// Wine takes key names of 256 characters, one more than Windows documents; a
// tree holding one still goes.
TEST_P(RegistryHelpers, DeleteRegistryTreeRemovesAKeyNameOfAnyLengthTheRegistryTakes) {
    const std::string doomed = std::string(kScratch) + "\\Doomed";
    HKEY key = nullptr;
    ASSERT_EQ(NarrowRegistry(registry()).CreateKeyEx(HKEY_LOCAL_MACHINE, doomed.c_str(), 0, KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    HKEY child = nullptr;
    const std::u16string longest(256, u'w');
    const LONG status = registry().CreateKeyExW(key, longest.c_str(), 0, KEY_ALL_ACCESS, &child);
    registry().CloseKey(key);
    if (status != ERROR_SUCCESS) GTEST_SKIP() << "this registry refuses a 256-character name (" << status << ")";
    registry().CloseKey(child);
    CreateChain(HKEY_LOCAL_MACHINE, doomed, {u"a", u"b"});
    CreateChain(HKEY_LOCAL_MACHINE, doomed, {u"zz"});

    EXPECT_EQ(DeleteRegistryTree(HKEY_LOCAL_MACHINE, doomed), 1);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, doomed));
}

TEST_P(RegistryHelpers, GetInstallDirectoryOfAnUnknownKindOpensNoKey) {
    SetText(HKEY_LOCAL_MACHINE, kDir, "bin", "C:\\ZU\\bin");
    EXPECT_EQ(GetInstallDirectory(static_cast<InstallDirectoryKind>(5)), "");
    EXPECT_EQ(GetInstallDirectory(static_cast<InstallDirectoryKind>(-1)), "");
    EXPECT_TRUE(registry().Calls().empty()) << registry().FormatCalls();
}

TEST_P(RegistryHelpers, GetInstallDirectoryReadsEachKindAsText) {
    SetText(HKEY_LOCAL_MACHINE, kDir, "help", "C:\\ZU\\help");
    SetText(HKEY_LOCAL_MACHINE, kDir, "LIB", "C:\\ZU\\lib");
    SetText(HKEY_LOCAL_MACHINE, kDir, "lic", "C:\\ZU\\lic");
    SetText(HKEY_LOCAL_MACHINE, kDir, "root", "C:\\ZU");
    EXPECT_EQ(GetInstallDirectory(InstallDirectoryKind::Help), "C:\\ZU\\help");
    EXPECT_EQ(GetInstallDirectory(InstallDirectoryKind::Lib), "C:\\ZU\\lib");
    EXPECT_EQ(GetInstallDirectory(InstallDirectoryKind::Lic), "C:\\ZU\\lic");
    EXPECT_EQ(GetInstallDirectory(InstallDirectoryKind::Root), "C:\\ZU");
    EXPECT_EQ(GetInstallDirectory(InstallDirectoryKind::Bin), "") << "no bin value";
    // The key is only read, and closed each time.
    EXPECT_EQ(registry().CountCalls(RegOp::OpenKey), 5u);
    EXPECT_EQ(registry().CountCalls(RegOp::CloseKey), 5u);
    EXPECT_EQ(registry().CountCalls(RegOp::SetValue) + registry().CountCalls(RegOp::CreateKey), 0u);
}

TEST_P(RegistryHelpers, GetInstallDirectoryWithoutTheDirKeyIsEmpty) {
    EXPECT_EQ(GetInstallDirectory(InstallDirectoryKind::Bin), "");
}

TEST_P(RegistryHelpers, GetInstallDirectoryTakesAnyTypeAsTextAndReadsNoFurtherThanTheData) {
    struct Case {
        const char* what;
        DWORD type;
        std::string stored;
        std::string expected;
    };
    const std::string exactString(4095, 's');
    const std::string fullBinary(4096, 'b');
    const Case cases[] = {
        // A reference to a variable the process does not have is no directory.
        {"expand string naming an unset variable", REG_EXPAND_SZ, std::string("%ZU%\\bin\0", 9), ""},
        {"binary with NUL", REG_BINARY, std::string("C:\\bin\0junk", 11), "C:\\bin"},
        {"binary without NUL", REG_BINARY, "C:\\bin", "C:\\bin"},
        {"string filling the buffer", REG_SZ, exactString + '\0', exactString},
        {"binary filling the buffer", REG_BINARY, fullBinary, fullBinary},
        {"one byte too many", REG_BINARY, std::string(4097, 'x'), ""},
        {"string too long", REG_SZ, std::string(5000, 'y') + '\0', ""},
    };
    for (const Case& c : cases) {
        SetRaw(HKEY_LOCAL_MACHINE, kDir, "bin", c.type, c.stored);
        EXPECT_EQ(GetInstallDirectory(InstallDirectoryKind::Bin), c.expected) << c.what;
    }
}

// A directory goes into quoted command lines and into values: a text that
// cannot be a Windows path gives empty and a box; anything a path may hold,
// in any script, comes back exactly.
TEST_P(RegistryHelpers, GetInstallDirectoryRefusesTextsThatCannotBePaths) {
    struct Case {
        const char* text;
        bool usable;
    };
    const Case cases[] = {
        {"C:\\ZU\\bin\" /x \"", false},
        {"C:\\ZU\\bin\tx", false},
        {"C:\\ZU\\bin\r\nx", false},
        {"C:\\ZU\\<bin>", false},
        {"C:\\ZU\\bin|more", false},
        {"C:\\ZU\\bin\x7F", false},
        {"C:\\\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB3\xD1\x80\xD0\xB0\xD0\xBC\xD0\xBC\xD1\x8B\\ZU\\bin", true},  // Программы
        {"C:\\Mod\xC3\xA8le \xE6\xA8\xA1\xE5\x9E\x8B\\bin", true},                                        // Modèle 模型
        {"C:\\100% sure\\bin", true},
        {"\\\\server\\share\\ZU (x86)\\bin", true},
    };
    for (const Case& c : cases) {
        SetWideText(HKEY_LOCAL_MACHINE, kDir, "bin", REG_SZ, c.text);
        reporter_.messages.clear();
        ResetReportedFailureCount();
        EXPECT_EQ(GetInstallDirectory(InstallDirectoryKind::Bin), c.usable ? c.text : "") << c.text;
        const std::vector<std::string> expected =
            c.usable ? std::vector<std::string>{}
                     : std::vector<std::string>{"The value bin of HKEY_LOCAL_MACHINE\\" + std::string(kDir) +
                                                " cannot be a directory path: " + c.text};
        EXPECT_EQ(reporter_.messages, expected);
    }
}

// Several steps of one pass ask for the same directory: an unusable value shows
// one box for the pass, each unusable value its own, and the next pass again.
TEST_P(RegistryHelpers, AnUnusableDirectoryShowsOneBoxPerValueAndPass) {
    SetText(HKEY_LOCAL_MACHINE, kDir, "bin", "C:\\ZU\\bin\" /x");
    SetText(HKEY_LOCAL_MACHINE, kDir, "help", "C:\\ZU\\help|x");
    SetText(HKEY_LOCAL_MACHINE, kDir, "lib", "C:\\ZU\\lib");
    ResetReportedFailureCount();
    for (int step = 0; step < 3; ++step) {
        EXPECT_EQ(GetInstallDirectory(InstallDirectoryKind::Bin), "");
        EXPECT_EQ(GetInstallDirectory(InstallDirectoryKind::Help), "");
        EXPECT_EQ(GetInstallDirectory(InstallDirectoryKind::Lib), "C:\\ZU\\lib");
    }
    const std::string dir = "HKEY_LOCAL_MACHINE\\" + std::string(kDir);
    EXPECT_EQ(reporter_.messages,
              (std::vector<std::string>{"The value bin of " + dir + " cannot be a directory path: C:\\ZU\\bin\" /x",
                                        "The value help of " + dir + " cannot be a directory path: C:\\ZU\\help|x"}));
    EXPECT_EQ(ReportedFailureCount(), 2);

    ResetReportedFailureCount();
    EXPECT_EQ(GetInstallDirectory(InstallDirectoryKind::Bin), "");
    EXPECT_EQ(reporter_.messages.size(), 3u);
}

TEST_P(RegistryHelpers, GetInstallDirectoryReadsAStringWithoutTerminatorThatFillsTheBuffer) {
    // 4096 characters and no NUL: the buffer is full and holds no terminator. (The
    // byte after the counted ones must not be NUL either: Windows would then count
    // it in, as RegSetValueExA does for a caller that forgot the terminator.)
    const std::string text(4097, 'z');
    CreateKey(HKEY_LOCAL_MACHINE, kDir);
    HKEY key = nullptr;
    ASSERT_EQ(NarrowRegistry(registry()).OpenKeyEx(HKEY_LOCAL_MACHINE, kDir, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    ASSERT_EQ(
        NarrowRegistry(registry()).SetValueEx(key, "bin", REG_SZ, reinterpret_cast<const BYTE*>(text.data()), 4096),
        ERROR_SUCCESS);
    registry().CloseKey(key);
    EXPECT_EQ(GetInstallDirectory(InstallDirectoryKind::Bin), std::string(4096, 'z'));
}

TEST_P(RegistryHelpers, CountSystemOptionsValuesCountsValuesNotSubkeys) {
    EXPECT_EQ(CountSystemOptionsValues(), 0) << "no Options key";
    CreateKey(HKEY_LOCAL_MACHINE, std::string(kOptions) + "\\First");
    CreateKey(HKEY_LOCAL_MACHINE, std::string(kOptions) + "\\Second");
    EXPECT_EQ(CountSystemOptionsValues(), 0);
    SetText(HKEY_LOCAL_MACHINE, kOptions, "OVX", "Orvantis");
    SetText(HKEY_LOCAL_MACHINE, kOptions, "ABC", "Another");
    SetText(HKEY_LOCAL_MACHINE, kOptions, "", "default");
    EXPECT_EQ(CountSystemOptionsValues(), 2) << "a default value is no product";
    registry().Fail(RegOp::QueryInfoKey, std::string("HKLM\\") + kOptions);
    EXPECT_EQ(CountSystemOptionsValues(), -1) << "a failed query is no answer";
}

TEST_P(RegistryHelpers, IsCurrentApplicationVersionComparesTheWholeProgIdWithoutRegardToCase) {
    EXPECT_EQ(IsCurrentApplicationVersion(), 1) << "no CurVer key";
    struct Case {
        const char* curVer;
        int expected;
    };
    // A newer build of the same major and minor version is another version; a
    // ProgID written in other letter case is this one.
    for (const Case& c : {Case{"OVX Application 3800", 1}, Case{"ovx application 3800", 1},
                          Case{"OVX APPLICATION 3800", 1}, Case{"OVX Application 3805", 0},
                          Case{"OVX Application 38000", 0}, Case{"OVX Application 380", 0},
                          Case{"OVX Application 370", 0}, Case{"OVX Application 3800 ", 0}, Case{"", 0}}) {
        SetText(HKEY_CLASSES_ROOT, kCurVer, "", c.curVer);
        EXPECT_EQ(IsCurrentApplicationVersion(), c.expected) << '"' << c.curVer << '"';
    }
}

TEST_P(RegistryHelpers, IsCurrentApplicationVersionWithoutADefaultValueIsNotCurrent) {
    SetText(HKEY_CLASSES_ROOT, kCurVer, "named", "OVX Application 3800");
    EXPECT_EQ(IsCurrentApplicationVersion(), 0);
}

TEST_P(RegistryHelpers, IsCurrentApplicationVersionUsesTheProductStrings) {
    strings_.Set(IDS_APPLICATION_PROGID, "Other App");
    strings_.Set(IDS_VERSION_MAJOR, "12");
    strings_.Set(IDS_VERSION_MINOR, "5");
    SetText(HKEY_CLASSES_ROOT, kCurVer, "", "OVX Application 3800");
    SetText(HKEY_CLASSES_ROOT, "Other App\\CurVer", "", "Other App 1250");
    EXPECT_EQ(IsCurrentApplicationVersion(), 1);
    SetText(HKEY_CLASSES_ROOT, "Other App\\CurVer", "", "Other App 3800");
    EXPECT_EQ(IsCurrentApplicationVersion(), 0);
    EXPECT_EQ(registry().CallsOf(RegOp::OpenKey).front(), "HKEY_CLASSES_ROOT\\Other App\\CurVer");
}

TEST_P(RegistryHelpers, SetRegistryStringStoresTheTextWithItsTerminator) {
    CreateKey(HKEY_LOCAL_MACHINE, kScratch);
    HKEY key = nullptr;
    ASSERT_EQ(NarrowRegistry(registry()).OpenKeyEx(HKEY_LOCAL_MACHINE, kScratch, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    EXPECT_EQ(SetRegistryString(key, "name", "abc"), 1);
    EXPECT_EQ(SetRegistryString(key, "", "default"), 1);
    const std::string longText(5000, 'L');
    EXPECT_EQ(SetRegistryString(key, "long", longText), 1);
    registry().CloseKey(key);

    EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, kScratch, "name"), (std::pair<DWORD, std::string>{REG_SZ, {"abc\0", 4}}));
    EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, kScratch, nullptr),
              (std::pair<DWORD, std::string>{REG_SZ, {"default\0", 8}}));
    EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, kScratch, "long"), (std::pair<DWORD, std::string>{REG_SZ, longText + '\0'}));
}

TEST_P(RegistryHelpers, SetRegistryStringReportsARefusedWrite) {
    CreateKey(HKEY_LOCAL_MACHINE, kScratch);
    HKEY key = nullptr;
    ASSERT_EQ(NarrowRegistry(registry()).OpenKeyEx(HKEY_LOCAL_MACHINE, kScratch, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(SetRegistryString(key, "name", "abc"), 0);
    registry().CloseKey(key);
    EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, kScratch, "name"), std::nullopt);
    EXPECT_TRUE(reporter_.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Registries, RegistryHelpers,
#ifdef _WIN32
                         ::testing::Values(Kind::Memory, Kind::Advapi32),
#else
                         ::testing::Values(Kind::Memory),
#endif
                         [](const ::testing::TestParamInfo<Kind>& info) {
                             return info.param == Kind::Memory ? "MemoryRegistry" : "Advapi32";
                         });

}  // namespace
}  // namespace qz
