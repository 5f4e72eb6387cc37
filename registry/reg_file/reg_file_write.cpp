// Writing .reg files in the 5.00 form, in the layout of `reg export`.
#include <functional>
#include <optional>
#include <vector>

#include "registry/reg_file/reg_file.h"
#include "registry/reg_file/reg_file_text.h"

namespace qz {
namespace {

using reg_file_text::KeyDepth;
using reg_file_text::kHeader5;
using reg_file_text::kUtf16LeBom;
using reg_file_text::Shortened;

// reg export breaks a hex line once it has reached this many characters.
constexpr std::size_t kMaxHexLineLength = 77;

// One writer serves every output: it appends to an Out, which is a counter (to
// size a buffer exactly), a std::u16string, a buffer taking UTF-16LE, or a block
// handed on when full. A hive of a million values is written without a string
// per line or per value and without a second copy of the text.

struct CountingOut {
    std::size_t units = 0;
    void Put(char16_t) { ++units; }
    void Put(const char16_t*, std::size_t count) { units += count; }
};

struct StringOut {
    std::u16string& text;
    void Put(char16_t c) { text.push_back(c); }
    void Put(const char16_t* units, std::size_t count) { text.append(units, count); }
};

// Writes into a buffer already sized for everything it will receive.
struct Utf16LeOut {
    char* at;
    void Put(char16_t c) {
        at[0] = static_cast<char>(c & 0xFF);
        at[1] = static_cast<char>(c >> 8);
        at += 2;
    }
    void Put(const char16_t* units, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) Put(units[i]);
    }
};

// Fills a block and hands it on when full: a file of any size is written
// through one block of memory.
class BlockOut {
public:
    explicit BlockOut(const std::function<void(std::string_view)>& put) : put_(put), block_(kBlockSize) {}
    void Put(char16_t c) {
        if (used_ + 2 > block_.size()) Flush();
        block_[used_] = static_cast<char>(c & 0xFF);
        block_[used_ + 1] = static_cast<char>(c >> 8);
        used_ += 2;
    }
    void Put(const char16_t* units, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) Put(units[i]);
    }
    void Flush() {
        if (used_ != 0) put_(std::string_view(block_.data(), used_));
        used_ = 0;
    }

private:
    static constexpr std::size_t kBlockSize = 1 << 20;
    const std::function<void(std::string_view)>& put_;
    std::vector<char> block_;
    std::size_t used_ = 0;
};

template <typename Out>
void PutText(Out& out, std::u16string_view text) {
    out.Put(text.data(), text.size());
}

// The escapes ReadQuoted undoes, as reg export writes them; a raw line break
// would end the line in the middle of the name or string. Runs between escapes
// go whole. CodeUnit(i) gives the i-th code unit of the text.
template <typename Out, typename CodeUnit>
void PutEscapedUnits(Out& out, std::size_t length, CodeUnit codeUnit) {
    for (std::size_t i = 0; i < length; ++i) {
        const char16_t c = codeUnit(i);
        switch (c) {
            case u'\\': out.Put(u"\\\\", 2); break;
            case u'"': out.Put(u"\\\"", 2); break;
            case u'\n': out.Put(u"\\n", 2); break;
            case u'\r': out.Put(u"\\r", 2); break;
            default: out.Put(c);
        }
    }
}

template <typename Out>
void PutEscaped(Out& out, std::u16string_view text) {
    PutEscapedUnits(out, text.size(), [text](std::size_t i) { return text[i]; });
}

char16_t CodeUnitAt(const std::vector<BYTE>& data, std::size_t index) {
    return static_cast<char16_t>(data[2 * index] | (data[2 * index + 1] << 8));
}

// REG_SZ data that a quoted string gives back byte for byte: whole UTF-16
// code units, one terminating NUL at the end and none before it.
bool QuotableString(const std::vector<BYTE>& data) {
    if (data.size() < 2 || data.size() % 2 != 0) return false;
    const std::size_t units = data.size() / 2;
    if (CodeUnitAt(data, units - 1) != 0) return false;
    for (std::size_t i = 0; i + 1 < units; ++i) {
        if (CodeUnitAt(data, i) == 0) return false;
    }
    return true;
}

template <typename Out>
void PutHexDigits(Out& out, unsigned number, int digits) {
    static constexpr char16_t kDigits[] = u"0123456789abcdef";
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out.Put(kDigits[(number >> shift) & 0xF]);
}

// Hex digits of a number without leading zeros (as %x gives them).
template <typename Out>
void PutHexNumber(Out& out, unsigned number) {
    int digits = 1;
    while (digits < 8 && (number >> (digits * 4)) != 0) ++digits;
    PutHexDigits(out, number, digits);
}

template <typename Out>
void PutValue(Out& out, const RegValue& value, std::u16string_view newline) {
    std::size_t lineLength = 0;
    if (value.name.empty()) {
        out.Put(u"@=", 2);
        lineLength = 2;
    } else {
        CountingOut nameLength;
        PutEscaped(nameLength, value.name);
        out.Put(u'"');
        PutEscaped(out, value.name);
        out.Put(u"\"=", 2);
        lineLength = nameLength.units + 3;
    }
    if (value.type == REG_SZ && QuotableString(value.data)) {
        out.Put(u'"');
        PutEscapedUnits(out, value.data.size() / 2 - 1, [&value](std::size_t i) { return CodeUnitAt(value.data, i); });
        out.Put(u'"');
        return;
    }
    if (value.type == REG_DWORD && value.data.size() == 4) {
        const unsigned number = static_cast<unsigned>(value.data[0]) | (static_cast<unsigned>(value.data[1]) << 8) |
                                (static_cast<unsigned>(value.data[2]) << 16) |
                                (static_cast<unsigned>(value.data[3]) << 24);
        out.Put(u"dword:", 6);
        PutHexDigits(out, number, 8);
        return;
    }
    if (value.type == REG_BINARY) {
        out.Put(u"hex:", 4);
        lineLength += 4;
    } else {
        CountingOut typeDigits;
        PutHexNumber(typeDigits, static_cast<unsigned>(value.type));
        out.Put(u"hex(", 4);
        PutHexNumber(out, static_cast<unsigned>(value.type));
        out.Put(u"):", 2);
        lineLength += 6 + typeDigits.units;
    }
    // Wrapped as reg export wraps it: a line is broken after the comma that
    // takes it to kMaxHexLineLength characters, and goes on indented by two.
    for (std::size_t i = 0; i < value.data.size(); ++i) {
        PutHexDigits(out, value.data[i], 2);
        if (i + 1 == value.data.size()) break;
        out.Put(u',');
        lineLength += 3;
        if (lineLength >= kMaxHexLineLength) {
            out.Put(u'\\');
            PutText(out, newline);
            out.Put(u"  ", 2);
            lineLength = 2;
        }
    }
}

// "[path]", the key's values in enumeration order (by name, the default value
// "@" first, as reg export gives them), a blank line.
template <typename Out>
void PutSection(Out& out, std::u16string_view path, const RegKey& key, std::u16string_view newline) {
    out.Put(u'[');
    PutText(out, path);
    out.Put(u']');
    PutText(out, newline);
    for (const RegValue& value : key.Values()) {
        PutValue(out, value, newline);
        PutText(out, newline);
    }
    PutText(out, newline);
}

// Writes key and everything below it, depth first, with a stack of its own
// rather than recursion, so that no depth of tree can exhaust the call stack;
// the path grows and shrinks in one string. With topDepth set, stops at the
// first key that would not read back (see AppendReadableRegKey) and says why
// in error.
template <typename Out>
bool PutKeyTree(Out& out, const std::u16string& topPath, const RegKey& key, const RegWriteOptions& options,
                std::optional<std::size_t> topDepth, std::string& error) {
    // Everything below a volatile key is volatile too.
    if (options.skipVolatile && key.isVolatile) return true;
    const std::u16string_view newline = options.newline;
    if (!(options.skipEmptyTop && !key.HasValues())) PutSection(out, topPath, key, newline);
    struct Frame {
        RegKey::SubkeyIterator next, end;
        std::size_t pathLength;  // of the key's own path in `path`
        std::size_t depth;
    };
    std::u16string path = topPath;
    std::vector<Frame> stack{{key.Subkeys().begin(), key.Subkeys().end(), path.size(), topDepth.value_or(0)}};
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.end) {
            stack.pop_back();
            continue;
        }
        const RegKey& subkey = *frame.next++;
        if (options.skipVolatile && subkey.isVolatile) continue;
        path.resize(frame.pathLength);
        path += u'\\';
        path += subkey.name;
        const std::size_t depth = frame.depth + 1;
        if (topDepth) {
            if (subkey.name.find(u'\n') != std::u16string::npos) {
                error = "the key \"" + Shortened(path) +
                        "\" has a line break in its name, which a .reg file cannot hold";
                return false;
            }
            if (depth > kMaxKeyDepth) {
                error = "the key \"" + Shortened(path) + "\" is nested " + std::to_string(depth) +
                        " levels deep; keys nest at most " + std::to_string(kMaxKeyDepth) + " levels";
                return false;
            }
        }
        PutSection(out, path, subkey, newline);
        if (subkey.HasSubkeys()) {
            // frame is stale from here
            stack.push_back({subkey.Subkeys().begin(), subkey.Subkeys().end(), path.size(), depth});
        }
    }
    return true;
}

template <typename Out>
void PutHeader(Out& out, const RegWriteOptions& options) {
    PutText(out, kHeader5);
    PutText(out, options.newline);
    PutText(out, options.newline);
}

}  // namespace

std::u16string RegFileHeader(const RegWriteOptions& options) {
    std::u16string header;
    StringOut out{header};
    PutHeader(out, options);
    return header;
}

std::u16string FormatRegValueName(std::u16string_view name) {
    if (name.empty()) return u"@";
    std::u16string text;
    StringOut out{text};
    out.Put(u'"');
    PutEscaped(out, name);
    out.Put(u'"');
    return text;
}

std::u16string FormatRegValue(const RegValue& value, const char16_t* newline) {
    std::u16string line;
    StringOut out{line};
    PutValue(out, value, newline);
    return line;
}

void AppendRegKey(std::u16string& out, const std::u16string& topPath, const RegKey& key,
                  const RegWriteOptions& options) {
    StringOut sink{out};
    std::string unused;
    PutKeyTree(sink, topPath, key, options, std::nullopt, unused);
}

namespace {

// The depth of a full key path that AppendReadableRegKey and WriteRegFile start
// from; nullopt with error set when topPath is not one.
std::optional<std::size_t> TopDepth(const std::u16string& topPath, std::string& error) {
    const std::optional<FullKeyPath> top = ParseFullKeyPath(topPath);
    if (!top) {
        error = "\"" + Shortened(topPath) + "\" is not a full key path";
        return std::nullopt;
    }
    return KeyDepth(*top);
}

}  // namespace

bool AppendReadableRegKey(std::u16string& out, const std::u16string& topPath, const RegKey& key,
                          const RegWriteOptions& options, std::string& error) {
    const std::optional<std::size_t> depth = TopDepth(topPath, error);
    if (!depth) return false;
    const std::size_t start = out.size();
    StringOut sink{out};
    if (PutKeyTree(sink, topPath, key, options, depth, error)) return true;
    out.resize(start);
    return false;
}

std::string EncodeUtf16LeWithBom(std::u16string_view text) {
    std::string bytes(2 + text.size() * 2, '\0');
    bytes[0] = static_cast<char>(0xFF);
    bytes[1] = static_cast<char>(0xFE);
    Utf16LeOut out{bytes.data() + 2};
    PutText(out, text);
    return bytes;
}

std::string EncodeRegFile(const std::u16string& topPath, const RegKey& key, const RegWriteOptions& options) {
    // Counted first, so that the buffer is allocated once at its final size:
    // growing it would hold up to three times the file at the moment of a copy.
    std::string unused;
    CountingOut count;
    PutHeader(count, options);
    PutKeyTree(count, topPath, key, options, std::nullopt, unused);
    std::string bytes(2 + 2 * count.units, '\0');
    bytes[0] = static_cast<char>(0xFF);
    bytes[1] = static_cast<char>(0xFE);
    Utf16LeOut out{bytes.data() + 2};
    PutHeader(out, options);
    PutKeyTree(out, topPath, key, options, std::nullopt, unused);
    return bytes;
}

bool WriteRegFile(const std::u16string& topPath, const RegKey& key, const RegWriteOptions& options,
                  const std::function<void(std::string_view bytes)>& put, std::string& error) {
    const std::optional<std::size_t> depth = TopDepth(topPath, error);
    if (!depth) return false;
    put(kUtf16LeBom);
    BlockOut out(put);
    PutHeader(out, options);
    if (!PutKeyTree(out, topPath, key, options, depth, error)) return false;
    out.Flush();
    return true;
}

}  // namespace qz
