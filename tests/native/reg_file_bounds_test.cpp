// What reading and writing .reg files costs is bounded by the file, whatever
// the file holds:
// - the writer walks trees far deeper than a registry file may hold with a
//   stack of its own, so a thread with a small call stack writes a tree of any
//   depth (a writer that recursed per level would overflow it), and the checked
//   writer refuses the tree instead of producing a file that would not load;
// - a file of a great many values under one long key path is read and applied
//   in memory and time in proportion to its size (a copy of the path per value
//   would take gigabytes from a few megabytes).
#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "registry/memory/memory_registry.h"
#include "registry/reg_file/reg_file.h"
#include "tests/support/memory_guard.h"

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
    // RegKey frees a tree of any depth without recursing.
    top = RegKey();
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



TEST(RegFileReaderMemory, ManyValuesUnderOneLongKeyPathCostNoMoreThanTheFile) {
    // A key path of 256 KiB of text (512 levels of 255 characters, as deep and
    // as long as Windows allows), then 20000 removals of the default value
    // under it: some 600 KB of file, which a copy of the path per entry would
    // turn into 10 GB.
    std::u16string path = u"HKEY_CURRENT_USER";
    for (int level = 0; level < 512; ++level) path += u"\\" + std::u16string(255, static_cast<char16_t>(u'a' + level % 26));
    std::u16string text = u"Windows Registry Editor Version 5.00\r\n\r\n[" + path + u"]\r\n";
    for (int i = 0; i < 20000; ++i) text += u"@=-\r\n\"v\"=dword:00000001\r\n";
    const pid_t child = fork();
    if (child == 0) {
        alarm(60);
        test::StopGrowingPast(1024);
        std::vector<RegFileEntry> entries;
        std::string error;
        if (!ParseRegText(text, entries, error)) _exit(1);
        if (entries.size() != 40001) _exit(2);
        MemoryRegistry registry;
        ApplyRegEntries(entries, registry);
        const RegKey* key = registry.FindKey(path);
        _exit(key != nullptr && key->ValueCount() == 1 ? 0 : 3);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status) << " (14: it took over a minute)";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "98: it took more than 1 GiB of memory";
}
}  // namespace
}  // namespace qz
