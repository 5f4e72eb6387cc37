// The .reg writer on trees far deeper than a registry file may hold: it walks
// them with a stack of its own, so a thread with a small call stack writes a
// tree of any depth (a writer that recursed per level would overflow it), and
// the checked writer refuses the tree instead of producing a file that would
// not load.
#include <gtest/gtest.h>

#include <pthread.h>

#include <string>

#include "registry/reg_file.h"

namespace qz {
namespace {

constexpr std::size_t kLevels = 4000;
constexpr std::size_t kSmallStack = 256 * 1024;

// A chain of kLevels keys below top, and a way to take it apart level by level
// (the test's own clean-up must not recurse either).
RegKey Chain(std::size_t levels) {
    RegKey top;
    top.name = u"T";
    RegKey* at = &top;
    for (std::size_t i = 0; i < levels; ++i) {
        RegKey child;
        child.name = u"k";
        at = &at->AddSubkey(std::move(child));
    }
    at->SetValue(RegValue{u"bottom", REG_DWORD, {1, 0, 0, 0}});
    return top;
}

void TakeApart(RegKey& top) {
    while (!top.subkeys.empty()) {
        RegKey child = std::move(top.subkeys.front());
        top.subkeys.clear();
        top = std::move(child);
    }
}

struct Job {
    const RegKey* tree;
    std::u16string text;
    bool checkedResult = true;
    std::string checkedError;
};

void* WriteOnASmallStack(void* argument) {
    Job& job = *static_cast<Job*>(argument);
    AppendRegKey(job.text, u"HKEY_CURRENT_USER\\T", *job.tree);
    std::u16string checked;
    job.checkedResult = AppendReadableRegKey(checked, u"HKEY_CURRENT_USER\\T", *job.tree, {}, job.checkedError);
    return nullptr;
}

TEST(RegFileWriterDepth, WritesAnyDepthOnASmallStackAndTheCheckedWriterRefusesIt) {
    RegKey tree = Chain(kLevels);
    Job job{&tree, {}, true, {}};
    pthread_attr_t attributes;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, kSmallStack), 0);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attributes, WriteOnASmallStack, &job), 0);
    ASSERT_EQ(pthread_join(thread, nullptr), 0);
    pthread_attr_destroy(&attributes);

    // One section per level, the deepest last with its value.
    std::size_t sections = 0;
    for (std::size_t at = job.text.find(u"\r\n["); at != std::u16string::npos; at = job.text.find(u"\r\n[", at + 1))
        ++sections;
    EXPECT_EQ(sections + 1, kLevels + 1);
    const std::u16string tail = u"\\k]\r\n\"bottom\"=dword:00000001\r\n\r\n";
    ASSERT_GE(job.text.size(), tail.size());
    EXPECT_EQ(job.text.substr(job.text.size() - tail.size()), tail);

    EXPECT_FALSE(job.checkedResult);
    EXPECT_NE(job.checkedError.find("is nested 513 levels deep; keys nest at most 512 levels"), std::string::npos)
        << job.checkedError.substr(0, 300);
    TakeApart(tree);
}

}  // namespace
}  // namespace qz
