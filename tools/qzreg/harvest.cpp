#include "tools/qzreg/harvest.h"

#include <algorithm>

#include "registry/memory/memory_registry.h"
#include "registry/changes/registry_changes.h"
#include "registry/changes/registry_data.h"
#include "text/code_page.h"
#include "text/utf16_data.h"
#include "tools/host/reg_import.h"
#include "tools/qzreg/change_report.h"

namespace qz {

const char kHarvestModulePath[] = "[#qzproduct.dll]";

namespace {

// Every text the machine state gives a directory the module reads, paired
// with its property reference; directories the machine state lacks get the
// reference itself, so that the pass writes it where the directory would go.
std::vector<std::pair<std::u16string, std::u16string>> PrepareDirectories(MemoryRegistry& base,
                                                                          const std::vector<NotedKey>& read) {
    std::vector<std::pair<std::u16string, std::u16string>> substitutions;
    for (const DirectoryProperty& directory : HarvestDirectoryProperties()) {
        const std::u16string name = Utf8ToUtf16(directory.valueName);
        const auto noted = std::find_if(read.begin(), read.end(),
                                        [&name](const NotedKey& value) { return RegistryNamesEqual(value.value, name); });
        if (noted == read.end()) continue;  // a directory the module does not read
        const std::u16string key = RootName(noted->hive) + (u"\\" + Utf8ToUtf16(noted->key));
        const std::u16string reference = u"[" + Utf8ToUtf16(directory.property) + u"]";
        const RegKey* dir = base.FindKey(key);
        const RegValue* value = dir != nullptr ? dir->FindValue(name) : nullptr;
        if (value != nullptr && (value->type == REG_SZ || value->type == REG_EXPAND_SZ)) {
            const std::u16string text = StringOfData(value->data);
            if (!text.empty()) {
                substitutions.emplace_back(text, reference);
                continue;
            }
        }
        RegValue placeholder;
        placeholder.name = name;
        placeholder.type = REG_SZ;
        placeholder.data = Utf16Data(reference);
        base.PutValue(key, placeholder);
    }
    // The longest first, so that a directory inside another is replaced whole.
    std::sort(substitutions.begin(), substitutions.end(),
              [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
    return substitutions;
}

void Substitute(RegValue& value, const std::vector<std::pair<std::u16string, std::u16string>>& substitutions) {
    if (value.type != REG_SZ && value.type != REG_EXPAND_SZ) return;
    std::u16string text = StringOfData(value.data);
    bool changed = false;
    for (const auto& [from, to] : substitutions) {
        for (std::size_t at = text.find(from); at != std::u16string::npos; at = text.find(from, at + to.size())) {
            text.replace(at, from.size(), to);
            changed = true;
        }
    }
    if (changed) value.data = Utf16Data(text);
}

}  // namespace

const std::vector<DirectoryProperty>& HarvestDirectoryProperties() {
    static const std::vector<DirectoryProperty> properties = {
        {"bin", "ZUREDOREBIN"},
        {"help", "ZUREDOREHELP"},
        {"lib", "ZUREDORELIB"},
    };
    return properties;
}

bool HarvestRegistration(const HarvestOptions& options, PassEntry entry, const std::string& format,
                         std::string& output, std::vector<std::string>& messages, std::string& error) {
    MemoryRegistry base;
    for (const std::string& file : options.imports) {
        if (!ImportRegFile(file, base, error)) return false;
    }
    // The module says where it reads the directories: a first pass on the
    // machine state notes them, wherever they are and whether or not they are there.
    const std::string modulePath = kHarvestModulePath;
    const PassNotes notes = RunPassOnOverlay(entry, base, QZ_PASS_REGISTER, &modulePath).notes;
    if (notes.directoryValues.empty()) {
        error = "the module reads no installation directory; nothing harvested";
        return false;
    }
    const auto substitutions = PrepareDirectories(base, notes.directoryValues);

    PassOutcome pass = RunPassOnOverlay(entry, base, QZ_PASS_REGISTER, &modulePath);
    messages = pass.messages;
    if (pass.result != 0) {
        error = "the registration reported failures; nothing harvested";
        return false;
    }
    std::vector<RegistryChange> changes = std::move(pass.changes);
    for (RegistryChange& change : changes) {
        if (change.newValue) Substitute(*change.newValue, substitutions);
    }

    if (format == "json") {
        output = ChangesAsJson(changes);
    } else {
        output = RegistryChangesAsRegText(changes);
    }
    return true;
}

std::string HarvestHelp() {
    std::string text =
        "Machine-dependent texts become references: the module's path becomes " + std::string(kHarvestModulePath) +
        " (the installed file);\nthe modelling system's directories, from the key the module reads them from, "
        "become properties:\n";
    for (const DirectoryProperty& directory : HarvestDirectoryProperties())
        text += "  " + std::string(directory.valueName) + " -> [" + directory.property + "]\n";
    text += "With --import, the harvest runs against that machine state (the installed system versions decide the\n"
            "versioned Open verbs); its directory texts become the same properties.\n";
    return text;
}

}  // namespace qz
