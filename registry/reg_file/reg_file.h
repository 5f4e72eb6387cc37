// .reg files: reading "Windows Registry Editor Version 5.00" (UTF-16LE) and
// REGEDIT4 (ANSI) files, and writing the 5.00 form in the layout of `reg export`.
//
// Reading is two steps so that a malformed file changes nothing: the whole text
// is checked before it is applied to a registry (ImportRegText reads it twice
// rather than hold a list of entries as large as the file). A hive file is read,
// decoded and parsed a block at a time (RegFileDecoder, VisitRegText with a
// source), and written as it is produced (WriteRegFile).
//
// What the reader unescapes in quoted names and strings (\\, \", \n, \r) the
// writer escapes, so that whatever reads also writes and reads back the same.
// Keys nest at most kMaxKeyDepth levels, as in Windows: the reader refuses deeper
// paths, and nothing here recurses per level.
//
// One file a step: bytes to text in reg_file_decode.cpp, text to entries in
// reg_file_parse.cpp, entries into a MemoryRegistry in reg_file_apply.cpp, a
// tree to text and bytes in reg_file_write.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "registry/memory/reg_tree.h"

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
    // The key's full path, root as written (long or short name). The entries
    // of one section share a single copy: a file may hold a great many values
    // under one long path, and reading it must cost no more than the file.
    std::shared_ptr<const std::u16string> key;
    RegValue value;  // Value: name, type, data; DeleteValue: name
    int line = 0;    // 1-based line of the entry in the text

    const std::u16string& keyPath() const { return *key; }
};

// Keys nest at most this many levels below their hive's root key, as in Windows.
// HKEY_CLASSES_ROOT is HKEY_LOCAL_MACHINE\Software\Classes: two levels down.
constexpr std::size_t kMaxKeyDepth = 512;

// Which bytes a reader takes for a .reg file, and how they become text.
enum class RegFileRule {
    // A hive file of the registry folder: exactly the form the folder writes,
    // UTF-16LE after a byte order mark, its first line "Windows Registry Editor
    // Version 5.00". Anything else (a file a text editor saved as UTF-8, a
    // REGEDIT4 file) is refused, never guessed at: read in the wrong encoding,
    // its non-ASCII text would be saved back mangled.
    Hive,
    // A file to import, read as regedit reads it: UTF-16LE after a byte order
    // mark, UTF-8 after a UTF-8 byte order mark, anything else in the ANSI code
    // page (Windows-1252), the encoding of REGEDIT4 files. It never refuses the
    // bytes; the parser judges the text.
    Import,
};

// The text of a .reg file from its bytes under rule. False with error set to
// "line N: what is wrong" (and text cleared) when the rule refuses the bytes.
bool DecodeRegFileBytes(std::string_view bytes, RegFileRule rule, std::u16string& text, std::string& error);

// The text under RegFileRule::Import, which never refuses.
std::u16string DecodeRegFileBytes(std::string_view bytes);

// The same decoding for a file read a block at a time: a character split
// between two blocks is put together, and no block is kept once decoded.
class RegFileDecoder {
public:
    explicit RegFileDecoder(RegFileRule rule = RegFileRule::Import) : rule_(rule) {}
    // Appends the text of these bytes to text, as far as whole characters go.
    // Once the rule has refused the bytes (Refused()), nothing more is decoded.
    void Feed(std::string_view bytes, std::u16string& text);
    // At the end of the file: appends what is left, and gives the verdict
    // DecodeRegFileBytes gives on the whole file (false with error set).
    bool Finish(std::u16string& text, std::string& error);
    bool Refused() const { return !refusal_.empty(); }

private:
    enum class Encoding { Unknown, Utf16Le, Utf8, Narrow };
    void Decide(std::u16string& text, bool final);
    void FeedUtf16Le(std::string_view bytes, std::u16string& text);

    RegFileRule rule_;
    Encoding encoding_ = Encoding::Unknown;
    std::string pending_;  // the first bytes while the encoding is unknown, or an unfinished character
    std::string refusal_;  // why the rule refuses the bytes
    // A hive file's first line, until its end has been seen, and the line breaks
    // decoded so far (for the line a torn last character is on).
    std::u16string firstLine_;
    bool firstLineDone_ = false;
    std::uint64_t lineBreaks_ = 0;
};

// Parses a whole .reg text. On a malformed text returns false and sets error to
// "line N: what is wrong"; entries is then left empty.
bool ParseRegText(std::u16string_view text, std::vector<RegFileEntry>& entries, std::string& error);

// Parses a whole .reg text like ParseRegText, but hands each entry to visit as
// soon as it is read instead of collecting them (visit may take the entry's
// value). visit returns false, with error set to what is wrong, to stop: the
// parse then fails with "line N: " and that text, N the entry's line. Entries
// handed over before a failure are not taken back.
using RegEntryVisitor = std::function<bool(RegFileEntry& entry, std::string& error)>;
bool VisitRegText(std::u16string_view text, const RegEntryVisitor& visit, std::string& error);

// The text in pieces, for a file read a block at a time: the source appends the
// next piece (of any length; an empty one is allowed) to text and returns
// true, or returns false when the text has ended.
using RegTextSource = std::function<bool(std::u16string& text)>;
bool VisitRegText(const RegTextSource& source, const RegEntryVisitor& visit, std::string& error);

// Applies entries one by one, in order, as they are read; the key of a section
// is looked up once for all of its values.
class RegEntryApplier {
public:
    explicit RegEntryApplier(MemoryRegistry& registry) : registry_(registry) {}
    // Takes the entry's value.
    void Apply(RegFileEntry& entry);

private:
    MemoryRegistry& registry_;
    std::shared_ptr<const std::u16string> section_;  // the path the last values went to
    RegKey* sectionKey_ = nullptr;                     // its key (null when outside the registry's roots)
};

// Applies parsed entries in order.
void ApplyRegEntries(const std::vector<RegFileEntry>& entries, MemoryRegistry& registry);

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

// AppendRegKey for a file that must read back as the tree it holds (a hive of
// the registry folder): refuses, with error naming the key and out unchanged, a
// key name holding a line break (.reg files have no escape for it in key names)
// and keys nested deeper than kMaxKeyDepth. topPath must be a full key path.
bool AppendReadableRegKey(std::u16string& out, const std::u16string& topPath, const RegKey& key,
                          const RegWriteOptions& options, std::string& error);

// A value's name as a value line writes it: @ for the default value, else the
// name in double quotes, with \\, \", and line breaks escaped as FormatRegValue
// escapes them. "name"=- in a .reg text is FormatRegValueName(name) + "=-".
std::u16string FormatRegValueName(std::u16string_view name);

// One value line without its newline, e.g. "name"=dword:00000001, hex data
// wrapped as reg export wraps it. Names and strings escape \\, \", and line
// breaks as \n and \r, as reg export does.
std::u16string FormatRegValue(const RegValue& value, const char16_t* newline = u"\r\n");

// The bytes of a 5.00 .reg file: UTF-16LE with a BOM.
std::string EncodeUtf16LeWithBom(std::u16string_view text);

// The bytes of a whole 5.00 .reg file holding key and everything below it:
// EncodeUtf16LeWithBom(RegFileHeader(options) + the text AppendRegKey gives),
// written straight into a buffer of its final size (no text in between).
std::string EncodeRegFile(const std::u16string& topPath, const RegKey& key, const RegWriteOptions& options = {});

// The bytes of the file AppendReadableRegKey would give (header included),
// handed to put in blocks of at most a megabyte, in order, for a file written
// as it is produced. On a key that would not read back, stops with error set as
// AppendReadableRegKey sets it and returns false: the blocks handed over so far
// are not a whole file.
bool WriteRegFile(const std::u16string& topPath, const RegKey& key, const RegWriteOptions& options,
                  const std::function<void(std::string_view bytes)>& put, std::string& error);

}  // namespace qz
