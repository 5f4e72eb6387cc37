// The shared key paths are fixed texts built from the fixed system version.
#include <gtest/gtest.h>

#include "registration/product_lookups.h"
#include "resources/resource_ids.h"
#include "tests/support/test_services.h"

namespace qz {
namespace {

TEST(SystemPaths, AreBuiltFromTheFixedVersionWhateverTheStringTableHolds) {
    test::OverridableStrings strings;
    strings.Set(IDS_VERSION, "99.9");
    strings.Set(IDS_VERSION_MAJOR, "99");
    strings.Set(IDS_VERSION_MINOR, "9");
    ScopedServices services(ModuleServices{nullptr, nullptr, &strings});
    EXPECT_EQ(SystemVersionString(), "38.0");
    EXPECT_EQ(SystemDirKeyPath(), "Software\\Corvalen\\ZURedore\\38.0\\Dir");
    EXPECT_EQ(SystemOptionsKeyPath(), "Software\\Corvalen\\ZURedore\\38.0\\Options");
    EXPECT_EQ(SystemOptionsSubkeyPath(), "ZURedore\\38.0\\Options");
}

}  // namespace
}  // namespace qz
