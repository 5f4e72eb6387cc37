#include "tests/support/registry_fixture.h"

#include <sstream>

#include "text/code_page.h"
#include "registry/reg_file/reg_file.h"
#include "registry/changes/registry_data.h"

namespace qz::test {
namespace {

std::string LfText(const std::u16string& text) { return Utf16ToUtf8(text); }

}  // namespace

void RegistryFixture::SetUp() {
    ModuleServices services;
    services.registry = &registry;
    services.reporter = &reporter;
    services.strings = &strings;
    services_.emplace(services);
}

void RegistryFixture::TearDown() {
    services_.reset();
    EXPECT_EQ(memory.OpenHandleCount(), 0u) << "registry key handles left open; calls:\n" << registry.FormatCalls();
}

void RegistryFixture::Seed(const std::string& regText) {
    std::string error;
    if (!ImportRegText(Utf8ToUtf16(regText), memory, error)) ADD_FAILURE() << "Seed: malformed .reg text: " << error;
}

std::string RegistryFixture::Export(const std::string& fullKeyPath) const {
    const std::u16string wide = Utf8ToUtf16(fullKeyPath);
    const RegKey* key = memory.FindKey(wide);
    if (key == nullptr) return std::string();
    // As reg export does: the root by its full name, the rest as the caller wrote it.
    const auto parsed = ParseFullKeyPath(wide);
    std::u16string path = RootName(parsed->root);
    for (const std::u16string& component : parsed->components) path += u"\\" + component;
    RegWriteOptions options;
    options.newline = u"\n";
    std::u16string text = RegFileHeader(options);
    AppendRegKey(text, path, *key, options);
    return LfText(text);
}

bool RegistryFixture::KeyExists(const std::string& fullKeyPath) const {
    return memory.FindKey(Utf8ToUtf16(fullKeyPath)) != nullptr;
}

const RegValue* RegistryFixture::FindValue(const std::string& fullKeyPath, const std::string& valueName) const {
    const RegKey* key = memory.FindKey(Utf8ToUtf16(fullKeyPath));
    return key != nullptr ? key->FindValue(Utf8ToUtf16(valueName)) : nullptr;
}

std::optional<std::string> RegistryFixture::StringValue(const std::string& fullKeyPath,
                                                        const std::string& valueName) const {
    const RegValue* value = FindValue(fullKeyPath, valueName);
    if (value == nullptr || (value->type != REG_SZ && value->type != REG_EXPAND_SZ)) return std::nullopt;
    return Utf16ToUtf8(StringOfData(value->data));
}

std::optional<std::uint32_t> RegistryFixture::DwordValue(const std::string& fullKeyPath,
                                                         const std::string& valueName) const {
    const RegValue* value = FindValue(fullKeyPath, valueName);
    if (value == nullptr || value->type != REG_DWORD) return std::nullopt;
    return DwordOfData(value->data);
}

std::optional<DWORD> RegistryFixture::ValueType(const std::string& fullKeyPath, const std::string& valueName) const {
    const RegValue* value = FindValue(fullKeyPath, valueName);
    if (value == nullptr) return std::nullopt;
    return value->type;
}

std::vector<std::string> ClassesRootCalls(const FaultInjectingRegistry& registry) {
    std::vector<std::string> lines;
    std::istringstream log(registry.FormatCalls());
    for (std::string line; std::getline(log, line);)
        if (line.find(" HKEY_CLASSES_ROOT") != std::string::npos) lines.push_back(line);
    return lines;
}

}  // namespace qz::test
