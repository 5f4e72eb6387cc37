// The product module's resources, read from the real module: under Wine the built
// DLL through the Win32 resource, icon and version functions; natively the shared
// library through the lookups it exports (dlopen/dlsym). One table of expectations
// serves both. The reader of compiled resources and the version block reader are
// checked here too, against damaged and hostile data.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>

#include "resources/resource_exports.h"
#endif

#include "module/module_strings.h"
#include "text/code_page.h"
#include "resources/res_reader.h"
#include "resources/resource_ids.h"
#include "resources/version_info.h"

namespace qz {
namespace {

using Bytes = std::vector<unsigned char>;

// ---------------------------------------------------------------------------------------
// What the module holds
// ---------------------------------------------------------------------------------------

struct StringCase {
    unsigned id;
    const char* text;  // Windows-1252, as LoadStringA gives it
};

const StringCase kStringTable[] = {
    {401, "Orvantis"},
    {402, "ovxf"},
    {403, "ovxd"},
    {404, "38.0"},
    {405, "38"},
    {406, "0"},
    {407, "0"},
    {408, "ovx"},
    {409, "Orvantis"},
    {411,
     "Copyright \xA9 1982-2026 Corvalen Process Systems Ltd.\r\nAll rights reserved.\r\n"
     "Orvantis and Tessaryn are trademarks of Corvalen Process Systems Ltd."},
    {412,
     "The flowsheet graphics and plot components of %s\xAE are supplied under licence by "
     "Lumetra Graphics GmbH."},
    {414, "QZ"},
    {416, "SS,OPT,INI,DYN,EST"},
    {418, "ovxl"},
    {419, "ovx"},
    {420, "ovxexamp"},
    {421, "pwk"},
    {422, "Orvantis Language"},
    {423, "Orvantis Document"},
    {424, "{8B371C11-D457-11d1-8A13-006097549CDB}"},
    {425, "Tessaryn"},
    {426, "Tavrin Model Library"},
    {427, "{3209ADC4-9264-11D1-B147-00A024F1AC65}"},
    {428, "{8B371C12-D457-11d1-8A13-006097549CDB}"},
    {429, "Modeler.ovxl"},
    {430, "OnNewDocumentScript.vb"},
    {432, "TRUE"},
    {433, "FALSE"},
    {435, "Orvantis Language"},
    {436, "Orvantis Document"},
    {437, "Tessaryn Library"},
    {438, "modeler.ovxl"},
    {439, "OVX Application"},
    {440, "{FDE14674-8E3D-0380-878A-2E97C127D967}"},
    {441, "OnCloseDocumentScript.vb"},
    {442, "OnPreOpenDocumentScript.vb"},
    {443, "OnSaveDocumentScript.vb"},
    {444, "OnPostOpenDocumentScript.vb"},
    {445, "{OVX_338AB19E-62E5-464A-B14B-8061AC7537E3}"},
    {446, "1982"},
    {448, "OnSystemNewDocumentScript.vb"},
    // Ids that name no string: the bitmap, the icon groups, the gap, and both neighbours.
    {IDB_SPLASH, ""},
    {IDI_PRODUCT_LEGACY, ""},
    {IDI_PRODUCT, ""},
    {IDI_PRODUCT_2, ""},
    {IDI_PRODUCT_3, ""},
    {IDI_PRODUCT_4, ""},
    {447, ""},
    {400, ""},
    {449, ""},
    {1, ""},
};

struct IconImage {
    int size;
    int bitCount;
};

const IconImage kLegacyImages[] = {{16, 4}, {16, 8}, {32, 4}, {32, 8}};
const IconImage kMarkImages[] = {{16, 32}, {24, 32}, {32, 32}, {40, 32},
                                 {48, 32}, {64, 32}, {128, 32}, {256, 32}};

struct IconGroupCase {
    unsigned id;
    const IconImage* images;
    std::size_t count;
};

// In ascending id order, which is the icon index order.
const IconGroupCase kIconGroups[] = {
    {IDI_PRODUCT_LEGACY, kLegacyImages, 4}, {IDI_PRODUCT, kMarkImages, 8},
    {IDI_PRODUCT_2, kMarkImages, 8},        {IDI_PRODUCT_3, kMarkImages, 8},
    {IDI_PRODUCT_4, kMarkImages, 8},
};

struct VersionStringCase {
    const char* key;
    const char* text;
};

// In stored order.
const VersionStringCase kVersionStrings[] = {
    {"CompanyName", "Corvalen Process Systems Ltd."},
    {"FileDescription", "Orvantis Customisation"},
    {"FileVersion", "38,0,0,380"},
    {"InternalName", "Tessaryn Client"},
    {"LegalCopyright", "Copyright \xA9 1982-2026 Corvalen Process Systems Ltd."},
    {"OriginalFilename", "qzproduct.DLL"},
    {"ProductName", "Orvantis"},
    {"ProductVersion", "38,0,0,0"},
};

constexpr unsigned kRtIcon = 3;
constexpr unsigned kRtBitmap = 2;
constexpr unsigned kRtGroupIcon = 14;
constexpr unsigned kRtVersion = 16;
constexpr unsigned kRtManifest = 24;

std::uint16_t Word(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t Dword(const unsigned char* p) {
    return static_cast<std::uint32_t>(Word(p)) | (static_cast<std::uint32_t>(Word(p + 2)) << 16);
}
std::int32_t Long(const unsigned char* p) { return static_cast<std::int32_t>(Dword(p)); }

// ---------------------------------------------------------------------------------------
// The module under test
// ---------------------------------------------------------------------------------------

#ifdef _WIN32

// The build passes the DLL's Linux path; Wine shows the Linux root as drive Z:.
std::string ModuleWindowsPath() {
    std::string path = std::string("Z:") + QZ_MODULE_FILE;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

class LoadedModule {
public:
    static LoadedModule& Get() {
        static LoadedModule module;
        return module;
    }

    bool loaded() const { return module_ != nullptr; }

    int ReadString(unsigned id, char* buffer, int size) { return ::LoadStringA(module_, id, buffer, size); }

    Bytes Find(unsigned type, unsigned id) {
        HRSRC found = ::FindResourceExA(module_, MAKEINTRESOURCEA(type), MAKEINTRESOURCEA(id),
                                        MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
        if (found == nullptr) return {};
        HGLOBAL handle = ::LoadResource(module_, found);
        const auto* data = static_cast<const unsigned char*>(::LockResource(handle));
        const DWORD size = ::SizeofResource(module_, found);
        return data != nullptr ? Bytes(data, data + size) : Bytes();
    }

    // EnumResourceNamesA order: what the shell's icon index counts.
    std::vector<unsigned> Ids(unsigned type) {
        std::vector<unsigned> ids;
        ::EnumResourceNamesA(module_, MAKEINTRESOURCEA(type), &CollectName, reinterpret_cast<LONG_PTR>(&ids));
        return ids;
    }

    HMODULE handle() const { return module_; }

private:
    LoadedModule() : module_(::LoadLibraryA(ModuleWindowsPath().c_str())) {}

    static BOOL CALLBACK CollectName(HMODULE, LPCSTR, LPSTR name, LONG_PTR param) {
        auto* ids = reinterpret_cast<std::vector<unsigned>*>(param);
        // A named resource has no place in the module: record it as an impossible id.
        ids->push_back(IS_INTRESOURCE(name) ? static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(name))
                                            : 0xFFFFFFFFu);
        return TRUE;
    }

    HMODULE module_;
};

#else

class LoadedModule {
public:
    static LoadedModule& Get() {
        static LoadedModule module;
        return module;
    }

    bool loaded() const { return loadString_ != nullptr && findResource_ != nullptr && enumIds_ != nullptr; }

    int ReadString(unsigned id, char* buffer, int size) { return loadString_(id, buffer, size); }

    Bytes Find(unsigned type, unsigned id) {
        unsigned size = 0;
        const auto* data = static_cast<const unsigned char*>(findResource_(type, id, &size));
        return data != nullptr ? Bytes(data, data + size) : Bytes();
    }

    std::vector<unsigned> Ids(unsigned type) {
        const unsigned count = enumIds_(type, nullptr, 0);
        std::vector<unsigned> ids(count);
        const unsigned again = enumIds_(type, ids.data(), count);
        EXPECT_EQ(again, count);
        return ids;
    }

    QzLoadStringFunction loadString() const { return loadString_; }
    QzFindResourceFunction findResource() const { return findResource_; }
    QzEnumResourceIdsFunction enumIds() const { return enumIds_; }

private:
    LoadedModule() : library_(::dlopen(QZ_MODULE_FILE, RTLD_NOW | RTLD_LOCAL)) {
        if (library_ == nullptr) return;
        loadString_ = reinterpret_cast<QzLoadStringFunction>(::dlsym(library_, "QzLoadString"));
        findResource_ = reinterpret_cast<QzFindResourceFunction>(::dlsym(library_, "QzFindResource"));
        enumIds_ = reinterpret_cast<QzEnumResourceIdsFunction>(::dlsym(library_, "QzEnumResourceIds"));
    }

    void* library_;
    QzLoadStringFunction loadString_ = nullptr;
    QzFindResourceFunction findResource_ = nullptr;
    QzEnumResourceIdsFunction enumIds_ = nullptr;
};

#endif

class ModuleResources : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(module().loaded()) << "could not load " << QZ_MODULE_FILE; }
    static LoadedModule& module() { return LoadedModule::Get(); }
};

// ---------------------------------------------------------------------------------------
// Strings
// ---------------------------------------------------------------------------------------

TEST_F(ModuleResources, StringTableReadsAsStored) {
    for (const StringCase& row : kStringTable) {
        char buffer[512];
        std::memset(buffer, 'Z', sizeof buffer);
        const int length = module().ReadString(row.id, buffer, sizeof buffer);
        EXPECT_EQ(std::string(buffer), row.text) << "string " << row.id;
        EXPECT_EQ(length, static_cast<int>(std::strlen(row.text))) << "string " << row.id;
    }
}

// The registration reads the same table in UTF-8 (the table above is in the
// system code page, as LoadStringA gives it): © and ® arrive whole.
TEST_F(ModuleResources, ModuleStringSourceReadsTheSameTableInUtf8) {
    for (const StringCase& row : kStringTable) {
        EXPECT_EQ(ModuleStrings().Load(row.id), Utf16ToUtf8(NarrowToWide(row.text))) << "string " << row.id;
    }
}

TEST_F(ModuleResources, StringLoadStopsAtTheBufferSize) {
    struct Case {
        unsigned id;
        int size;
        const char* text;
    };
    const Case cases[] = {
        {IDS_PRODUCT_NAME, 1, ""},        {IDS_PRODUCT_NAME, 4, "Orv"},
        {IDS_PRODUCT_NAME, 8, "Orvanti"}, {IDS_PRODUCT_NAME, 9, "Orvantis"},
        {IDS_PRODUCT_NAME, 64, "Orvantis"}, {447, 16, ""},
    };
    for (const Case& c : cases) {
        char buffer[80];
        std::memset(buffer, 'Z', sizeof buffer);
        const int length = module().ReadString(c.id, buffer, c.size);
        EXPECT_EQ(std::string(buffer), c.text) << c.id << " into " << c.size;
        EXPECT_EQ(length, static_cast<int>(std::strlen(c.text))) << c.id << " into " << c.size;
        for (int i = c.size; i < static_cast<int>(sizeof buffer); ++i) {
            ASSERT_EQ(buffer[i], 'Z') << "byte " << i << " written past a buffer of " << c.size;
        }
    }
}

#ifndef _WIN32
TEST_F(ModuleResources, ExportedLookupsComeFromTheSharedLibrary) {
    Dl_info info{};
    ASSERT_NE(::dladdr(reinterpret_cast<void*>(module().loadString()), &info), 0);
    EXPECT_NE(std::string(info.dli_fname).find("libqzproduct.so"), std::string::npos) << info.dli_fname;
}

TEST_F(ModuleResources, ExportedLookupsRefuseMissingBuffers) {
    char buffer[4] = {'Z', 'Z', 'Z', 'Z'};
    EXPECT_EQ(module().loadString()(IDS_PRODUCT_NAME, nullptr, 16), 0);
    EXPECT_EQ(module().loadString()(IDS_PRODUCT_NAME, buffer, 0), 0);
    EXPECT_EQ(module().loadString()(IDS_PRODUCT_NAME, buffer, -5), 0);
    EXPECT_EQ(buffer[0], 'Z');

    unsigned size = 1234;
    EXPECT_EQ(module().findResource()(kRtBitmap, 447, &size), nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_NE(module().findResource()(kRtBitmap, IDB_SPLASH, nullptr), nullptr);

    unsigned ids[2] = {0, 0};
    EXPECT_EQ(module().enumIds()(kRtGroupIcon, ids, 2), 5u);
    EXPECT_EQ(ids[0], 413u);
    EXPECT_EQ(ids[1], 415u);
    EXPECT_EQ(module().enumIds()(99, ids, 2), 0u);
}
#endif

// ---------------------------------------------------------------------------------------
// Icons
// ---------------------------------------------------------------------------------------

TEST_F(ModuleResources, IconGroupsEnumerateInIdOrder) {
    std::vector<unsigned> expected;
    for (const IconGroupCase& group : kIconGroups) expected.push_back(group.id);
    EXPECT_EQ(module().Ids(kRtGroupIcon), expected);
}

// Checks one icon image: a DIB (no PNG) whose header describes the expected square
// picture with its AND mask below it (height = 2 x width), large enough for both
// bitmaps, transparent in the corner and opaque in the middle.
void ExpectIconImage(const Bytes& image, const IconImage& expected, const std::string& what) {
    ASSERT_GE(image.size(), 40u) << what;
    ASSERT_NE(std::memcmp(image.data(), "\x89PNG", 4), 0) << what << " is a PNG";
    EXPECT_EQ(Dword(&image[0]), 40u) << what;
    const std::int32_t width = Long(&image[4]);
    EXPECT_EQ(width, expected.size) << what;
    EXPECT_EQ(Long(&image[8]), 2 * expected.size) << what;
    EXPECT_EQ(Word(&image[12]), 1) << what;
    EXPECT_EQ(Word(&image[14]), expected.bitCount) << what;
    EXPECT_EQ(Dword(&image[16]), 0u) << what << " is compressed";

    const std::size_t size = static_cast<std::size_t>(expected.size);
    const std::size_t colours = expected.bitCount <= 8 ? (std::size_t{1} << expected.bitCount) : 0;
    const std::size_t colourStride = (size * expected.bitCount + 31) / 32 * 4;
    const std::size_t maskStride = (size + 31) / 32 * 4;
    const std::size_t colourOffset = 40 + 4 * colours;
    const std::size_t maskOffset = colourOffset + colourStride * size;
    ASSERT_EQ(image.size(), maskOffset + maskStride * size) << what;

    // Rows are stored bottom-up: row 0 of the file is the bottom row of the picture.
    auto masked = [&](std::size_t x, std::size_t y) {
        return (image[maskOffset + (size - 1 - y) * maskStride + x / 8] & (0x80 >> (x % 8))) != 0;
    };
    EXPECT_TRUE(masked(0, 0)) << what << ": the top left corner is not transparent";
    EXPECT_FALSE(masked(size / 2, size / 2)) << what << ": the middle is transparent";
    if (expected.bitCount == 32) {
        auto alpha = [&](std::size_t x, std::size_t y) {
            return image[colourOffset + (size - 1 - y) * colourStride + 4 * x + 3];
        };
        EXPECT_EQ(alpha(0, 0), 0) << what;
        EXPECT_EQ(alpha(size / 2, size / 2), 255) << what;
    }
}

TEST_F(ModuleResources, IconGroupsHoldThirtySixDibImages) {
    std::set<unsigned> iconIds;
    std::vector<Bytes> markImages;  // the images of 415, which the other mark groups repeat
    for (const IconGroupCase& group : kIconGroups) {
        const std::string name = "icon group " + std::to_string(group.id);
        const Bytes dir = module().Find(kRtGroupIcon, group.id);
        ASSERT_GE(dir.size(), 6u) << name;
        EXPECT_EQ(Word(&dir[0]), 0) << name;
        EXPECT_EQ(Word(&dir[2]), 1) << name;
        ASSERT_EQ(Word(&dir[4]), group.count) << name;
        ASSERT_EQ(dir.size(), 6 + 14 * group.count) << name;
        for (std::size_t i = 0; i < group.count; ++i) {
            const unsigned char* entry = &dir[6 + 14 * i];
            const IconImage& expected = group.images[i];
            const std::string what = name + " image " + std::to_string(i);
            EXPECT_EQ(entry[0], expected.size == 256 ? 0 : expected.size) << what;
            EXPECT_EQ(entry[1], expected.size == 256 ? 0 : expected.size) << what;
            EXPECT_EQ(entry[2], expected.bitCount == 4 ? 16 : 0) << what;
            EXPECT_EQ(Word(entry + 4), 1) << what;
            EXPECT_EQ(Word(entry + 6), expected.bitCount) << what;
            const unsigned iconId = Word(entry + 12);
            EXPECT_TRUE(iconIds.insert(iconId).second) << what << " shares icon " << iconId;
            const Bytes image = module().Find(kRtIcon, iconId);
            EXPECT_EQ(image.size(), Dword(entry + 8)) << what;
            ExpectIconImage(image, expected, what);
            if (group.id == IDI_PRODUCT) {
                markImages.push_back(image);
            } else if (group.images == kMarkImages) {
                EXPECT_TRUE(image == markImages.at(i)) << what << " is not the product mark";
            }
        }
    }
    EXPECT_EQ(iconIds.size(), 36u);
    EXPECT_EQ(module().Ids(kRtIcon).size(), 36u);
}

// ---------------------------------------------------------------------------------------
// Splash bitmap, version block, manifest
// ---------------------------------------------------------------------------------------

TEST_F(ModuleResources, SplashIsA256ColourBottomUpBitmap) {
    const Bytes dib = module().Find(kRtBitmap, IDB_SPLASH);
    ASSERT_EQ(dib.size(), 40u + 256 * 4 + 500 * 324);
    EXPECT_EQ(Dword(&dib[0]), 40u);
    EXPECT_EQ(Long(&dib[4]), 500);
    EXPECT_EQ(Long(&dib[8]), 324);  // positive: bottom-up
    EXPECT_EQ(Word(&dib[12]), 1);
    EXPECT_EQ(Word(&dib[14]), 8);
    EXPECT_EQ(Dword(&dib[16]), 0u);  // BI_RGB
    const std::uint32_t imageSize = Dword(&dib[20]);
    EXPECT_TRUE(imageSize == 0 || imageSize == 500u * 324u) << imageSize;
    const std::uint32_t coloursUsed = Dword(&dib[32]);
    EXPECT_TRUE(coloursUsed == 0 || coloursUsed == 256) << coloursUsed;
    // A picture, not a blank: most of the palette is in use.
    std::set<unsigned char> used(dib.begin() + 40 + 1024, dib.end());
    EXPECT_GT(used.size(), 200u);
}

TEST_F(ModuleResources, NoOtherBitmapsOrManifests) {
    EXPECT_EQ(module().Ids(kRtBitmap), std::vector<unsigned>{IDB_SPLASH});
    EXPECT_EQ(module().Ids(kRtManifest), std::vector<unsigned>{IDR_MANIFEST});
    EXPECT_EQ(module().Ids(kRtVersion), std::vector<unsigned>{IDR_VERSION});
}

void ExpectProductVersionBlock(const VersionInfo& info) {
    EXPECT_EQ(info.fixed.signature, kFixedFileInfoSignature);
    EXPECT_EQ(info.fixed.fileVersionMS, (38u << 16) | 0u);
    EXPECT_EQ(info.fixed.fileVersionLS, (0u << 16) | 380u);
    EXPECT_EQ(info.fixed.productVersionMS, (38u << 16) | 0u);
    EXPECT_EQ(info.fixed.productVersionLS, 0u);
    EXPECT_EQ(info.fixed.fileFlagsMask, 0x3Fu);
    EXPECT_EQ(info.fixed.fileFlags, 0u);
    EXPECT_EQ(info.fixed.fileOS, 0x4u);
    EXPECT_EQ(info.fixed.fileType, 0x2u);
    EXPECT_EQ(info.fixed.fileSubtype, 0u);
    ASSERT_EQ(info.stringTables.size(), 1u);
    EXPECT_EQ(info.stringTables[0].name, "040904b0");
    std::vector<std::pair<std::string, std::string>> expected;
    for (const VersionStringCase& row : kVersionStrings) expected.emplace_back(row.key, row.text);
    EXPECT_EQ(info.stringTables[0].entries, expected);
    EXPECT_EQ(info.translations, std::vector<std::uint32_t>{0x04B00409u});
}

TEST_F(ModuleResources, VersionBlockHoldsTheFileVersionInBothForms) {
    const Bytes block = module().Find(kRtVersion, IDR_VERSION);
    VersionInfo info;
    ASSERT_TRUE(ParseVersionInfo(block.data(), block.size(), info));
    ExpectProductVersionBlock(info);
}

TEST_F(ModuleResources, LegalCopyrightIsTheFirstLineOfTheCopyrightNotice) {
    char buffer[512];
    module().ReadString(IDS_COPYRIGHT, buffer, sizeof buffer);
    const std::string notice(buffer);
    const std::string copyright = std::find_if(std::begin(kVersionStrings), std::end(kVersionStrings),
                                               [](const VersionStringCase& row) {
                                                   return std::string(row.key) == "LegalCopyright";
                                               })->text;
    EXPECT_EQ(notice.substr(0, notice.find("\r\n")), copyright);
}

TEST_F(ModuleResources, ManifestAsksForTheCallersRightsAndDeclaresDpiAwareness) {
    const Bytes manifest = module().Find(kRtManifest, IDR_MANIFEST);
    const std::string text(manifest.begin(), manifest.end());
    EXPECT_NE(text.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"), std::string::npos)
        << text;
    EXPECT_NE(text.find(">true</dpiAware>"), std::string::npos) << text;
    EXPECT_EQ(text.find("requireAdministrator"), std::string::npos);
}

#ifdef _WIN32

// What the shell and the system see, through their own functions.

TEST_F(ModuleResources, ShellExtractsOneIconPerGroupIndex) {
    using ExtractIconExAFunction = UINT(WINAPI*)(LPCSTR, int, HICON*, HICON*, UINT);
    HMODULE shell = ::LoadLibraryA("shell32.dll");
    ASSERT_NE(shell, nullptr);
    const auto extract =
        reinterpret_cast<ExtractIconExAFunction>(reinterpret_cast<void*>(::GetProcAddress(shell, "ExtractIconExA")));
    ASSERT_NE(extract, nullptr);
    const std::string path = ModuleWindowsPath();
    EXPECT_EQ(extract(path.c_str(), -1, nullptr, nullptr, 0), 5u);
    for (int index = 0; index < 5; ++index) {
        HICON largeIcon = nullptr;
        HICON smallIcon = nullptr;
        EXPECT_GT(extract(path.c_str(), index, &largeIcon, &smallIcon, 1), 0u) << "index " << index;
        EXPECT_NE(largeIcon, nullptr) << "index " << index;
        EXPECT_NE(smallIcon, nullptr) << "index " << index;
        if (largeIcon != nullptr) ::DestroyIcon(largeIcon);
        if (smallIcon != nullptr) ::DestroyIcon(smallIcon);
    }
    // Past the last group: nothing is extracted (Wine may leave junk in the outputs
    // then, so only the count and a single-output call are looked at).
    HICON largeIcon = nullptr;
    HICON smallIcon = nullptr;
    EXPECT_EQ(extract(path.c_str(), 5, &largeIcon, &smallIcon, 1), 0u);
    HICON only = nullptr;
    EXPECT_EQ(extract(path.c_str(), 5, &only, nullptr, 1), 0u);
    EXPECT_EQ(only, nullptr);
    ::FreeLibrary(shell);
}

TEST_F(ModuleResources, HostLoadsIconsAndSplashById) {
    for (const IconGroupCase& group : kIconGroups) {
        for (std::size_t i = 0; i < group.count; ++i) {
            const int size = group.images[i].size;
            HANDLE icon = ::LoadImageA(module().handle(), MAKEINTRESOURCEA(group.id), IMAGE_ICON, size, size, 0);
            EXPECT_NE(icon, nullptr) << "group " << group.id << " at " << size;
            if (icon != nullptr) ::DestroyIcon(static_cast<HICON>(icon));
        }
    }
    HANDLE splash = ::LoadImageA(module().handle(), MAKEINTRESOURCEA(IDB_SPLASH), IMAGE_BITMAP, 0, 0, 0);
    EXPECT_NE(splash, nullptr);
    if (splash != nullptr) ::DeleteObject(splash);
}

TEST_F(ModuleResources, FilePropertiesShowTheProductVersion) {
    const std::string path = ModuleWindowsPath();
    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(path.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<unsigned char> block(size);
    ASSERT_TRUE(::GetFileVersionInfoA(path.c_str(), 0, size, block.data()));

    // The block the system hands out is the resource itself: the portable reader reads it too.
    VersionInfo parsed;
    ASSERT_TRUE(ParseVersionInfo(block.data(), block.size(), parsed));
    ExpectProductVersionBlock(parsed);

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    ASSERT_TRUE(::VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedSize));
    ASSERT_EQ(fixedSize, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(HIWORD(fixed->dwFileVersionMS), 38);
    EXPECT_EQ(LOWORD(fixed->dwFileVersionMS), 0);
    EXPECT_EQ(HIWORD(fixed->dwFileVersionLS), 0);
    EXPECT_EQ(LOWORD(fixed->dwFileVersionLS), 380);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
    for (const VersionStringCase& row : kVersionStrings) {
        const std::string query = std::string("\\StringFileInfo\\040904b0\\") + row.key;
        char* text = nullptr;
        UINT length = 0;
        ASSERT_TRUE(::VerQueryValueA(block.data(), query.c_str(), reinterpret_cast<void**>(&text), &length))
            << row.key;
        EXPECT_EQ(std::string(text), row.text) << row.key;
    }
    WORD* translation = nullptr;
    UINT translationSize = 0;
    ASSERT_TRUE(::VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                                 &translationSize));
    ASSERT_EQ(translationSize, 4u);
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 0x04B0);
}

#endif

// ---------------------------------------------------------------------------------------
// The reader of compiled resources, on damaged and hostile files
// ---------------------------------------------------------------------------------------

struct SyntheticResource {
    unsigned type;
    unsigned id;
    unsigned language;
    Bytes data;
    std::u16string typeName = u"";  // a text type instead of a number, when not empty
};

void PutWord(Bytes& out, unsigned value) {
    out.push_back(static_cast<unsigned char>(value & 0xFF));
    out.push_back(static_cast<unsigned char>((value >> 8) & 0xFF));
}

void PutDword(Bytes& out, std::uint32_t value) {
    PutWord(out, value & 0xFFFF);
    PutWord(out, value >> 16);
}

void PadTo4(Bytes& out) {
    while (out.size() % 4 != 0) out.push_back(0);
}

// Appends one entry as windres lays it out; returns the offset of its data.
std::size_t PutEntry(Bytes& out, const SyntheticResource& resource) {
    Bytes header;
    if (resource.typeName.empty()) {
        PutWord(header, 0xFFFF);
        PutWord(header, resource.type);
    } else {
        for (char16_t unit : resource.typeName) PutWord(header, unit);
        PutWord(header, 0);
    }
    PutWord(header, 0xFFFF);
    PutWord(header, resource.id);
    while ((header.size() + 8) % 4 != 0) header.push_back(0);
    PutDword(header, 0);       // DataVersion
    PutWord(header, 0x1030);   // MemoryFlags
    PutWord(header, resource.language);
    PutDword(header, 0);       // Version
    PutDword(header, 0);       // Characteristics
    PutDword(out, static_cast<std::uint32_t>(resource.data.size()));
    PutDword(out, static_cast<std::uint32_t>(header.size() + 8));
    out.insert(out.end(), header.begin(), header.end());
    const std::size_t dataOffset = out.size();
    out.insert(out.end(), resource.data.begin(), resource.data.end());
    PadTo4(out);
    return dataOffset;
}

Bytes ResImage(const std::vector<SyntheticResource>& resources, std::vector<std::size_t>* ends = nullptr) {
    Bytes out;
    PutEntry(out, SyntheticResource{0, 0, 0, {}});
    for (const SyntheticResource& resource : resources) {
        const std::size_t offset = PutEntry(out, resource);
        if (ends != nullptr) ends->push_back(offset + resource.data.size());
    }
    return out;
}

Bytes StringBlock(const std::vector<std::u16string>& strings) {
    Bytes out;
    for (std::size_t i = 0; i < 16; ++i) {
        const std::u16string text = i < strings.size() ? strings[i] : u"";
        PutWord(out, static_cast<unsigned>(text.size()));
        for (char16_t unit : text) PutWord(out, unit);
    }
    return out;
}

// Strings 0..15 are block 1; 32 (block 3) is the "x" below, 33 "€é", 34 "ĀŻ".
std::vector<SyntheticResource> SampleResources() {
    return {
        {kResourceTypeString, 1, 0x0409, StringBlock({u"zero", u"", u"two"})},
        {kRtBitmap, 410, 0x0409, Bytes{1, 2, 3, 4, 5}},
        {kRtBitmap, 410, 0x0407, Bytes{9, 9}},
        {kRtGroupIcon, 431, 0x0409, Bytes(14, 7)},
        {kRtGroupIcon, 413, 0x0409, Bytes(20, 3)},
        {kResourceTypeString, 3, 0x0409, StringBlock({u"x", u"\u20AC\u00E9", u"\u0100\u017B"})},
    };
}

TEST(ResourceFileReader, FindsResourcesByTypeIdAndLanguage) {
    const std::vector<SyntheticResource> resources = SampleResources();
    const Bytes image = ResImage(resources);
    const ResourceFile file(image.data(), image.size());
    EXPECT_EQ(file.size(), resources.size());
    for (const SyntheticResource& resource : resources) {
        const ResourceData found = file.Find(resource.type, resource.id, resource.language);
        ASSERT_TRUE(found.found()) << resource.type << "/" << resource.id;
        EXPECT_EQ(Bytes(found.data, found.data + found.size), resource.data);
    }
    EXPECT_FALSE(file.Find(kRtBitmap, 410, 0x040C).found());
    EXPECT_FALSE(file.Find(kRtBitmap, 411).found());
    EXPECT_EQ(file.Ids(kRtGroupIcon), (std::vector<unsigned>{413, 431}));
    EXPECT_EQ(file.Ids(kRtBitmap), std::vector<unsigned>{410});
    EXPECT_TRUE(file.Ids(kRtIcon).empty());
}

TEST(ResourceFileReader, LoadsStringsAsLoadStringADoes) {
    const Bytes image = ResImage(SampleResources());
    const ResourceFile file(image.data(), image.size());
    EXPECT_EQ(file.LoadNarrowString(0), "zero");
    EXPECT_EQ(file.LoadNarrowString(1), "");
    EXPECT_EQ(file.LoadNarrowString(2), "two");
    EXPECT_EQ(file.LoadNarrowString(15), "");
    EXPECT_EQ(file.LoadNarrowString(16), "");  // block 2 is missing
    EXPECT_EQ(file.LoadNarrowString(32), "x");
    EXPECT_EQ(file.LoadNarrowString(33), "\x80\xE9");  // Windows-1252
    EXPECT_EQ(file.LoadNarrowString(34), "??");        // no Windows-1252 byte
    EXPECT_EQ(file.LoadWideString(34), u"\u0100\u017B");
    EXPECT_EQ(file.LoadNarrowString(0x10000 + 32), "");
    EXPECT_EQ(file.LoadNarrowString(0, 0x0407), "");
}

TEST(ResourceFileReader, TruncatedFileKeepsWhatIsWholeAndReadsNothingBeyond) {
    const std::vector<SyntheticResource> resources = SampleResources();
    std::vector<std::size_t> ends;
    const Bytes image = ResImage(resources, &ends);
    for (std::size_t cut = 0; cut < image.size(); ++cut) {
        // An allocation of exactly `cut` bytes: the sanitizers catch any read past it.
        const Bytes prefix(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(cut));
        const ResourceFile file(prefix.data(), prefix.size());
        for (std::size_t i = 0; i < resources.size(); ++i) {
            const SyntheticResource& resource = resources[i];
            const ResourceData found = file.Find(resource.type, resource.id, resource.language);
            if (ends[i] <= cut) {
                ASSERT_TRUE(found.found()) << "resource " << i << " cut at " << cut;
            }
            if (found.found()) {
                ASSERT_LE(found.data + found.size, prefix.data() + prefix.size()) << "cut at " << cut;
                ASSERT_EQ(Bytes(found.data, found.data + found.size), resource.data) << "cut at " << cut;
            }
        }
        for (unsigned id = 0; id < 48; ++id) file.LoadNarrowString(id);
    }
}

TEST(ResourceFileReader, HostileSizesEndTheIndex) {
    struct Case {
        const char* what;
        std::size_t offset;  // into the entry after the leading empty one
        std::uint32_t value;
    };
    const Case cases[] = {
        {"data size beyond the file", 0, 0xFFFFFFF0u},
        {"header size beyond the file", 4, 0xFFFFFFF0u},
        {"header size too small for its fields", 4, 12},
        {"header size of zero", 4, 0},
        {"type text running past the header", 8, 0x00410041u},
    };
    for (const Case& c : cases) {
        Bytes image = ResImage({{kRtBitmap, 410, 0x0409, Bytes(8, 1)}, {kRtBitmap, 411, 0x0409, Bytes(4, 2)}});
        if (std::string(c.what).find("type text") != std::string::npos) {
            // Fill the whole header after the sizes with non-zero UTF-16 units.
            for (std::size_t i = 32 + 8; i < 32 + 32; ++i) image[i] = 0x41;
        } else {
            image[32 + c.offset + 0] = static_cast<unsigned char>(c.value);
            image[32 + c.offset + 1] = static_cast<unsigned char>(c.value >> 8);
            image[32 + c.offset + 2] = static_cast<unsigned char>(c.value >> 16);
            image[32 + c.offset + 3] = static_cast<unsigned char>(c.value >> 24);
        }
        const ResourceFile file(image.data(), image.size());
        EXPECT_EQ(file.size(), 0u) << c.what;
        EXPECT_FALSE(file.Find(kRtBitmap, 411).found()) << c.what;
    }
}

TEST(ResourceFileReader, DamagedStringBlockReadsAsMissingFromTheDamageOn) {
    Bytes block = StringBlock({u"ok", u"long"});
    block.resize(2 + 4 + 2 + 3);  // "ok", then a length of 4 with only 1.5 characters left
    const Bytes image = ResImage({{kResourceTypeString, 1, 0x0409, block}});
    const ResourceFile file(image.data(), image.size());
    EXPECT_EQ(file.LoadNarrowString(0), "ok");
    EXPECT_EQ(file.LoadNarrowString(1), "");
    EXPECT_EQ(file.LoadNarrowString(2), "");
    EXPECT_EQ(file.LoadNarrowString(15), "");
}

TEST(ResourceFileReader, SkipsNamedTypesAndReadsOn) {
    const Bytes image = ResImage({{0, 5, 0x0409, Bytes{1}, u"PNG"}, {kRtBitmap, 410, 0x0409, Bytes{2}}});
    const ResourceFile file(image.data(), image.size());
    EXPECT_EQ(file.size(), 1u);
    EXPECT_TRUE(file.Find(kRtBitmap, 410).found());
    EXPECT_FALSE(file.Find(0, 5).found());
}

TEST(ResourceFileReader, NoImageIndexesNothing) {
    const ResourceFile none(nullptr, 100);
    EXPECT_EQ(none.size(), 0u);
    EXPECT_EQ(none.LoadNarrowString(401), "");
}

// ---------------------------------------------------------------------------------------
// The version block reader, on damaged blocks
// ---------------------------------------------------------------------------------------

TEST_F(ModuleResources, VersionBlockReaderRejectsEveryTruncation) {
    const Bytes block = module().Find(kRtVersion, IDR_VERSION);
    ASSERT_GE(block.size(), 6u);
    const std::size_t length = Word(&block[0]);
    ASSERT_LE(length, block.size());
    for (std::size_t cut = 0; cut < length; ++cut) {
        const Bytes prefix(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(cut));
        VersionInfo info;
        ASSERT_FALSE(ParseVersionInfo(prefix.data(), prefix.size(), info)) << "cut at " << cut;
    }
}

TEST_F(ModuleResources, VersionBlockReaderRejectsAnEmptyChildNode) {
    Bytes block = module().Find(kRtVersion, IDR_VERSION);
    ASSERT_GE(block.size(), 6u);
    // The first child (StringFileInfo) starts after the header, the key and the fixed part.
    const std::size_t key = 6 + 2 * (std::strlen("VS_VERSION_INFO") + 1);
    const std::size_t child = ((key + 3) & ~std::size_t{3}) + 52;
    ASSERT_LT(child + 2, block.size());
    block[child] = 0;
    block[child + 1] = 0;
    VersionInfo info;
    EXPECT_FALSE(ParseVersionInfo(block.data(), block.size(), info));
}

}  // namespace
}  // namespace qz
