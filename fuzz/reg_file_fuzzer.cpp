// The .reg reader on arbitrary bytes, and the round trip the registry folder
// relies on: whatever parses, once applied, written as the folder writes its
// hives and read again under the hive rule, is the same tree, and writing that
// tree again gives the same bytes. A parse that fails leaves no entries, and
// the entries of one that succeeds hold no more text than the file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "registry/memory/memory_registry.h"
#include "registry/reg_file/reg_file.h"

namespace {

constexpr qz::RegRoot kHives[] = {qz::RegRoot::LocalMachine, qz::RegRoot::CurrentUser};

[[noreturn]] void Fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "reg_file_fuzzer: %s: %s\n", what, detail.c_str());
    std::abort();
}

// The bytes of a hive file, as the registry folder writes them.
std::string HiveFile(const qz::MemoryRegistry& registry, qz::RegRoot root) {
    qz::RegWriteOptions options;
    options.skipVolatile = true;
    options.skipEmptyTop = true;
    std::u16string text = qz::RegFileHeader(options);
    std::string error;
    if (!qz::AppendReadableRegKey(text, qz::RootName(root), registry.Hive(root), options, error))
        Fail("a tree the reader built cannot be written", error);
    return qz::EncodeUtf16LeWithBom(text);
}

void ReadHiveFile(const std::string& bytes, qz::MemoryRegistry& registry) {
    std::u16string text;
    std::string error;
    if (!qz::DecodeRegFileBytes(bytes, qz::RegFileRule::Hive, text, error)) Fail("a written hive is refused", error);
    if (!qz::ImportRegText(text, registry, error)) Fail("a written hive does not parse", error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::u16string strict;
    std::string error;
    const bool isHive = qz::DecodeRegFileBytes(bytes, qz::RegFileRule::Hive, strict, error);
    const std::u16string text = qz::DecodeRegFileBytes(bytes);
    if (isHive && strict != text) Fail("the two rules read a hive file differently", "");

    std::vector<qz::RegFileEntry> entries;
    if (!qz::ParseRegText(text, entries, error)) {
        if (!entries.empty()) Fail("a refused text left entries", error);
        return 0;
    }
    // Reading costs no more than the file: the key paths the entries hold
    // (one copy per section) add up to no more than the text.
    std::size_t keyText = 0;
    const std::u16string* lastKey = nullptr;
    for (const qz::RegFileEntry& entry : entries) {
        if (entry.key.get() == lastKey) continue;
        keyText += entry.keyPath().size();
        lastKey = entry.key.get();
    }
    if (keyText > text.size()) Fail("the entries hold more key text than the file", std::to_string(keyText));

    qz::MemoryRegistry first;
    qz::ApplyRegEntries(entries, first);

    std::string files[2];
    qz::MemoryRegistry second;
    for (int i = 0; i < 2; ++i) {
        files[i] = HiveFile(first, kHives[i]);
        ReadHiveFile(files[i], second);
    }
    for (int i = 0; i < 2; ++i) {
        if (!qz::SameContent(first.Hive(kHives[i]), second.Hive(kHives[i])))
            Fail("the tree read back differs from the tree written", files[i]);
        if (HiveFile(second, kHives[i]) != files[i]) Fail("writing the tree read back gives other bytes", files[i]);
    }
    return 0;
}
