// Registry semantics the registration logic relies on, written once and run
// against every registry we have: the in-memory registry in both builds, and
// advapi32 itself under Wine. Where they disagree, the in-memory one is wrong.
//
// Each test works below one scratch key (HKCU\Software\QzConformance, with
// HKLM\Software\QzConformance and HKLM\Software\Classes\QzConformance for the
// root tests), removed before and after. Output buffers are pre-filled with a
// sentinel byte so that an overrun shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "registry/memory/memory_registry.h"
#include "registry/overlay/overlay_registry.h"
#include "registry/api/registry_api.h"
#include "tests/support/narrow_registry.h"
#include "text/utf16_data.h"
#ifdef _WIN32
#include "registry/api/win32_registry.h"
#endif

namespace qz {
namespace {

constexpr const char* kScratch = "Software\\QzConformance";
constexpr BYTE kSentinel = 0xCD;

// The overlays record every write over a base they only read: the same
// semantics must hold whether a key comes from the base or from the overlay.
enum class Kind { Memory, Advapi32, OverlayOnMemory, OverlayOnAdvapi32 };

std::string KindName(const ::testing::TestParamInfo<Kind>& info) {
    switch (info.param) {
        case Kind::Memory: return "MemoryRegistry";
        case Kind::Advapi32: return "Advapi32";
        case Kind::OverlayOnMemory: return "OverlayOnMemoryRegistry";
        case Kind::OverlayOnAdvapi32: return "OverlayOnAdvapi32";
    }
    return "?";
}

bool NarrowCodePageIsWindows1252() {
#ifdef _WIN32
    return GetACP() == 1252;
#else
    return true;
#endif
}

// Removes parent\name and everything below it through the registry under test:
// wide calls, each key relative to its parent's handle, so that whatever a test
// left behind goes, whatever its names and depth.
void RemoveTreeW(RegistryApi& api, HKEY parent, const std::u16string& name) {
    {
        UniqueKey key(api);
        if (api.OpenKeyExW(parent, name.c_str(), KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS) return;
        std::vector<std::u16string> children;
        char16_t child[300];
        for (DWORD index = 0;; ++index) {
            DWORD length = 300;
            if (api.EnumKeyExW(key.get(), index, child, &length) != ERROR_SUCCESS) break;
            children.emplace_back(child, length);
        }
        for (const std::u16string& c : children) RemoveTreeW(api, key.get(), c);
    }
    (void)api.DeleteKeyW(parent, name.c_str());
}

void RemoveTree(RegistryApi& api, HKEY root, const std::string& path) {
    RemoveTreeW(api, root, std::u16string(path.begin(), path.end()));
}

class RegistryConformance : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override {
        if (GetParam() == Kind::Memory || GetParam() == Kind::OverlayOnMemory) {
            memory_ = std::make_unique<MemoryRegistry>();
            api_ = memory_.get();
        } else {
#ifdef _WIN32
            win32_ = std::make_unique<Win32Registry>();
            api_ = win32_.get();
#endif
        }
        if (GetParam() == Kind::OverlayOnMemory || GetParam() == Kind::OverlayOnAdvapi32) {
            // The base starts without the scratch keys, as the tests expect.
            RemoveScratchKeys();
            overlay_ = std::make_unique<OverlayRegistry>(*api_);
            api_ = overlay_.get();
        }
        // The narrow calls under test: advapi32's own over advapi32, else ours
        // converted onto the registry's wide calls.
#ifdef _WIN32
        if (GetParam() == Kind::Advapi32) narrow_ = std::make_unique<Advapi32NarrowRegistry>(*api_);
#endif
        if (!narrow_) narrow_ = std::make_unique<NarrowRegistry>(*api_);
        RemoveScratchKeys();
        scratch_.emplace(Create(HKEY_CURRENT_USER, kScratch));
    }

    void TearDown() override {
        scratch_.reset();
        RemoveScratchKeys();
        if (overlay_) {
            EXPECT_EQ(overlay_->OpenHandleCount(), 0u) << "a test leaked a key handle";
        } else if (memory_) {
            EXPECT_EQ(memory_->OpenHandleCount(), 0u) << "a test leaked a key handle";
        }
    }

    void RemoveScratchKeys() {
        RemoveTree(*api_, HKEY_CURRENT_USER, kScratch);
        RemoveTree(*api_, HKEY_LOCAL_MACHINE, kScratch);
        RemoveTree(*api_, HKEY_LOCAL_MACHINE, "Software\\Classes\\QzConformance");
        RemoveTree(*api_, HKEY_LOCAL_MACHINE, "Software\\Wow6432Node\\QzConformance");
    }

    NarrowRegistry& reg() { return *narrow_; }
    HKEY scratch() const { return scratch_->get(); }

    UniqueKey Create(HKEY root, const std::string& path, DWORD options = REG_OPTION_NON_VOLATILE,
                     REGSAM access = KEY_ALL_ACCESS) {
        UniqueKey key(reg());
        EXPECT_EQ(reg().CreateKeyEx(root, path.c_str(), options, access, key.put()), ERROR_SUCCESS) << path;
        return key;
    }

    UniqueKey Open(HKEY root, const std::string& path, REGSAM access = KEY_ALL_ACCESS) {
        UniqueKey key(reg());
        EXPECT_EQ(reg().OpenKeyEx(root, path.c_str(), access, key.put()), ERROR_SUCCESS) << path;
        return key;
    }

    LONG OpenStatus(HKEY root, const std::string& path) {
        UniqueKey key(reg());
        return reg().OpenKeyEx(root, path.c_str(), KEY_READ, key.put());
    }

    void SetString(HKEY key, const char* name, const std::string& text) {
        ASSERT_EQ(reg().SetValueEx(key, name, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                   static_cast<DWORD>(text.size() + 1)),
                  ERROR_SUCCESS);
    }

    // The value's data as the narrow query gives it with a generous buffer.
    std::string QueryBytes(HKEY key, const char* name, DWORD* type = nullptr) {
        std::vector<BYTE> buffer(1024, kSentinel);
        DWORD size = static_cast<DWORD>(buffer.size());
        const LONG status = reg().QueryValueEx(key, name, type, buffer.data(), &size);
        EXPECT_EQ(status, ERROR_SUCCESS) << (name != nullptr ? name : "(default)");
        if (status != ERROR_SUCCESS) return {};
        return std::string(reinterpret_cast<const char*>(buffer.data()), size);
    }

    std::vector<std::string> SubkeyNames(HKEY key) {
        std::vector<std::string> names;
        char name[256];
        for (DWORD index = 0;; ++index) {
            DWORD length = sizeof name;
            const LONG status = reg().EnumKeyEx(key, index, name, &length);
            if (status == ERROR_NO_MORE_ITEMS) break;
            EXPECT_EQ(status, ERROR_SUCCESS);
            if (status != ERROR_SUCCESS) break;
            names.emplace_back(name, length);
        }
        return names;
    }

    std::vector<std::string> ValueNames(HKEY key) {
        std::vector<std::string> names;
        char name[256];
        for (DWORD index = 0;; ++index) {
            DWORD length = sizeof name;
            const LONG status = reg().EnumValue(key, index, name, &length, nullptr, nullptr, nullptr);
            if (status == ERROR_NO_MORE_ITEMS) break;
            EXPECT_EQ(status, ERROR_SUCCESS);
            if (status != ERROR_SUCCESS) break;
            names.emplace_back(name, length);
        }
        return names;
    }

    DWORD SubkeyCount(HKEY key) {
        DWORD subKeys = 12345;
        EXPECT_EQ(reg().QueryInfoKey(key, nullptr, nullptr, &subKeys, nullptr), ERROR_SUCCESS);
        return subKeys;
    }

    UniqueKey CreateW(HKEY root, const std::u16string& path) {
        UniqueKey key(reg());
        EXPECT_EQ(reg().CreateKeyExW(root, path.c_str(), REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, key.put()),
                  ERROR_SUCCESS);
        return key;
    }

    LONG OpenStatusW(HKEY root, const std::u16string& path) {
        UniqueKey key(reg());
        return reg().OpenKeyExW(root, path.c_str(), KEY_READ, key.put());
    }

    std::vector<std::u16string> SubkeyNamesW(HKEY key) {
        std::vector<std::u16string> names;
        char16_t name[256];
        for (DWORD index = 0;; ++index) {
            DWORD length = 256;
            const LONG status = reg().EnumKeyExW(key, index, name, &length);
            if (status != ERROR_SUCCESS) {
                EXPECT_EQ(status, ERROR_NO_MORE_ITEMS);
                break;
            }
            names.emplace_back(name, length);
        }
        return names;
    }

    void SetStringW(HKEY key, const std::u16string& name, const std::u16string& text) {
        ASSERT_EQ(reg().SetValueExW(key, name.c_str(), REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                    static_cast<DWORD>((text.size() + 1) * sizeof(char16_t))),
                  ERROR_SUCCESS);
    }

    // The value's data as the wide query gives it, as UTF-16 code units (an odd last byte dropped).
    std::u16string QueryWide(HKEY key, const std::u16string& name, DWORD* size = nullptr) {
        std::vector<BYTE> buffer(1024, kSentinel);
        DWORD got = static_cast<DWORD>(buffer.size());
        const LONG status = reg().QueryValueExW(key, name.c_str(), nullptr, buffer.data(), &got);
        EXPECT_EQ(status, ERROR_SUCCESS);
        if (size != nullptr) *size = got;
        if (status != ERROR_SUCCESS) return {};
        return Utf16OfData(buffer.data(), got);
    }

private:
    std::unique_ptr<MemoryRegistry> memory_;
#ifdef _WIN32
    std::unique_ptr<Win32Registry> win32_;
#endif
    std::unique_ptr<OverlayRegistry> overlay_;
    RegistryApi* api_ = nullptr;
    std::unique_ptr<NarrowRegistry> narrow_;
    std::optional<UniqueKey> scratch_;
};

TEST_P(RegistryConformance, CreateOpensOrCreatesAPathWithAllItsMissingParents) {
    {
        UniqueKey deep = Create(scratch(), "A\\B\\C");
        SetString(deep.get(), "v", "deep");
    }
    EXPECT_EQ(OpenStatus(scratch(), "A"), ERROR_SUCCESS);
    EXPECT_EQ(OpenStatus(scratch(), "A\\B"), ERROR_SUCCESS);
    // Creating it again opens the existing key: its value is still there.
    UniqueKey again = Create(HKEY_CURRENT_USER, std::string(kScratch) + "\\A\\B\\C");
    EXPECT_EQ(QueryBytes(again.get(), "v"), std::string("deep\0", 5));
    // The root handles themselves open with an empty path.
    UniqueKey root = Create(HKEY_CURRENT_USER, "");
    EXPECT_EQ(OpenStatus(root.get(), kScratch), ERROR_SUCCESS);
}

TEST_P(RegistryConformance, OpenOfAMissingKeyFailsAndCreatesNothing) {
    HKEY out = reinterpret_cast<HKEY>(static_cast<std::intptr_t>(0x77));
    EXPECT_EQ(reg().OpenKeyEx(scratch(), "Missing\\Deeper", KEY_READ, &out), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(reg().OpenKeyEx(scratch(), "Missing\\Deeper", KEY_ALL_ACCESS, &out), ERROR_FILE_NOT_FOUND);
    out = nullptr;
    EXPECT_EQ(reg().OpenKey(scratch(), "Missing", &out), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(OpenStatus(scratch(), "Missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SubkeyCount(scratch()), 0u);
}

TEST_P(RegistryConformance, NamesCompareWithoutCaseAndKeepTheCaseOfCreation) {
    {
        UniqueKey key = Create(scratch(), "MixedCase");
        SetString(key.get(), "ValueName", "first");
    }
    // Another spelling reaches the same key and the same value.
    UniqueKey upper = Create(scratch(), "MIXEDCASE\\Child");
    UniqueKey lower = Open(scratch(), "mixedcase", KEY_ALL_ACCESS);
    EXPECT_EQ(QueryBytes(lower.get(), "VALUENAME"), std::string("first\0", 6));
    SetString(lower.get(), "valuename", "second");
    EXPECT_EQ(SubkeyNames(scratch()), std::vector<std::string>{"MixedCase"});
    EXPECT_EQ(SubkeyNames(lower.get()), std::vector<std::string>{"Child"});
    // Writing through another spelling replaces the data, not the name.
    EXPECT_EQ(ValueNames(lower.get()), std::vector<std::string>{"ValueName"});
    EXPECT_EQ(QueryBytes(lower.get(), "ValueName"), std::string("second\0", 7));
}

TEST_P(RegistryConformance, AccentedNamesCompareWithoutCaseInTheNarrowCodePage) {
    if (!NarrowCodePageIsWindows1252()) GTEST_SKIP() << "the narrow code page is not Windows-1252";
    { UniqueKey key = Create(scratch(), "Caf\xC9"); }  // CafÉ
    EXPECT_EQ(OpenStatus(scratch(), "caf\xE9"), ERROR_SUCCESS);   // café
    EXPECT_EQ(OpenStatus(scratch(), "CAF\xC9"), ERROR_SUCCESS);
    EXPECT_EQ(SubkeyNames(scratch()), std::vector<std::string>{"Caf\xC9"});
}

TEST_P(RegistryConformance, PathsMayEndWithABackslashButNotStartWithOne) {
    { UniqueKey key = Create(scratch(), "Trailing\\"); }
    EXPECT_EQ(SubkeyNames(scratch()), std::vector<std::string>{"Trailing"});
    EXPECT_EQ(OpenStatus(scratch(), "Trailing\\"), ERROR_SUCCESS);
    { UniqueKey key = Create(scratch(), "Trailing\\Inner\\"); }
    EXPECT_EQ(OpenStatus(scratch(), "Trailing\\Inner"), ERROR_SUCCESS);
    EXPECT_EQ(OpenStatus(HKEY_CURRENT_USER, std::string(kScratch) + "\\Trailing\\"), ERROR_SUCCESS);

    // A run of backslashes separates like one.
    { UniqueKey key = Create(scratch(), "Trailing\\\\Doubled"); }
    EXPECT_EQ(OpenStatus(scratch(), "Trailing\\Doubled"), ERROR_SUCCESS);

    UniqueKey key(reg());
    EXPECT_EQ(reg().CreateKeyEx(scratch(), "\\Leading", 0, KEY_ALL_ACCESS, key.put()), ERROR_BAD_PATHNAME);
    EXPECT_EQ(reg().OpenKeyEx(scratch(), "\\Trailing", KEY_READ, key.put()), ERROR_BAD_PATHNAME);
    EXPECT_EQ(SubkeyNames(scratch()), std::vector<std::string>{"Trailing"});
}

TEST_P(RegistryConformance, DeleteRefusesAKeyWithSubkeys) {
    {
        UniqueKey child = Create(scratch(), "Parent\\Child");
        UniqueKey parent = Open(scratch(), "Parent");
        SetString(parent.get(), "v", "x");
    }
    EXPECT_EQ(reg().DeleteKey(scratch(), "Parent"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(OpenStatus(scratch(), "Parent\\Child"), ERROR_SUCCESS);
    EXPECT_EQ(reg().DeleteKey(scratch(), "Parent\\Child"), ERROR_SUCCESS);
    // A key with values but no subkeys goes, values and all.
    EXPECT_EQ(reg().DeleteKey(HKEY_CURRENT_USER, (std::string(kScratch) + "\\PARENT").c_str()), ERROR_SUCCESS);
    EXPECT_EQ(OpenStatus(scratch(), "Parent"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(reg().DeleteKey(scratch(), "Parent"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(reg().DeleteKey(scratch(), "Never\\There"), ERROR_FILE_NOT_FOUND);
    // Created again, it is a new empty key.
    UniqueKey parent = Create(scratch(), "Parent");
    DWORD values = 99;
    EXPECT_EQ(reg().QueryInfoKey(parent.get(), nullptr, nullptr, nullptr, &values), ERROR_SUCCESS);
    EXPECT_EQ(values, 0u);
}

TEST_P(RegistryConformance, DeleteThroughAnOpenKeyWithAnEmptyPathDeletesThatKey) {
    UniqueKey doomed = Create(scratch(), "Doomed");
    EXPECT_EQ(reg().DeleteKey(doomed.get(), ""), ERROR_SUCCESS);
    EXPECT_EQ(OpenStatus(scratch(), "Doomed"), ERROR_FILE_NOT_FOUND);
}

TEST_P(RegistryConformance, AHandleToADeletedKeyFails) {
    HKEY stale = nullptr;
    ASSERT_EQ(reg().CreateKeyEx(scratch(), "Gone", 0, KEY_ALL_ACCESS, &stale), ERROR_SUCCESS);
    SetString(stale, "v", "x");
    EXPECT_EQ(reg().DeleteKey(scratch(), "Gone"), ERROR_SUCCESS);

    const std::string text = "y";
    EXPECT_EQ(reg().SetValueEx(stale, "v", REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), 2),
              ERROR_KEY_DELETED);
    DWORD size = 0;
    EXPECT_EQ(reg().QueryValueEx(stale, "v", nullptr, nullptr, &size), ERROR_KEY_DELETED);
    {
        UniqueKey below(reg());
        EXPECT_NE(reg().CreateKeyEx(stale, "Below", 0, KEY_ALL_ACCESS, below.put()), ERROR_SUCCESS);
    }
    // A key created again under the same name is another key: the old handle stays dead.
    { UniqueKey fresh = Create(scratch(), "Gone"); }
    EXPECT_EQ(reg().SetValueEx(stale, "v", REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), 2),
              ERROR_KEY_DELETED);
    EXPECT_EQ(reg().CloseKey(stale), ERROR_SUCCESS);
    UniqueKey fresh = Open(scratch(), "Gone");
    EXPECT_EQ(reg().QueryValueEx(fresh.get(), "v", nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SubkeyCount(fresh.get()), 0u);
}

TEST_P(RegistryConformance, AClosedHandleIsInvalid) {
    HKEY raw = nullptr;
    ASSERT_EQ(reg().CreateKeyEx(scratch(), "Closed", 0, KEY_ALL_ACCESS, &raw), ERROR_SUCCESS);
    EXPECT_EQ(reg().CloseKey(raw), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(reg().QueryValueEx(raw, "v", nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
    EXPECT_EQ(reg().CloseKey(raw), ERROR_INVALID_HANDLE);
}

TEST_P(RegistryConformance, AccessMasksAreRespected) {
    {
        UniqueKey key = Create(scratch(), "Guarded\\Sub");
        UniqueKey guarded = Open(scratch(), "Guarded");
        SetString(guarded.get(), "v", "kept");
    }
    UniqueKey readOnly = Open(scratch(), "Guarded", KEY_READ);
    const std::string text = "changed";
    EXPECT_EQ(reg().SetValueEx(readOnly.get(), "v", REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                               static_cast<DWORD>(text.size() + 1)),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(reg().DeleteValue(readOnly.get(), "v"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(QueryBytes(readOnly.get(), "v"), std::string("kept\0", 5));
    EXPECT_EQ(SubkeyNames(readOnly.get()), std::vector<std::string>{"Sub"});

    UniqueKey writeOnly = Open(scratch(), "Guarded", KEY_SET_VALUE);
    DWORD size = 0;
    EXPECT_EQ(reg().QueryValueEx(writeOnly.get(), "v", nullptr, nullptr, &size), ERROR_ACCESS_DENIED);
    char name[64];
    DWORD length = sizeof name;
    EXPECT_EQ(reg().EnumKeyEx(writeOnly.get(), 0, name, &length), ERROR_ACCESS_DENIED);
    EXPECT_EQ(reg().SetValueEx(writeOnly.get(), "v", REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                               static_cast<DWORD>(text.size() + 1)),
              ERROR_SUCCESS);

    // RegOpenKeyA opens with the most access the key allows.
    UniqueKey defaultAccess(reg());
    ASSERT_EQ(reg().OpenKey(scratch(), "Guarded", defaultAccess.put()), ERROR_SUCCESS);
    EXPECT_EQ(reg().DeleteValue(defaultAccess.get(), "v"), ERROR_SUCCESS);
}

TEST_P(RegistryConformance, OpenKeyWithNoPathGivesBackTheSameHandle) {
    HKEY same = nullptr;
    ASSERT_EQ(reg().OpenKey(scratch(), "", &same), ERROR_SUCCESS);
    EXPECT_EQ(same, scratch());
    // RegOpenKeyExA with no path is a new handle to the same key.
    UniqueKey other = Open(scratch(), "");
    EXPECT_NE(other.get(), scratch());
    SetString(other.get(), "through other", "x");
    EXPECT_EQ(QueryBytes(scratch(), "through other"), std::string("x\0", 2));
}

TEST_P(RegistryConformance, TheDefaultValueHasTheEmptyName) {
    SetString(scratch(), nullptr, "by null");
    EXPECT_EQ(QueryBytes(scratch(), ""), std::string("by null\0", 8));
    SetString(scratch(), "", "by empty");
    EXPECT_EQ(QueryBytes(scratch(), nullptr), std::string("by empty\0", 9));
    EXPECT_EQ(ValueNames(scratch()), std::vector<std::string>{""});
    EXPECT_EQ(reg().DeleteValue(scratch(), nullptr), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(reg().QueryValueEx(scratch(), "", nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(reg().DeleteValue(scratch(), ""), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(reg().DeleteValue(scratch(), "never set"), ERROR_FILE_NOT_FOUND);
}

TEST_P(RegistryConformance, ValueNamesHaveALimit) {
    const std::string longest(16383, 'v');
    const std::string tooLong(16384, 'w');
    const BYTE data[] = {1};
    EXPECT_EQ(reg().SetValueEx(scratch(), longest.c_str(), REG_BINARY, data, 1), ERROR_SUCCESS);
    EXPECT_EQ(reg().SetValueEx(scratch(), tooLong.c_str(), REG_BINARY, data, 1), ERROR_INVALID_PARAMETER);
    DWORD values = 0;
    EXPECT_EQ(reg().QueryInfoKey(scratch(), nullptr, nullptr, nullptr, &values), ERROR_SUCCESS);
    EXPECT_EQ(values, 1u);
    DWORD size = 0;
    EXPECT_EQ(reg().QueryValueEx(scratch(), longest.c_str(), nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 1u);
}

// A key name holds at most 256 characters (one more than the 255 Windows
// documents, as advapi32 under Wine has it); a longer one is refused, on its own
// or as a part of a path. A path is created one key at a time: the keys above
// the refused name stay.
TEST_P(RegistryConformance, KeyNamesHaveALimit) {
    const std::string longest(256, 'k');
    const std::string tooLong(257, 'l');
    { UniqueKey key = Create(scratch(), longest); }
    { UniqueKey key = Open(scratch(), longest); }
    UniqueKey refused(reg());
    EXPECT_EQ(reg().CreateKeyEx(scratch(), tooLong.c_str(), REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, refused.put()),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(OpenStatus(scratch(), tooLong), ERROR_INVALID_PARAMETER);
    const std::u16string wideTooLong(257, u'w');
    EXPECT_EQ(reg().CreateKeyExW(scratch(), (u"parent\\" + wideTooLong).c_str(), REG_OPTION_NON_VOLATILE,
                                 KEY_ALL_ACCESS, refused.put()),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(OpenStatusW(scratch(), wideTooLong), ERROR_INVALID_PARAMETER);
    { UniqueKey parent = Open(scratch(), "parent"); }
    EXPECT_EQ(SubkeyCount(scratch()), 2u);

    // Both enumerations give the longest name whole to a buffer of 257.
    char name[258];
    DWORD length = 257;
    ASSERT_EQ(reg().EnumKeyEx(scratch(), 0, name, &length), ERROR_SUCCESS);
    EXPECT_EQ(std::string(name, length), longest);
    char16_t wideName[258];
    length = 257;
    ASSERT_EQ(reg().EnumKeyExW(scratch(), 0, wideName, &length), ERROR_SUCCESS);
    EXPECT_EQ(length, 256u);
    length = 256;
    EXPECT_EQ(reg().EnumKeyExW(scratch(), 0, wideName, &length), ERROR_MORE_DATA);
}

TEST_P(RegistryConformance, ValuesOfEveryTypeAreStoredAsTypedBytes) {
    struct Case {
        const char* name;
        DWORD type;
        std::string bytes;
    };
    const Case cases[] = {
        {"none", REG_NONE, std::string("\x01\x00\x02", 3)},
        {"empty binary", REG_BINARY, ""},
        {"binary", REG_BINARY, std::string("\x00\xFF\x10\x00\x7F", 5)},
        {"dword", REG_DWORD, std::string("\x78\x56\x34\x12", 4)},
        {"big endian", REG_DWORD_BIG_ENDIAN, std::string("\x12\x34\x56\x78", 4)},
        {"short dword", REG_DWORD, std::string("\x01\x02", 2)},
        {"qword", REG_QWORD, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8)},
        {"resource list", REG_RESOURCE_LIST, std::string("\x00\x01\x02\x03", 4)},
        {"link", REG_LINK, std::string("\x41\x00\x42\x00", 4)},
        {"private type", 0x1234, std::string("\x09\x08", 2)},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(reg().SetValueEx(scratch(), c.name, c.type, reinterpret_cast<const BYTE*>(c.bytes.data()),
                                   static_cast<DWORD>(c.bytes.size())),
                  ERROR_SUCCESS)
            << c.name;
    }
    for (const Case& c : cases) {
        DWORD type = 0;
        EXPECT_EQ(QueryBytes(scratch(), c.name, &type), c.bytes) << c.name;
        EXPECT_EQ(type, c.type) << c.name;
    }
    // A value changes type when it is written again.
    const std::string text = "now text";
    ASSERT_EQ(reg().SetValueEx(scratch(), "dword", REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), 9),
              ERROR_SUCCESS);
    DWORD type = 0;
    EXPECT_EQ(QueryBytes(scratch(), "dword", &type), std::string("now text\0", 9));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
}

TEST_P(RegistryConformance, NarrowStringsKeepTheirSizeAndTerminator) {
    struct Case {
        const char* name;
        DWORD type;
        std::string stored;
    };
    const Case cases[] = {
        {"sz", REG_SZ, std::string("abc\0", 4)},
        {"expand", REG_EXPAND_SZ, std::string("%TEMP%\\x\0", 9)},
        {"multi", REG_MULTI_SZ, std::string("one\0two\0\0", 9)},
        {"empty", REG_SZ, std::string("\0", 1)},
        {"no data", REG_SZ, std::string()},
        {"inner nul", REG_SZ, std::string("a\0b\0", 4)},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(reg().SetValueEx(scratch(), c.name, c.type, reinterpret_cast<const BYTE*>(c.stored.data()),
                                   static_cast<DWORD>(c.stored.size())),
                  ERROR_SUCCESS);
        DWORD type = 0;
        EXPECT_EQ(QueryBytes(scratch(), c.name, &type), c.stored) << c.name;
        EXPECT_EQ(type, c.type) << c.name;
    }
}

TEST_P(RegistryConformance, AStringStoredWithoutItsTerminatorGetsOneWhenTheBufferHasRoom) {
    // The byte after the counted ones is not NUL, so nothing but "abc" is stored.
    const char source[] = "abcd";
    ASSERT_EQ(reg().SetValueEx(scratch(), "bare", REG_SZ, reinterpret_cast<const BYTE*>(source), 3), ERROR_SUCCESS);

    BYTE roomy[8];
    std::fill(std::begin(roomy), std::end(roomy), kSentinel);
    DWORD size = sizeof roomy;
    ASSERT_EQ(reg().QueryValueEx(scratch(), "bare", nullptr, roomy, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(roomy), 4), std::string("abc\0", 4));
    EXPECT_EQ(roomy[4], kSentinel);

    BYTE exact[8];
    std::fill(std::begin(exact), std::end(exact), kSentinel);
    size = 3;
    ASSERT_EQ(reg().QueryValueEx(scratch(), "bare", nullptr, exact, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(exact), 3), "abc");
    EXPECT_EQ(exact[3], kSentinel);
}

TEST_P(RegistryConformance, AccentedTextSurvivesTheNarrowCalls) {
    if (!NarrowCodePageIsWindows1252()) GTEST_SKIP() << "the narrow code page is not Windows-1252";
    const std::string text("Gr\xFC\xDF \x80 \x9C\x8A\0", 10);  // Grüß € œŠ
    ASSERT_EQ(reg().SetValueEx(scratch(), "D\xE9j\xE0", REG_SZ, reinterpret_cast<const BYTE*>(text.data()),
                               static_cast<DWORD>(text.size())),
              ERROR_SUCCESS);
    EXPECT_EQ(QueryBytes(scratch(), "D\xC9J\xC0"), text);
    EXPECT_EQ(ValueNames(scratch()), std::vector<std::string>{"D\xE9j\xE0"});
}

TEST_P(RegistryConformance, QueryWithATooSmallBufferAsksForMore) {
    SetString(scratch(), "text", "hello");
    const std::string binary("0123456789", 10);
    ASSERT_EQ(reg().SetValueEx(scratch(), "binary", REG_BINARY, reinterpret_cast<const BYTE*>(binary.data()), 10),
              ERROR_SUCCESS);

    struct Case {
        const char* name;
        DWORD needed;
        DWORD type;
    };
    for (const Case& c : {Case{"text", 6, REG_SZ}, Case{"binary", 10, REG_BINARY}}) {
        BYTE buffer[16];
        std::fill(std::begin(buffer), std::end(buffer), kSentinel);
        DWORD size = 3;
        DWORD type = 0;
        EXPECT_EQ(reg().QueryValueEx(scratch(), c.name, &type, buffer, &size), ERROR_MORE_DATA) << c.name;
        EXPECT_EQ(size, c.needed) << c.name;
        EXPECT_EQ(type, c.type) << c.name;
        for (std::size_t i = 3; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], kSentinel) << c.name << " byte " << i;

        // Without a buffer the call only tells the size.
        size = 0;
        EXPECT_EQ(reg().QueryValueEx(scratch(), c.name, nullptr, nullptr, &size), ERROR_SUCCESS);
        EXPECT_EQ(size, c.needed);
        // The exact size is enough.
        std::fill(std::begin(buffer), std::end(buffer), kSentinel);
        size = c.needed;
        EXPECT_EQ(reg().QueryValueEx(scratch(), c.name, nullptr, buffer, &size), ERROR_SUCCESS);
        EXPECT_EQ(size, c.needed);
        EXPECT_EQ(buffer[c.needed], kSentinel);
    }
    DWORD size = 16;
    BYTE buffer[16];
    EXPECT_EQ(reg().QueryValueEx(scratch(), "missing", nullptr, buffer, &size), ERROR_FILE_NOT_FOUND);
}

TEST_P(RegistryConformance, SubkeysEnumerateInSortedOrderThenEnd) {
    // Names are sorted as lower case: the punctuation between 'Z' and 'a' comes before the letters.
    for (const char* name : {"beta", "Alpha", "gamma2", "Gamma", "ALPHA1", "delta", "A_B", "A[", "a`", "A^"}) {
        UniqueKey key = Create(scratch(), name);
    }
    { UniqueKey grandchild = Create(scratch(), "beta\\not listed"); }
    EXPECT_EQ(SubkeyNames(scratch()), (std::vector<std::string>{"A[", "A^", "A_B", "a`", "Alpha", "ALPHA1", "beta",
                                                                "delta", "Gamma", "gamma2"}));
    char name[64];
    DWORD length = sizeof name;
    EXPECT_EQ(reg().EnumKeyEx(scratch(), 10, name, &length), ERROR_NO_MORE_ITEMS);
    length = sizeof name;
    EXPECT_EQ(reg().EnumKeyEx(scratch(), 100, name, &length), ERROR_NO_MORE_ITEMS);
}

TEST_P(RegistryConformance, EnumerationWithATooSmallNameBufferAsksForMore) {
    { UniqueKey key = Create(scratch(), "Seven77"); }
    char name[16];
    std::fill(std::begin(name), std::end(name), static_cast<char>(kSentinel));
    DWORD length = 7;  // no room for the terminator
    EXPECT_EQ(reg().EnumKeyEx(scratch(), 0, name, &length), ERROR_MORE_DATA);
    for (std::size_t i = 7; i < sizeof name; ++i) EXPECT_EQ(name[i], static_cast<char>(kSentinel));
    length = 8;
    ASSERT_EQ(reg().EnumKeyEx(scratch(), 0, name, &length), ERROR_SUCCESS);
    EXPECT_EQ(length, 7u);
    EXPECT_EQ(std::string(name, 8), std::string("Seven77\0", 8));
    EXPECT_EQ(name[8], static_cast<char>(kSentinel));
}

TEST_P(RegistryConformance, WideEnumerationGivesUtf16Names) {
    const bool accented = NarrowCodePageIsWindows1252();
    { UniqueKey key = Create(scratch(), accented ? "Z\xFCrich" : "Zurich"); }
    { UniqueKey key = Create(scratch(), "abc"); }
    char16_t name[32];
    std::fill(std::begin(name), std::end(name), char16_t{0xCDCD});
    DWORD length = 32;
    ASSERT_EQ(reg().EnumKeyExW(scratch(), 0, name, &length), ERROR_SUCCESS);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(std::u16string(name, 4), std::u16string(u"abc\0", 4));
    EXPECT_EQ(name[4], char16_t{0xCDCD});
    length = 32;
    ASSERT_EQ(reg().EnumKeyExW(scratch(), 1, name, &length), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(name, length), accented ? u"Z\u00FCrich" : u"Zurich");
    length = 6;
    EXPECT_EQ(reg().EnumKeyExW(scratch(), 1, name, &length), ERROR_MORE_DATA);
    length = 32;
    EXPECT_EQ(reg().EnumKeyExW(scratch(), 2, name, &length), ERROR_NO_MORE_ITEMS);
}

TEST_P(RegistryConformance, ValuesEnumerateInSortedOrderThenEnd) {
    SetString(scratch(), "b", "2");
    SetString(scratch(), "a", "1");
    SetString(scratch(), "", "default");
    const DWORD number = 7;
    ASSERT_EQ(reg().SetValueEx(scratch(), "C", REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4), ERROR_SUCCESS);
    SetString(scratch(), "a_", "3");
    EXPECT_EQ(ValueNames(scratch()), (std::vector<std::string>{"", "a", "a_", "b", "C"}));
    SetString(scratch(), "c", "replaced");
    SetString(scratch(), "c", "replaced");
    ASSERT_EQ(reg().SetValueEx(scratch(), "C", REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4), ERROR_SUCCESS);
    EXPECT_EQ(ValueNames(scratch()), (std::vector<std::string>{"", "a", "a_", "b", "C"}));

    // With data: the narrow string, and the number as bytes.
    for (DWORD index = 0; index < 5; ++index) {
        char name[16];
        DWORD nameLength = sizeof name;
        BYTE data[16];
        std::fill(std::begin(data), std::end(data), kSentinel);
        DWORD dataLength = sizeof data;
        DWORD type = 0;
        ASSERT_EQ(reg().EnumValue(scratch(), index, name, &nameLength, &type, data, &dataLength), ERROR_SUCCESS);
        const std::string valueName(name, nameLength);
        if (valueName == "C") {
            EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
            EXPECT_EQ(dataLength, 4u);
            EXPECT_EQ(data[0], 7);
        } else if (valueName == "a") {
            EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
            EXPECT_EQ(std::string(reinterpret_cast<char*>(data), dataLength), std::string("1\0", 2));
            EXPECT_EQ(data[2], kSentinel);
        }
    }
    char name[16];
    DWORD nameLength = sizeof name;
    EXPECT_EQ(reg().EnumValue(scratch(), 5, name, &nameLength, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
}

TEST_P(RegistryConformance, QueryInfoKeyCountsValuesAndDirectSubkeys) {
    {
        UniqueKey a = Create(scratch(), "Counted\\One\\Deeper");
        UniqueKey b = Create(scratch(), "Counted\\Two");
    }
    UniqueKey counted = Open(scratch(), "Counted");
    SetString(counted.get(), "", "default counts");
    SetString(counted.get(), "x", "1");
    SetString(counted.get(), "y", "2");

    char className[32];
    std::fill(std::begin(className), std::end(className), static_cast<char>(kSentinel));
    DWORD classLength = sizeof className;
    DWORD subKeys = 0;
    DWORD values = 0;
    ASSERT_EQ(reg().QueryInfoKey(counted.get(), className, &classLength, &subKeys, &values), ERROR_SUCCESS);
    EXPECT_EQ(subKeys, 2u);
    EXPECT_EQ(values, 3u);
    EXPECT_EQ(classLength, 0u);
    EXPECT_EQ(className[0], '\0');
    EXPECT_EQ(className[1], static_cast<char>(kSentinel));

    UniqueKey readOnly = Open(scratch(), "Counted", KEY_READ);
    subKeys = values = 0;
    EXPECT_EQ(reg().QueryInfoKey(readOnly.get(), nullptr, nullptr, &subKeys, &values), ERROR_SUCCESS);
    EXPECT_EQ(subKeys, 2u);
    EXPECT_EQ(values, 3u);
}

TEST_P(RegistryConformance, NoNonVolatileKeyBelowAVolatileOne) {
    { UniqueKey fleeting = Create(scratch(), "Fleeting", REG_OPTION_VOLATILE); }
    UniqueKey child(reg());
    EXPECT_EQ(reg().CreateKeyEx(scratch(), "Fleeting\\Child\\Grandchild", REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                child.put()),
              ERROR_CHILD_MUST_BE_VOLATILE);
    EXPECT_EQ(OpenStatus(scratch(), "Fleeting\\Child"), ERROR_FILE_NOT_FOUND);
    { UniqueKey volatileChild = Create(scratch(), "Fleeting\\Child", REG_OPTION_VOLATILE); }
    // Creating an existing key only opens it, whatever the options.
    { UniqueKey opened = Create(scratch(), "Fleeting", REG_OPTION_NON_VOLATILE); }
    { UniqueKey lasting = Create(scratch(), "Lasting"); }
    { UniqueKey reopened = Create(scratch(), "Lasting", REG_OPTION_VOLATILE); }
    { UniqueKey belowLasting = Create(scratch(), "Lasting\\Child"); }
    // Missing parents created by a volatile create are volatile too.
    { UniqueKey deep = Create(scratch(), "Chain\\Link", REG_OPTION_VOLATILE); }
    EXPECT_EQ(reg().CreateKeyEx(scratch(), "Chain\\Other", REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, child.put()),
              ERROR_CHILD_MUST_BE_VOLATILE);
}

TEST_P(RegistryConformance, ClassesRootShowsTheMachineSoftwareClassesKey) {
    {
        UniqueKey viaRoot = Create(HKEY_CLASSES_ROOT, "QzConformance\\Shown");
        SetString(viaRoot.get(), "", "through HKCR");
    }
    UniqueKey viaMachine = Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\QzConformance\\Shown");
    EXPECT_EQ(QueryBytes(viaMachine.get(), ""), std::string("through HKCR\0", 13));
    SetString(viaMachine.get(), "back", "through HKLM");
    viaMachine.reset();
    UniqueKey viaRoot = Open(HKEY_CLASSES_ROOT, "qzconformance\\shown", KEY_READ);
    EXPECT_EQ(QueryBytes(viaRoot.get(), "back"), std::string("through HKLM\0", 13));
    viaRoot.reset();

    UniqueKey classes = Open(HKEY_CLASSES_ROOT, "QzConformance");
    EXPECT_EQ(SubkeyNames(classes.get()), std::vector<std::string>{"Shown"});
    classes.reset();
    EXPECT_EQ(reg().DeleteKey(HKEY_CLASSES_ROOT, "QzConformance\\Shown"), ERROR_SUCCESS);
    EXPECT_EQ(OpenStatus(HKEY_LOCAL_MACHINE, "Software\\Classes\\QzConformance\\Shown"), ERROR_FILE_NOT_FOUND);
    // It is a view, not a copy: the machine key lists the same subkeys.
    { UniqueKey again = Create(HKEY_LOCAL_MACHINE, "Software\\Classes\\QzConformance\\FromMachine"); }
    EXPECT_EQ(OpenStatus(HKEY_CLASSES_ROOT, "QzConformance\\FromMachine"), ERROR_SUCCESS);
}

TEST_P(RegistryConformance, MachineAndUserAreSeparateTrees) {
    {
        UniqueKey machine = Create(HKEY_LOCAL_MACHINE, std::string(kScratch) + "\\OnlyHere");
    }
    EXPECT_EQ(OpenStatus(HKEY_LOCAL_MACHINE, std::string(kScratch) + "\\OnlyHere"), ERROR_SUCCESS);
    EXPECT_EQ(OpenStatus(scratch(), "OnlyHere"), ERROR_FILE_NOT_FOUND);
}

TEST_P(RegistryConformance, Wow6432NodePathsArePlainKeys) {
    {
        UniqueKey key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Wow6432Node\\QzConformance\\38.0");
        SetString(key.get(), "v", "32-bit view");
    }
    UniqueKey parent = Open(HKEY_LOCAL_MACHINE, "Software\\WOW6432Node\\QzConformance", KEY_READ);
    EXPECT_EQ(SubkeyNames(parent.get()), std::vector<std::string>{"38.0"});
    UniqueKey key = Open(parent.get(), "38.0", KEY_READ);
    EXPECT_EQ(QueryBytes(key.get(), "v"), std::string("32-bit view\0", 12));
    EXPECT_EQ(OpenStatus(HKEY_LOCAL_MACHINE, "Software\\QzConformance\\38.0"), ERROR_FILE_NOT_FOUND);
}

// Names in scripts the narrow code page cannot show. Windows-1252 gives a
// best-fit byte where it has one (L for Ł, / for the fraction slash, A for a
// fullwidth A) and '?' where it has none, one byte per UTF-16 code unit (a
// character beyond the BMP is two). Either way the narrow name is not the key's
// name: opening the key by it fails, and only the wide calls reach the key.
struct ForeignName {
    const char16_t* wide;
    const char* narrow;
};
// In the order both registries enumerate them.
const ForeignName kForeignNames[] = {
    {u"a\U0001F600b", "a??b"},
    {u"z\uFF21", "zA"},
    {u"\u0141\u00F3d\u017A", "L\xF3" "dz"},
    {u"\u041F\u0440\u0438\u043C\u0435\u0440", "??????"},
    {u"\u2044\u2215x", "//x"},
    {u"\u65E5\u672C", "??"},
};

TEST_P(RegistryConformance, NamesOutsideTheCodePageEnumerateNarrowAsTheCodePageShowsThem) {
    if (!NarrowCodePageIsWindows1252()) GTEST_SKIP() << "the narrow code page is not Windows-1252";
    for (const ForeignName& name : kForeignNames) {
        UniqueKey key = CreateW(scratch(), name.wide);
    }
    std::vector<std::string> narrow;
    std::vector<std::u16string> wide;
    for (const ForeignName& name : kForeignNames) {
        narrow.emplace_back(name.narrow);
        wide.emplace_back(name.wide);
    }
    EXPECT_EQ(SubkeyNames(scratch()), narrow);
    EXPECT_EQ(SubkeyNamesW(scratch()), wide);

    for (DWORD index = 0; index < std::size(kForeignNames); ++index) {
        const ForeignName& name = kForeignNames[index];
        const DWORD length = static_cast<DWORD>(std::strlen(name.narrow));
        EXPECT_EQ(OpenStatus(scratch(), name.narrow), ERROR_FILE_NOT_FOUND) << name.narrow;
        EXPECT_EQ(OpenStatusW(scratch(), name.wide), ERROR_SUCCESS) << name.narrow;
        // The narrow buffer counts narrow bytes: the name and its terminator.
        char buffer[32];
        std::fill(std::begin(buffer), std::end(buffer), static_cast<char>(kSentinel));
        DWORD size = length;
        EXPECT_EQ(reg().EnumKeyEx(scratch(), index, buffer, &size), ERROR_MORE_DATA) << name.narrow;
        EXPECT_EQ(buffer[length], static_cast<char>(kSentinel)) << name.narrow;
        size = length + 1;
        ASSERT_EQ(reg().EnumKeyEx(scratch(), index, buffer, &size), ERROR_SUCCESS) << name.narrow;
        EXPECT_EQ(size, length) << name.narrow;
        EXPECT_EQ(std::string(buffer, length + 1), std::string(name.narrow, length + 1));
    }
}

TEST_P(RegistryConformance, TheQuestionMarkNameIsAKeyOfItsOwn) {
    if (!NarrowCodePageIsWindows1252()) GTEST_SKIP() << "the narrow code page is not Windows-1252";
    const std::u16string cyrillic = u"\u041F\u0440\u0438\u043C\u0435\u0440";
    {
        UniqueKey key = CreateW(scratch(), cyrillic);
        SetString(key.get(), "v", "real");
    }
    // Creating the narrow form makes another key; deleting it by that name leaves the real one.
    { UniqueKey literal = Create(scratch(), "??????"); }
    EXPECT_EQ(SubkeyNamesW(scratch()), (std::vector<std::u16string>{u"??????", cyrillic}));
    EXPECT_EQ(reg().DeleteKey(scratch(), "??????"), ERROR_SUCCESS);
    EXPECT_EQ(reg().DeleteKey(scratch(), "??????"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SubkeyNamesW(scratch()), std::vector<std::u16string>{cyrillic});
    UniqueKey real(reg());
    ASSERT_EQ(reg().OpenKeyExW(scratch(), cyrillic.c_str(), KEY_ALL_ACCESS, real.put()), ERROR_SUCCESS);
    EXPECT_EQ(QueryBytes(real.get(), "v"), std::string("real\0", 5));
    real.reset();
    EXPECT_EQ(reg().DeleteKeyW(scratch(), cyrillic.c_str()), ERROR_SUCCESS);
    EXPECT_EQ(SubkeyCount(scratch()), 0u);
}

TEST_P(RegistryConformance, ValuesOutsideTheCodePageReadNarrowAsTheCodePageShowsThem) {
    if (!NarrowCodePageIsWindows1252()) GTEST_SKIP() << "the narrow code page is not Windows-1252";
    const std::u16string cyrillicName = u"\u0418\u043C\u044F";
    const std::u16string cyrillicData = u"\u0414\u0430\u043D\u043D\u044B\u0435 C:\\\u0442\u0435\u0441\u0442";
    const std::u16string mixedData = u"a\U0001F600b\u0141";
    SetStringW(scratch(), cyrillicName, cyrillicData);
    SetStringW(scratch(), u"mixed", mixedData);

    struct Case {
        const char* narrowName;
        std::string narrowData;  // with the terminator
    };
    // Enumerated in name order: "mixed" before the Cyrillic name.
    const Case cases[] = {
        {"mixed", std::string("a??bL\0", 6)},
        {"???", std::string("?????? C:\\????\0", 15)},
    };
    for (DWORD index = 0; index < std::size(cases); ++index) {
        const Case& c = cases[index];
        const DWORD length = static_cast<DWORD>(c.narrowData.size());
        char name[32];
        DWORD nameLength = sizeof name;
        BYTE data[64];
        std::fill(std::begin(data), std::end(data), kSentinel);
        DWORD dataLength = sizeof data;
        DWORD type = 0;
        ASSERT_EQ(reg().EnumValue(scratch(), index, name, &nameLength, &type, data, &dataLength), ERROR_SUCCESS);
        EXPECT_EQ(std::string(name, nameLength), c.narrowName);
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(std::string(reinterpret_cast<char*>(data), dataLength), c.narrowData) << c.narrowName;
        EXPECT_EQ(data[dataLength], kSentinel) << c.narrowName;

        // The narrow size is one byte per UTF-16 code unit, with or without a buffer.
        nameLength = sizeof name;
        dataLength = 0;
        EXPECT_EQ(reg().EnumValue(scratch(), index, name, &nameLength, nullptr, nullptr, &dataLength), ERROR_SUCCESS);
        EXPECT_EQ(dataLength, length) << c.narrowName;
        std::fill(std::begin(data), std::end(data), kSentinel);
        nameLength = sizeof name;
        dataLength = 4;
        EXPECT_EQ(reg().EnumValue(scratch(), index, name, &nameLength, nullptr, data, &dataLength), ERROR_MORE_DATA);
        EXPECT_EQ(dataLength, length) << c.narrowName;
        EXPECT_EQ(data[0], kSentinel) << c.narrowName;
    }

    // A narrow query by the name the code page shows finds nothing; by an ASCII
    // name it gives the data as the code page shows it.
    DWORD size = 64;
    BYTE data[64];
    EXPECT_EQ(reg().QueryValueEx(scratch(), "???", nullptr, data, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(QueryBytes(scratch(), "mixed"), std::string("a??bL\0", 6));
    size = 0;
    EXPECT_EQ(reg().QueryValueEx(scratch(), "mixed", nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 6u);
    std::fill(std::begin(data), std::end(data), kSentinel);
    size = 3;
    EXPECT_EQ(reg().QueryValueEx(scratch(), "mixed", nullptr, data, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(data[0], kSentinel);

    // The wide calls give back exactly what was stored.
    DWORD wideSize = 0;
    EXPECT_EQ(QueryWide(scratch(), cyrillicName, &wideSize), cyrillicData + u'\0');
    EXPECT_EQ(wideSize, (cyrillicData.size() + 1) * 2);
    EXPECT_EQ(QueryWide(scratch(), u"mixed"), mixedData + u'\0');
    char16_t wideName[32];
    DWORD wideNameLength = 32;
    ASSERT_EQ(reg().EnumValueW(scratch(), 1, wideName, &wideNameLength, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(wideName, wideNameLength), cyrillicName);
}

TEST_P(RegistryConformance, NarrowBytesTheCodePageLeavesUndefinedReadWideAsControlCharacters) {
    if (!NarrowCodePageIsWindows1252()) GTEST_SKIP() << "the narrow code page is not Windows-1252";
    const std::string bytes("x\x81\x8D\x8F\x90\x9D\xFFy\0", 9);
    ASSERT_EQ(reg().SetValueEx(scratch(), "undefined", REG_SZ, reinterpret_cast<const BYTE*>(bytes.data()),
                               static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
    EXPECT_EQ(QueryWide(scratch(), u"undefined"), std::u16string(u"x\u0081\u008D\u008F\u0090\u009D\u00FFy\0", 9));
    EXPECT_EQ(QueryBytes(scratch(), "undefined"), bytes);
}

// A narrow key path is converted into a buffer of MAX_PATH characters: a longer
// one fails with ERROR_MORE_DATA, whatever it names, and changes nothing. The
// wide calls take it, and a narrow path relative to an open key deep down is short.
TEST_P(RegistryConformance, NarrowKeyPathsLongerThanMaxPathFail) {
    std::string narrowPath = kScratch;
    {
        // Each level created from its parent's handle: no path is long.
        std::vector<UniqueKey> chain;
        chain.push_back(Open(scratch(), ""));
        for (int level = 0; level < 20; ++level) {
            char name[16];
            std::snprintf(name, sizeof name, "Level%02d_abcde", level);  // 13 characters
            chain.push_back(Create(chain.back().get(), name));
            narrowPath += std::string("\\") + name;
        }
    }
    ASSERT_EQ(narrowPath.size(), 302u);
    UniqueKey deep(reg());
    EXPECT_EQ(reg().OpenKeyEx(HKEY_CURRENT_USER, narrowPath.c_str(), KEY_READ, deep.put()), ERROR_MORE_DATA);
    EXPECT_EQ(reg().DeleteKey(HKEY_CURRENT_USER, narrowPath.c_str()), ERROR_MORE_DATA);
    std::u16string wide(narrowPath.begin(), narrowPath.end());
    EXPECT_EQ(OpenStatusW(HKEY_CURRENT_USER, wide), ERROR_SUCCESS) << "the leaf is still there";

    // 16 levels make 246 characters: short enough narrow, and the rest relative to it.
    const std::string upper = narrowPath.substr(0, std::string(kScratch).size() + 16 * 14);
    UniqueKey middle = Open(HKEY_CURRENT_USER, upper);
    EXPECT_EQ(OpenStatus(middle.get(), narrowPath.substr(upper.size() + 1)), ERROR_SUCCESS);
    EXPECT_EQ(reg().DeleteKeyW(HKEY_CURRENT_USER, wide.c_str()), ERROR_SUCCESS);

    // The limit is 260 characters, for every narrow call that takes a key path.
    const std::string prefix = std::string(kScratch) + "\\";
    const std::string at = prefix + std::string(260 - prefix.size(), 'x');
    const std::string over = prefix + std::string(261 - prefix.size(), 'y');
    EXPECT_EQ(OpenStatus(HKEY_CURRENT_USER, at), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(OpenStatus(HKEY_CURRENT_USER, over), ERROR_MORE_DATA);
    UniqueKey key(reg());
    EXPECT_EQ(reg().OpenKey(HKEY_CURRENT_USER, over.c_str(), key.put()), ERROR_MORE_DATA);
    EXPECT_EQ(reg().CreateKeyEx(HKEY_CURRENT_USER, over.c_str(), 0, KEY_ALL_ACCESS, key.put()), ERROR_MORE_DATA);
    EXPECT_EQ(OpenStatusW(HKEY_CURRENT_USER, std::u16string(over.begin(), over.end())), ERROR_FILE_NOT_FOUND)
        << "nothing was created";
    EXPECT_EQ(reg().CreateKeyEx(HKEY_CURRENT_USER, at.c_str(), 0, KEY_ALL_ACCESS, key.put()), ERROR_SUCCESS);
    key.reset();
    EXPECT_EQ(reg().DeleteKey(HKEY_CURRENT_USER, at.c_str()), ERROR_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(Registries, RegistryConformance,
#ifdef _WIN32
                         ::testing::Values(Kind::Memory, Kind::Advapi32, Kind::OverlayOnMemory,
                                           Kind::OverlayOnAdvapi32),
#else
                         ::testing::Values(Kind::Memory, Kind::OverlayOnMemory),
#endif
                         KindName);

}  // namespace
}  // namespace qz
