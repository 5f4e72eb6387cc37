// A reader of compiled resource files (.res), the format windres and rc write:
// a sequence of DWORD-aligned entries, each a header (data size, header size,
// type, name, language, ...) followed by its data. The native build embeds the
// module's product.res and finds its resources here by type, id and language,
// as FindResource/LoadResource do on Windows.
//
// The image may come from anywhere, so nothing in it is trusted: every size and
// offset is checked against the image before it is followed. An entry that does
// not fit ends the index there; what was indexed before it stays usable.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace qz {

// The resource types the module carries (the Win32 RT_* numbers).
constexpr unsigned kResourceTypeIcon = 3;
constexpr unsigned kResourceTypeBitmap = 2;
constexpr unsigned kResourceTypeString = 6;
constexpr unsigned kResourceTypeGroupIcon = 14;
constexpr unsigned kResourceTypeVersion = 16;
constexpr unsigned kResourceTypeManifest = 24;

// Every resource of the module is stored in English (United States).
constexpr unsigned kResourceLanguage = 0x0409;

struct ResourceData {
    const unsigned char* data = nullptr;
    std::size_t size = 0;

    bool found() const { return data != nullptr; }
};

class ResourceFile {
public:
    // Indexes the image; it is not copied and must outlive this object.
    ResourceFile(const void* image, std::size_t size);

    // The resource with this numeric type, id and language; not found() when absent.
    // Resources whose type or name is a text are not indexed: the module uses ids only.
    ResourceData Find(unsigned type, unsigned id, unsigned language = kResourceLanguage) const;

    // The ids of the resources of a type, ascending and each once, whatever the language.
    std::vector<unsigned> Ids(unsigned type) const;

    // The string with this id from the string table (blocks of sixteen counted UTF-16
    // strings, block id/16 + 1), as UTF-16; empty when the entry is missing or damaged.
    std::u16string LoadWideString(unsigned id, unsigned language = kResourceLanguage) const;

    // The same string as LoadStringA gives it: narrowed to Windows-1252, the narrow code
    // page of the native build; a character that code page cannot show becomes '?'.
    std::string LoadNarrowString(unsigned id, unsigned language = kResourceLanguage) const;

    // How many resources were indexed.
    std::size_t size() const { return entries_.size(); }

private:
    struct Entry {
        unsigned type;
        unsigned id;
        unsigned language;
        ResourceData data;
    };
    std::vector<Entry> entries_;
};

}  // namespace qz
