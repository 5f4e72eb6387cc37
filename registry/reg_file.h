// .reg files: reading "Windows Registry Editor Version 5.00" (UTF-16LE) and
// REGEDIT4 (ANSI) files, and writing the 5.00 form in the layout of `reg export`.
//
// Reading is two steps so that a malformed file changes nothing: ParseRegText
// checks the whole text and turns it into a list of entries, and only a text
// that parsed completely is applied to a registry.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "registry/reg_tree.h"

namespace qz {

class MemoryRegistry;

struct RegFileEntry {
    enum class Kind {
        Key,          // [KEY]: create the key
        DeleteKey,    // [-KEY]: remove the key and everything below it
        Value,        // "name"=data or @=data
        DeleteValue,  // "name"=-
    };
    Kind kind = Kind::Key;
    std::u16string keyPath;  // full path, root as written (long or short name)
    RegValue value;          // Value: name, type, data; DeleteValue: name
    int line = 0;            // 1-based line of the entry in the text
};

// The text of a .reg file from its bytes: UTF-16LE after a BOM, UTF-8 after a
// UTF-8 BOM, otherwise the narrow code page (Windows-1252), as REGEDIT4 files are.
std::u16string DecodeRegFileBytes(std::string_view bytes);

// The same decoding for a file read a block at a time: a character split
// between two blocks is put together, and no block is kept once decoded.
class RegFileDecoder {
public:
    // Appends the text of these bytes to text, as far as whole characters go.
    void Feed(std::string_view bytes, std::u16string& text);
    // At the end of the file: appends what is left.
    void Finish(std::u16string& text);

private:
    enum class Encoding { Unknown, Utf16Le, Utf8, Narrow };
    Encoding encoding_ = Encoding::Unknown;
    std::string pending_;  // the first bytes while the encoding is unknown, or an unfinished character
};

// Parses a whole .reg text. On a malformed text returns false and sets error to
// "line N: what is wrong"; entries is then left empty.
bool ParseRegText(std::u16string_view text, std::vector<RegFileEntry>& entries, std::string& error);

// Parses a whole .reg text like ParseRegText, but hands each entry to visit as
// soon as it is read instead of collecting them (visit may take the entry's
// data). visit returns false, with error set to what is wrong, to stop: the
// parse then fails with "line N: " and that text, N the entry's line. Entries
// handed over before a failure are not taken back.
using RegEntryVisitor = std::function<bool(RegFileEntry& entry, std::string& error)>;
bool VisitRegText(std::u16string_view text, const RegEntryVisitor& visit, std::string& error);

// The text in pieces, for a file read a block at a time: the source appends the
// next piece (of any length; an empty one is allowed) to text and returns
// true, or returns false when the text has ended.
using RegTextSource = std::function<bool(std::u16string& text)>;
bool VisitRegText(const RegTextSource& source, const RegEntryVisitor& visit, std::string& error);

// Applies parsed entries in order.
void ApplyRegEntries(const std::vector<RegFileEntry>& entries, MemoryRegistry& registry);
void ApplyRegEntry(RegFileEntry&& entry, MemoryRegistry& registry);

// Parse, then apply only if the whole text is well formed.
bool ImportRegText(std::u16string_view text, MemoryRegistry& registry, std::string& error);

struct RegWriteOptions {
    const char16_t* newline = u"\r\n";
    bool skipVolatile = false;  // leave volatile keys (and everything below them) out
    bool skipEmptyTop = false;  // no [section] for the top key when it holds no values
};

// The header line and the blank line after it.
std::u16string RegFileHeader(const RegWriteOptions& options = {});

// Appends the sections of key and everything below it, depth first: "[path]",
// its values (sorted by name, the default value "@" first), a blank line.
// topPath names the key itself; subkeys add their stored names to it.
void AppendRegKey(std::u16string& out, const std::u16string& topPath, const RegKey& key,
                  const RegWriteOptions& options = {});

// One value line without its newline, e.g. "name"=dword:00000001, hex data
// wrapped as reg export wraps it.
std::u16string FormatRegValue(const RegValue& value, const char16_t* newline = u"\r\n");

// The bytes of a 5.00 .reg file: UTF-16LE with a BOM.
std::string EncodeUtf16LeWithBom(std::u16string_view text);

// The bytes of a whole 5.00 .reg file holding key and everything below it:
// EncodeUtf16LeWithBom(RegFileHeader(options) + the text AppendRegKey gives),
// written straight into a buffer of its final size (no text in between).
std::string EncodeRegFile(const std::u16string& topPath, const RegKey& key, const RegWriteOptions& options = {});

// The same bytes handed to put in blocks of at most a megabyte, in order, for a
// file written as it is produced.
void WriteRegFile(const std::u16string& topPath, const RegKey& key, const RegWriteOptions& options,
                  const std::function<void(std::string_view bytes)>& put);

}  // namespace qz
