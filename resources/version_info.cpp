#include "resources/version_info.h"

#include <algorithm>

#include "text/code_page.h"

namespace qz {
namespace {

// Every node: WORD wLength, WORD wValueLength, WORD wType, WCHAR szKey[], padding to a
// DWORD, the value, padding, then the children up to wLength. Offsets are aligned
// relative to the start of the block, which is itself DWORD-aligned.
struct Node {
    std::u16string key;
    std::size_t valueOffset = 0;
    std::size_t valueBytes = 0;
    bool text = false;
    std::size_t childrenOffset = 0;
    std::size_t end = 0;
};

constexpr std::size_t kNodeHeaderSize = 6;
constexpr std::size_t kFixedFileInfoSize = 52;

std::uint16_t ReadWord(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

std::uint32_t ReadDword(const unsigned char* p) {
    return static_cast<std::uint32_t>(ReadWord(p)) | (static_cast<std::uint32_t>(ReadWord(p + 2)) << 16);
}

std::size_t AlignUp4(std::size_t value) { return (value + 3) & ~static_cast<std::size_t>(3); }

bool ReadNode(const unsigned char* block, std::size_t offset, std::size_t limit, Node& node) {
    if (offset > limit || limit - offset < kNodeHeaderSize) return false;
    const std::size_t length = ReadWord(block + offset);
    if (length < kNodeHeaderSize || length > limit - offset) return false;
    node.end = offset + length;
    const std::size_t valueLength = ReadWord(block + offset + 2);
    node.text = ReadWord(block + offset + 4) == 1;

    std::size_t cursor = offset + kNodeHeaderSize;
    node.key.clear();
    for (;;) {
        if (node.end - cursor < 2) return false;
        const char16_t unit = ReadWord(block + cursor);
        cursor += 2;
        if (unit == 0) break;
        node.key.push_back(unit);
    }
    node.valueOffset = AlignUp4(cursor);
    // Text values count characters, binary values count bytes.
    const std::size_t valueBytes = node.text ? 2 * valueLength : valueLength;
    if (valueBytes == 0) {
        node.valueOffset = std::min(node.valueOffset, node.end);
        node.valueBytes = 0;
    } else {
        if (node.valueOffset > node.end || valueBytes > node.end - node.valueOffset) return false;
        node.valueBytes = valueBytes;
    }
    node.childrenOffset = std::min(AlignUp4(node.valueOffset + node.valueBytes), node.end);
    return true;
}

// Calls visit(child) for each child of `parent`; false when a child is malformed.
template <typename Visit>
bool ForEachChild(const unsigned char* block, const Node& parent, Visit visit) {
    std::size_t offset = parent.childrenOffset;
    while (offset < parent.end) {
        Node child;
        if (!ReadNode(block, offset, parent.end, child)) return false;
        if (!visit(child)) return false;
        offset = AlignUp4(child.end);
    }
    return true;
}

std::string TextValue(const unsigned char* block, const Node& node) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < node.valueBytes; i += 2) {
        const char16_t unit = ReadWord(block + node.valueOffset + i);
        if (unit == 0) break;
        text.push_back(unit);
    }
    return WideToNarrow(text);
}

}  // namespace

bool ParseVersionInfo(const void* data, std::size_t size, VersionInfo& info) {
    const auto* block = static_cast<const unsigned char*>(data);
    if (block == nullptr) return false;
    Node root;
    if (!ReadNode(block, 0, size, root) || root.key != u"VS_VERSION_INFO") return false;
    if (root.text || root.valueBytes < kFixedFileInfoSize) return false;

    VersionInfo parsed;
    std::uint32_t* fields[] = {
        &parsed.fixed.signature,        &parsed.fixed.structVersion,   &parsed.fixed.fileVersionMS,
        &parsed.fixed.fileVersionLS,    &parsed.fixed.productVersionMS, &parsed.fixed.productVersionLS,
        &parsed.fixed.fileFlagsMask,    &parsed.fixed.fileFlags,       &parsed.fixed.fileOS,
        &parsed.fixed.fileType,         &parsed.fixed.fileSubtype,     &parsed.fixed.fileDateMS,
        &parsed.fixed.fileDateLS,
    };
    for (std::size_t i = 0; i < sizeof fields / sizeof fields[0]; ++i) {
        *fields[i] = ReadDword(block + root.valueOffset + 4 * i);
    }
    if (parsed.fixed.signature != kFixedFileInfoSignature) return false;

    const bool wellFormed = ForEachChild(block, root, [&](const Node& section) {
        if (section.key == u"StringFileInfo") {
            return ForEachChild(block, section, [&](const Node& table) {
                VersionStringTable strings;
                strings.name = WideToNarrow(table.key);
                const bool ok = ForEachChild(block, table, [&](const Node& entry) {
                    strings.entries.emplace_back(WideToNarrow(entry.key), TextValue(block, entry));
                    return true;
                });
                parsed.stringTables.push_back(std::move(strings));
                return ok;
            });
        }
        if (section.key == u"VarFileInfo") {
            return ForEachChild(block, section, [&](const Node& var) {
                if (var.key != u"Translation") return true;
                for (std::size_t i = 0; i + 4 <= var.valueBytes; i += 4) {
                    parsed.translations.push_back(ReadDword(block + var.valueOffset + i));
                }
                return true;
            });
        }
        return true;
    });
    if (!wellFormed) return false;
    info = std::move(parsed);
    return true;
}

}  // namespace qz
