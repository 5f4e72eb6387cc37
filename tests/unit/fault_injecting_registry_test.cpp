// The fault injector names keys by their full paths, fails exactly the calls its
// faults match, leaves the wrapped registry untouched by a failed call, and logs
// every call in order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "registry/memory/fault_injecting_registry.h"
#include "registry/memory/memory_registry.h"
#include "tests/support/narrow_registry.h"

namespace qz {
namespace {

class FaultInjectingRegistryTest : public ::testing::Test {
protected:
    LONG CreateAndClose(HKEY root, const char* path) {
        HKEY key = nullptr;
        const LONG status = NarrowRegistry(registry).CreateKeyEx(root, path, 0, KEY_ALL_ACCESS, &key);
        if (status == ERROR_SUCCESS) registry.CloseKey(key);
        return status;
    }
    LONG SetString(HKEY key, const char* name, const std::string& text) {
        return NarrowRegistry(registry).SetValueEx(key, name, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                                   static_cast<DWORD>(text.size() + 1));
    }
    void TearDown() override { EXPECT_EQ(memory.OpenHandleCount(), 0u); }

    MemoryRegistry memory;
    FaultInjectingRegistry registry{memory};
};

TEST_F(FaultInjectingRegistryTest, LogsFullPathsOfKeysOpenedRelativeToOpenKeys) {
    HKEY company = nullptr;
    ASSERT_EQ(
        NarrowRegistry(registry).CreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\Corvalen\\", 0, KEY_ALL_ACCESS, &company),
        ERROR_SUCCESS);
    HKEY options = nullptr;
    ASSERT_EQ(NarrowRegistry(registry).CreateKeyEx(company, "ZURedore\\38.0\\Options", 0, KEY_ALL_ACCESS, &options),
              ERROR_SUCCESS);
    EXPECT_EQ(SetString(options, "OVX", "x"), ERROR_SUCCESS);
    HKEY same = nullptr;
    ASSERT_EQ(NarrowRegistry(registry).OpenKeyEx(options, "", KEY_ALL_ACCESS, &same), ERROR_SUCCESS);
    EXPECT_EQ(NarrowRegistry(registry).DeleteValue(same, "OVX"), ERROR_SUCCESS);
    registry.CloseKey(same);
    registry.CloseKey(options);
    registry.CloseKey(company);
    EXPECT_EQ(NarrowRegistry(registry).DeleteKey(HKEY_CLASSES_ROOT, "Missing"), ERROR_FILE_NOT_FOUND);

    EXPECT_EQ(registry.FormatCalls(),
              "CreateKey HKEY_LOCAL_MACHINE\\Software\\Corvalen = 0\n"
              "CreateKey HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Options = 0\n"
              "SetValue HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Options -> \"OVX\" = 0\n"
              "OpenKey HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Options = 0\n"
              "DeleteValue HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Options -> \"OVX\" = 0\n"
              "CloseKey HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Options = 0\n"
              "CloseKey HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Options = 0\n"
              "CloseKey HKEY_LOCAL_MACHINE\\Software\\Corvalen = 0\n"
              "DeleteKey HKEY_CLASSES_ROOT\\Missing = 2\n");
    EXPECT_EQ(registry.CountCalls(RegOp::CloseKey), 3u);
    EXPECT_EQ(registry.CallsOf(RegOp::SetValue),
              std::vector<std::string>{"HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Options -> OVX"});
}

TEST_F(FaultInjectingRegistryTest, AFaultOnOneKeyFailsThatKeyOnlyAndCreatesNothing) {
    registry.Fail(RegOp::CreateKey, "HKEY_LOCAL_MACHINE\\Software\\Corvalen", ERROR_CHILD_MUST_BE_VOLATILE);
    HKEY key = reinterpret_cast<HKEY>(static_cast<std::intptr_t>(0x55));
    EXPECT_EQ(NarrowRegistry(registry).CreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\corvalen", 0, KEY_ALL_ACCESS, &key),
              ERROR_CHILD_MUST_BE_VOLATILE);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(memory.FindKey(u"HKLM\\Software\\Corvalen"), nullptr);
    // Neither a key below it nor an open of the same key is affected.
    EXPECT_EQ(CreateAndClose(HKEY_LOCAL_MACHINE, "Software\\Corvalen\\Below"), ERROR_SUCCESS);
    EXPECT_EQ(NarrowRegistry(registry).OpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\Corvalen", KEY_READ, &key),
              ERROR_SUCCESS);
    registry.CloseKey(key);
    ASSERT_FALSE(registry.Calls().empty());
    EXPECT_TRUE(registry.Calls().front().injected);
    EXPECT_FALSE(registry.Calls()[1].injected);
}

TEST_F(FaultInjectingRegistryTest, ASubtreeFaultCoversTheKeyAndEverythingBelowIt) {
    registry.Fail(RegOp::Any, "HKLM\\Software\\Corvalen").Subtree();
    EXPECT_EQ(CreateAndClose(HKEY_LOCAL_MACHINE, "Software\\Corvalen"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(CreateAndClose(HKEY_LOCAL_MACHINE, "Software\\Corvalen\\A\\B"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(CreateAndClose(HKEY_LOCAL_MACHINE, "Software\\CorvalenOther"), ERROR_SUCCESS);
    EXPECT_EQ(NarrowRegistry(registry).DeleteKey(HKEY_LOCAL_MACHINE, "Software\\corvalen\\x"), ERROR_ACCESS_DENIED);
}

TEST_F(FaultInjectingRegistryTest, ClassesRootAndTheMachineClassesKeyAreOneKeyForFaults) {
    registry.Fail(RegOp::CreateKey, "HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID").Subtree();
    registry.Fail(RegOp::DeleteKey, "HKEY_CLASSES_ROOT\\.ovxf");
    EXPECT_EQ(CreateAndClose(HKEY_CLASSES_ROOT, "CLSID\\{1}"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(CreateAndClose(HKEY_LOCAL_MACHINE, "Software\\Classes\\.ovxf"), ERROR_SUCCESS);
    EXPECT_EQ(NarrowRegistry(registry).DeleteKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\CLASSES\\.OVXF"), ERROR_ACCESS_DENIED);
    // The log keeps the root the caller wrote.
    EXPECT_EQ(registry.Calls().front().keyPath, "HKEY_CLASSES_ROOT\\CLSID\\{1}");
}

TEST_F(FaultInjectingRegistryTest, AValueFaultFailsOnlyThatValueAndOnlyTheChosenCall) {
    HKEY key = nullptr;
    ASSERT_EQ(NarrowRegistry(registry).CreateKeyEx(HKEY_CURRENT_USER, "Software\\Test", 0, KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    registry.Fail(RegOp::SetValue, "HKEY_CURRENT_USER\\Software\\Test", ERROR_OUTOFMEMORY).OnValue("").OnCall(2);
    EXPECT_EQ(SetString(key, "named", "a"), ERROR_SUCCESS);
    EXPECT_EQ(SetString(key, nullptr, "first"), ERROR_SUCCESS);
    EXPECT_EQ(SetString(key, "", "second"), ERROR_OUTOFMEMORY);
    EXPECT_EQ(SetString(key, nullptr, "third"), ERROR_SUCCESS);
    registry.CloseKey(key);
    const RegKey* stored = memory.FindKey(u"HKEY_CURRENT_USER\\Software\\Test");
    ASSERT_NE(stored, nullptr);
    ASSERT_NE(stored->FindValue(u""), nullptr);
    EXPECT_EQ(stored->FindValue(u"")->data.size(), 12u);  // "third" and its NUL, in UTF-16
    EXPECT_EQ(registry.Calls()[3].result, ERROR_OUTOFMEMORY);
    EXPECT_TRUE(registry.Calls()[3].injected);
}

TEST_F(FaultInjectingRegistryTest, AFailedCloseStillReleasesTheKey) {
    registry.Fail(RegOp::CloseKey, "HKEY_CURRENT_USER\\Software\\Test", ERROR_INVALID_HANDLE);
    HKEY key = nullptr;
    ASSERT_EQ(NarrowRegistry(registry).CreateKeyEx(HKEY_CURRENT_USER, "Software\\Test", 0, KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(registry.CloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(memory.OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace qz
