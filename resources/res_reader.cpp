#include "resources/res_reader.h"

#include <algorithm>
#include <cstdint>

#include "text/code_page.h"

namespace qz {
namespace {

// Fixed part of an entry header after TYPE and NAME: DataVersion (DWORD), MemoryFlags
// (WORD), LanguageId (WORD), Version (DWORD), Characteristics (DWORD).
constexpr std::size_t kHeaderTailSize = 16;
constexpr std::size_t kLanguageOffsetInTail = 6;
// DataSize and HeaderSize.
constexpr std::size_t kHeaderLeadSize = 8;

std::uint16_t ReadWord(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t ReadDword(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::size_t AlignUp4(std::size_t value) { return (value + 3) & ~static_cast<std::size_t>(3); }

// A TYPE or NAME field: either 0xFFFF followed by a WORD id, or a NUL-terminated UTF-16
// text. Reads from `offset` up to `end`; false when the field does not end before `end`.
struct IdField {
    bool numeric = false;
    unsigned id = 0;
};

bool ReadIdField(const unsigned char* image, std::size_t& offset, std::size_t end, IdField& field) {
    if (end < offset || end - offset < 2) return false;
    if (ReadWord(image + offset) == 0xFFFF) {
        if (end - offset < 4) return false;
        field.numeric = true;
        field.id = ReadWord(image + offset + 2);
        offset += 4;
        return true;
    }
    field.numeric = false;
    while (end - offset >= 2) {
        const std::uint16_t unit = ReadWord(image + offset);
        offset += 2;
        if (unit == 0) return true;
    }
    return false;
}

}  // namespace

ResourceFile::ResourceFile(const void* image, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(image);
    if (bytes == nullptr) return;
    std::size_t offset = 0;
    while (size - offset >= kHeaderLeadSize) {
        const std::size_t dataSize = ReadDword(bytes + offset);
        const std::size_t headerSize = ReadDword(bytes + offset + 4);
        const std::size_t left = size - offset;
        if (headerSize < kHeaderLeadSize || headerSize > left || dataSize > left - headerSize) break;
        const std::size_t headerEnd = offset + headerSize;

        std::size_t cursor = offset + kHeaderLeadSize;
        IdField type;
        IdField name;
        if (!ReadIdField(bytes, cursor, headerEnd, type) || !ReadIdField(bytes, cursor, headerEnd, name)) break;
        cursor = AlignUp4(cursor);
        if (cursor > headerEnd || headerEnd - cursor < kHeaderTailSize) break;
        const unsigned language = ReadWord(bytes + cursor + kLanguageOffsetInTail);

        // The file starts with an empty entry of type 0 that only marks the format.
        if (type.numeric && name.numeric && type.id != 0) {
            entries_.push_back(Entry{type.id, name.id, language, ResourceData{bytes + headerEnd, dataSize}});
        }

        const std::size_t next = headerEnd + dataSize;  // cannot overflow: both lie within the image
        if (next >= size) break;
        offset = AlignUp4(next);
        if (offset >= size) break;
    }
}

ResourceData ResourceFile::Find(unsigned type, unsigned id, unsigned language) const {
    for (const Entry& entry : entries_) {
        if (entry.type == type && entry.id == id && entry.language == language) return entry.data;
    }
    return {};
}

std::vector<unsigned> ResourceFile::Ids(unsigned type) const {
    std::vector<unsigned> ids;
    for (const Entry& entry : entries_) {
        if (entry.type == type) ids.push_back(entry.id);
    }
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return ids;
}

std::u16string ResourceFile::LoadWideString(unsigned id, unsigned language) const {
    // Resource ids are 16-bit: a larger number names no string.
    if (id > 0xFFFF) return {};
    const ResourceData block = Find(kResourceTypeString, id / 16 + 1, language);
    if (!block.found()) return {};
    std::size_t offset = 0;
    for (unsigned index = 0;; ++index) {
        if (block.size - offset < 2) return {};
        const std::size_t length = ReadWord(block.data + offset);
        offset += 2;
        if (length > (block.size - offset) / 2) return {};
        if (index == id % 16) {
            std::u16string text(length, u'\0');
            for (std::size_t i = 0; i < length; ++i) text[i] = ReadWord(block.data + offset + 2 * i);
            return text;
        }
        offset += 2 * length;
    }
}

std::string ResourceFile::LoadNarrowString(unsigned id, unsigned language) const {
    return WideToNarrow(LoadWideString(id, language));
}

}  // namespace qz
