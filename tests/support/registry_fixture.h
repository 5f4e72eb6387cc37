// A gtest fixture for tests of registration steps and registry helpers.
//
// Each test gets a fresh in-memory registry seen through a fault injector, a
// recording error reporter and the module's own string table (overridable), all
// installed as the module's services for the test's duration:
//
//   class MyStepTest : public qz::test::RegistryFixture {};
//   TEST_F(MyStepTest, WritesTheKey) {
//       Seed(R"(REGEDIT4
//   [HKEY_LOCAL_MACHINE\Software\Corvalen\ZURedore\38.0\Dir]
//   "bin"="C:\\ZU\\bin"
//   )");
//       registry.Fail(qz::RegOp::SetValue, "HKEY_CLASSES_ROOT\\X").OnValue("");
//       RegisterSomething(1);
//       EXPECT_EQ(StringValue("HKCR\\X\\shell", ""), "open");
//       EXPECT_EQ(reporter.messages.size(), 1u);
//       std::cout << registry.FormatCalls();   // every call in order, full key paths
//   }
//
// Paths are full key paths: "HKEY_LOCAL_MACHINE\Software\X", or with HKLM, HKCU,
// HKCR; HKEY_CLASSES_ROOT is the machine's Software\Classes. Every text the
// helpers take or give (paths, names, data, .reg text) is UTF-8. Seeding and the
// inspection helpers read and write the memory registry directly: they are not
// in the fault injector's log and no fault touches them. TearDown fails the
// test when a key handle was left open.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "registration/module_state.h"
#include "registry/memory/fault_injecting_registry.h"
#include "registry/memory/memory_registry.h"
#include "tests/support/test_services.h"

namespace qz::test {

class RegistryFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Imports .reg text (UTF-8, header "Windows Registry Editor Version 5.00" or
    // "REGEDIT4") into the memory registry; a malformed text fails the test and
    // changes nothing.
    void Seed(const std::string& regText);

    // The .reg text of that key and everything below it, in the layout of Wine's
    // `reg export` (header, keys depth first in sorted order, values sorted with
    // @ first) as UTF-8 with LF line ends; the root spelled out in full and the
    // rest of the path as given. Empty when the key does not exist.
    std::string Export(const std::string& fullKeyPath) const;

    bool KeyExists(const std::string& fullKeyPath) const;
    // A REG_SZ or REG_EXPAND_SZ value up to its terminator; nullopt when missing
    // or of another type. An empty valueName is the default value.
    std::optional<std::string> StringValue(const std::string& fullKeyPath, const std::string& valueName) const;
    // A REG_DWORD value; nullopt when missing, of another type or not 4 bytes.
    std::optional<std::uint32_t> DwordValue(const std::string& fullKeyPath, const std::string& valueName) const;
    std::optional<DWORD> ValueType(const std::string& fullKeyPath, const std::string& valueName) const;

    MemoryRegistry memory;
    FaultInjectingRegistry registry{memory};
    RecordingReporter reporter;
    OverridableStrings strings;

private:
    const RegValue* FindValue(const std::string& fullKeyPath, const std::string& valueName) const;
    std::optional<ScopedServices> services_;
};

// The calls the registry logged on keys of HKEY_CLASSES_ROOT, one a line as
// FaultInjectingRegistry::FormatCalls writes them: the order a step touches
// the classes root in, without the lookups it makes elsewhere.
std::vector<std::string> ClassesRootCalls(const FaultInjectingRegistry& registry);

}  // namespace qz::test
