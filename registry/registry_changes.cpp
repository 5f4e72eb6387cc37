#include "registry/registry_changes.h"

#include <algorithm>
#include <vector>

#include "text/code_page.h"
#include "registry/reg_file.h"

namespace qz {
namespace {

const char16_t* const kNewline = u"\n";

class ChangeWriter {
public:
    explicit ChangeWriter(std::u16string& out) : out_(out) {}

    void Diff(const std::u16string& path, const RegKey* before, const RegKey* after) {
        if (after == nullptr) {
            if (before != nullptr) out_ += u"[-" + path + u"]" + kNewline + kNewline;
            return;
        }
        std::vector<std::u16string> lines;
        for (const RegValue& value : after->Values()) {
            const RegValue* old = before != nullptr ? before->FindValue(value.name) : nullptr;
            if (old == nullptr || old->type != value.type || old->data != value.data)
                lines.push_back(FormatRegValue(value, kNewline));
        }
        if (before != nullptr) {
            for (const RegValue& value : before->Values()) {
                if (after->FindValue(value.name) == nullptr) lines.push_back(RemovedValueLine(value.name));
            }
        }
        if (before == nullptr || !lines.empty()) {
            // Values in the order reg export gives them: by name, the default value first.
            std::stable_sort(lines.begin(), lines.end(), [](const std::u16string& a, const std::u16string& b) {
                return CompareRegistryNames(NameOf(a), NameOf(b)) < 0;
            });
            out_ += u"[" + path + u"]" + kNewline;
            for (const std::u16string& line : lines) out_ += line + kNewline;
            out_ += kNewline;
        }

        // Subkeys of both sides, merged in enumeration order.
        const RegKey none;
        const RegKey::SubkeyRange a = (before != nullptr ? *before : none).Subkeys();
        const RegKey::SubkeyRange b = after->Subkeys();
        auto i = a.begin(), j = b.begin();
        while (i != a.end() || j != b.end()) {
            const RegKey* left = nullptr;
            const RegKey* right = nullptr;
            if (j == b.end() || (i != a.end() && CompareRegistryNames(i->name, j->name) < 0)) {
                left = &*i++;
            } else if (i == a.end() || CompareRegistryNames(i->name, j->name) > 0) {
                right = &*j++;
            } else {
                left = &*i++;
                right = &*j++;
            }
            Diff(path + u"\\" + (right != nullptr ? right->name : left->name), left, right);
        }
    }

private:
    static std::u16string RemovedValueLine(const std::u16string& name) {
        if (name.empty()) return u"@=-";
        std::u16string line = u"\"";
        for (char16_t c : name) {
            if (c == u'\\' || c == u'"') line.push_back(u'\\');
            line.push_back(c);
        }
        return line + u"\"=-";
    }

    // The value name of a line, unescaped, for ordering ("" for @).
    static std::u16string NameOf(const std::u16string& line) {
        if (line.empty() || line[0] == u'@') return std::u16string();
        std::u16string name;
        for (std::size_t k = 1; k < line.size(); ++k) {
            if (line[k] == u'\\' && k + 1 < line.size()) {
                name.push_back(line[++k]);
            } else if (line[k] == u'"') {
                break;
            } else {
                name.push_back(line[k]);
            }
        }
        return name;
    }

    std::u16string& out_;
};

}  // namespace

std::string DescribeRegistryChanges(const MemoryRegistry& before, const MemoryRegistry& after) {
    std::u16string body;
    ChangeWriter writer(body);
    // HKEY_CLASSES_ROOT: the machine's Software\Classes, under the name the module writes it by.
    const RegKey& classesBefore = before.Hive(RegRoot::ClassesRoot);
    const RegKey& classesAfter = after.Hive(RegRoot::ClassesRoot);
    writer.Diff(RootName(RegRoot::ClassesRoot), &classesBefore, &classesAfter);
    writer.Diff(RootName(RegRoot::CurrentUser), &before.Hive(RegRoot::CurrentUser), &after.Hive(RegRoot::CurrentUser));

    // HKEY_LOCAL_MACHINE without Software\Classes, shown above.
    const RegKey& machineBefore = before.Hive(RegRoot::LocalMachine);
    const RegKey& machineAfter = after.Hive(RegRoot::LocalMachine);
    RegKey machineBeforeView = machineBefore;
    RegKey machineAfterView = machineAfter;
    machineBeforeView.FindSubkey(u"Software")->RemoveSubkey(u"Classes");
    machineAfterView.FindSubkey(u"Software")->RemoveSubkey(u"Classes");
    writer.Diff(RootName(RegRoot::LocalMachine), &machineBeforeView, &machineAfterView);

    if (body.empty()) return std::string();
    RegWriteOptions options;
    options.newline = kNewline;
    return Utf16ToUtf8(RegFileHeader(options) + body);
}

}  // namespace qz
