#include "registry/reg_file.h"

#include <algorithm>
#include <functional>
#include <iterator>
#include <optional>

#include "text/code_page.h"
#include "text/utf16_data.h"
#include "registry/memory_registry.h"

namespace qz {
namespace {

constexpr std::u16string_view kHeader5 = u"Windows Registry Editor Version 5.00";
constexpr std::u16string_view kHeader4 = u"REGEDIT4";
// reg export breaks a hex line once it has reached this many characters.
constexpr std::size_t kMaxHexLineLength = 77;

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string_view TrimLeft(std::u16string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    return text;
}

std::u16string_view Trim(std::u16string_view text) {
    text = TrimLeft(text);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

// Nothing but blanks, or a comment, is left on the line.
bool OnlyCommentLeft(std::u16string_view rest) {
    rest = TrimLeft(rest);
    return rest.empty() || rest.front() == u';';
}

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
    return text.size() >= prefix.size() && RegistryNamesEqual(text.substr(0, prefix.size()), prefix);
}

std::string Narrow(std::u16string_view text) { return Utf16ToUtf8(text); }

// A text for a message: the whole of a short one, the start of a long one.
std::string Shortened(std::u16string_view text, std::size_t shown = 200) {
    if (text.size() <= shown) return Narrow(text);
    return Narrow(text.substr(0, shown)) + "...";
}

// Levels below the hive's root key; HKEY_CLASSES_ROOT lies two levels down.
std::size_t KeyDepth(const FullKeyPath& path) {
    return path.components.size() + (path.root == RegRoot::ClassesRoot ? 2 : 0);
}

// The lines of a text, one at a time, from the whole text or from pieces as a
// source gives them: a hive file is read without ever holding all of its text.
// A line is valid until the next one is asked for. A final line break ends the
// last line and does not start another; an empty text is one empty line.
class LineReader {
public:
    explicit LineReader(std::u16string_view text) : text_(text), ended_(true) {}
    explicit LineReader(const RegTextSource& source) : source_(&source) {}

    bool Next(std::u16string_view& line) {
        if (finished_) return false;
        std::size_t end = text_.find(u'\n', position_);
        while (end == std::u16string_view::npos && !ended_) {
            // Keep the unfinished line, drop what was read before it, add a piece.
            const std::size_t searched = text_.size() - position_;
            buffer_.erase(0, position_);
            position_ = 0;
            ended_ = !(*source_)(buffer_);
            text_ = buffer_;
            end = text_.find(u'\n', searched);
        }
        if (end == std::u16string_view::npos) {
            finished_ = true;
            // Nothing after a final line break: no further line (but an empty text is one).
            if (position_ == text_.size() && delivered_) return false;
            end = text_.size();
        }
        line = text_.substr(position_, end - position_);
        if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
        position_ = std::min(end + 1, text_.size());
        delivered_ = true;
        return true;
    }

private:
    const RegTextSource* source_ = nullptr;
    std::u16string buffer_;
    std::u16string_view text_;
    std::size_t position_ = 0;
    bool ended_ = false;
    bool finished_ = false;
    bool delivered_ = false;
};

// The .reg reader: an explicit state machine over the lines of the text, in the
// manner of Wine's reg importer. Each state consumes part of the current line
// and names the next state; nothing is applied here, entries are handed to a
// visitor as they are complete.
class RegTextParser {
public:
    explicit RegTextParser(LineReader& lines) : lines_(lines) {}

    bool Run(const RegEntryVisitor& visit, std::string& error) {
        visit_ = &visit;
        State state = State::Header;
        while (state != State::Done) {
            switch (state) {
                case State::Header: state = Header(); break;
                case State::LineStart: state = LineStart(); break;
                case State::KeyName: state = KeyName(); break;
                case State::DefaultValueName: state = DefaultValueName(); break;
                case State::QuotedValueName: state = QuotedValueName(); break;
                case State::DataStart: state = DataStart(); break;
                case State::DataType: state = DataType(); break;
                case State::StringData: state = StringData(); break;
                case State::DwordData: state = DwordData(); break;
                case State::HexData: state = HexData(); break;
                case State::HexContinuation: state = HexContinuation(); break;
                case State::SetValue: state = SetValue(); break;
                case State::Error:
                    error = "line " + std::to_string(refusedLine_ != 0 ? refusedLine_ : lineNumber()) + ": " + error_;
                    return false;
                case State::Done: break;
            }
        }
        return true;
    }

private:
    enum class State {
        Header,
        LineStart,
        KeyName,
        DefaultValueName,
        QuotedValueName,
        DataStart,
        DataType,
        StringData,
        DwordData,
        HexData,
        HexContinuation,
        SetValue,
        Error,
        Done,
    };

    // After the last line, still the last line's number.
    int lineNumber() const { return lineCount_; }

    bool NextLine() {
        if (!lines_.Next(rest_)) return false;
        ++lineCount_;
        return true;
    }

    State Fail(std::string message) {
        error_ = std::move(message);
        return State::Error;
    }

    // Hands an entry over as soon as it is complete; the visitor may refuse it.
    bool Emit(RegFileEntry& entry) {
        const int line = entry.line;
        if ((*visit_)(entry, error_)) return true;
        refusedLine_ = line;
        return false;
    }

    State Header() {
        NextLine();  // an empty text is one empty line: there always is a first
        // A BOM that decoding left in place, and blank lines, may come first.
        if (!rest_.empty() && rest_.front() == 0xFEFF) rest_.remove_prefix(1);
        while (Trim(rest_).empty()) {
            if (!NextLine()) return Fail("no header: the file is empty");
        }
        const std::u16string_view header = Trim(rest_);
        if (header == kHeader5) {
            unicode_ = true;
        } else if (header == kHeader4) {
            unicode_ = false;
        } else {
            return Fail("not a registry file: the first line must be \"Windows Registry Editor Version 5.00\" "
                        "or \"REGEDIT4\"");
        }
        return NextLine() ? State::LineStart : State::Done;
    }

    State LineStart() {
        const std::u16string_view line = TrimLeft(rest_);
        if (line.empty() || line.front() == u';') return NextLine() ? State::LineStart : State::Done;
        rest_ = line;
        switch (line.front()) {
            case u'[': return State::KeyName;
            case u'@': return State::DefaultValueName;
            case u'"': return State::QuotedValueName;
            default: return Fail("expected [key], \"name\"= or @= but found \"" + Narrow(Trim(line)) + "\"");
        }
    }

    State KeyName() {
        rest_.remove_prefix(1);  // '['
        const bool remove = !rest_.empty() && rest_.front() == u'-';
        if (remove) rest_.remove_prefix(1);
        // Key names may themselves hold ']': the last one on the line closes the name.
        const std::size_t close = rest_.rfind(u']');
        if (close == std::u16string_view::npos) return Fail("key name without a closing ]");
        const std::u16string_view path = rest_.substr(0, close);
        if (!OnlyCommentLeft(rest_.substr(close + 1))) return Fail("text after the key name");
        const std::optional<FullKeyPath> parsed = ParseFullKeyPath(path);
        if (!parsed) {
            return Fail("bad key name \"" + Shortened(path) +
                        "\": it must start with HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER or HKEY_CLASSES_ROOT "
                        "and have no empty part");
        }
        // Refused here, so that nothing that reads or writes a tree need fear its depth.
        const std::size_t depth = KeyDepth(*parsed);
        if (depth > kMaxKeyDepth) {
            return Fail("the key is nested " + std::to_string(depth) + " levels deep; keys nest at most " +
                        std::to_string(kMaxKeyDepth) + " levels");
        }
        // A registry refuses longer names, and a key it cannot name is one that no
        // registry call could open, enumerate or remove.
        for (const std::u16string& component : parsed->components) {
            if (component.size() > kMaxKeyNameLength) {
                return Fail("the key name \"" + Shortened(component, 40) + "\" has " +
                            std::to_string(component.size()) + " characters; a key name holds at most " +
                            std::to_string(kMaxKeyNameLength));
            }
        }
        RegFileEntry entry;
        entry.kind = remove ? RegFileEntry::Kind::DeleteKey : RegFileEntry::Kind::Key;
        entry.key = std::make_shared<const std::u16string>(path);
        entry.line = lineNumber();
        // Values may follow a key, not the removal of one.
        currentKey_ = remove ? nullptr : entry.key;
        if (!Emit(entry)) return State::Error;
        return NextLine() ? State::LineStart : State::Done;
    }

    State StartValue() {
        if (currentKey_ == nullptr) return Fail("a value outside of any key");
        pending_ = RegFileEntry();
        pending_.kind = RegFileEntry::Kind::Value;
        pending_.key = currentKey_;
        pending_.line = lineNumber();
        return State::DataStart;
    }

    State DefaultValueName() {
        rest_.remove_prefix(1);  // '@'
        const State next = StartValue();
        pending_.value.name.clear();
        return next;
    }

    // A quoted text with \\ and \" escapes (and \n, \r as Wine writes them);
    // rest_ starts at the opening quote and ends after the closing one.
    bool ReadQuoted(std::u16string& text) {
        rest_.remove_prefix(1);
        text.clear();
        while (!rest_.empty()) {
            const char16_t c = rest_.front();
            rest_.remove_prefix(1);
            if (c == u'"') return true;
            if (c != u'\\') {
                text.push_back(c);
                continue;
            }
            if (rest_.empty()) break;
            const char16_t escaped = rest_.front();
            rest_.remove_prefix(1);
            switch (escaped) {
                case u'\\': text.push_back(u'\\'); break;
                case u'"': text.push_back(u'"'); break;
                case u'n': text.push_back(u'\n'); break;
                case u'r': text.push_back(u'\r'); break;
                default:
                    error_ = "unknown escape \\" + Narrow(std::u16string(1, escaped)) + " in a quoted text";
                    return false;
            }
        }
        error_ = "quoted text without a closing \"";
        return false;
    }

    State QuotedValueName() {
        std::u16string name;
        if (!ReadQuoted(name)) return State::Error;
        if (name.size() > kMaxValueNameLength) {
            return Fail("the value name \"" + Shortened(name, 40) + "\" has " + std::to_string(name.size()) +
                        " characters; a value name holds at most " + std::to_string(kMaxValueNameLength));
        }
        const State next = StartValue();
        pending_.value.name = std::move(name);
        return next;
    }

    State DataStart() {
        rest_ = TrimLeft(rest_);
        if (rest_.empty() || rest_.front() != u'=') return Fail("expected = after the value name");
        rest_ = TrimLeft(rest_.substr(1));
        if (!rest_.empty() && rest_.front() == u'-') {
            if (!OnlyCommentLeft(rest_.substr(1))) return Fail("text after =-");
            pending_.kind = RegFileEntry::Kind::DeleteValue;
            return State::SetValue;
        }
        return State::DataType;
    }

    State DataType() {
        hexData_ = false;
        hexAfterComma_ = false;
        if (!rest_.empty() && rest_.front() == u'"') return State::StringData;
        if (StartsWithNoCase(rest_, u"dword:")) {
            rest_.remove_prefix(6);
            return State::DwordData;
        }
        if (StartsWithNoCase(rest_, u"hex:")) {
            rest_.remove_prefix(4);
            pending_.value.type = REG_BINARY;
            hexData_ = true;
            return State::HexData;
        }
        if (StartsWithNoCase(rest_, u"hex(")) {
            rest_.remove_prefix(4);
            DWORD type = 0;
            int digits = 0;
            while (!rest_.empty() && HexDigit(rest_.front()) >= 0 && digits < 8) {
                type = type * 16 + static_cast<DWORD>(HexDigit(rest_.front()));
                rest_.remove_prefix(1);
                ++digits;
            }
            if (digits == 0 || rest_.size() < 2 || rest_[0] != u')' || rest_[1] != u':')
                return Fail("bad data type: expected hex(N): with N a hexadecimal number");
            rest_.remove_prefix(2);
            pending_.value.type = type;
            hexData_ = true;
            return State::HexData;
        }
        return Fail("unknown data type \"" + Narrow(Trim(rest_)) + "\": expected \"text\", dword:, hex: or hex(N):");
    }

    State StringData() {
        std::u16string text;
        if (!ReadQuoted(text)) return State::Error;
        if (!OnlyCommentLeft(rest_)) return Fail("text after the closing \"");
        pending_.value.type = REG_SZ;
        pending_.value.data = Utf16Data(text, true);
        return State::SetValue;
    }

    State DwordData() {
        DWORD number = 0;
        int digits = 0;
        while (!rest_.empty() && HexDigit(rest_.front()) >= 0) {
            if (++digits > 8) return Fail("dword: takes at most 8 hexadecimal digits");
            number = number * 16 + static_cast<DWORD>(HexDigit(rest_.front()));
            rest_.remove_prefix(1);
        }
        if (digits == 0) return Fail("dword: without a hexadecimal number");
        if (!OnlyCommentLeft(rest_)) return Fail("text after the dword: number");
        pending_.value.type = REG_DWORD;
        pending_.value.data = {static_cast<BYTE>(number), static_cast<BYTE>(number >> 8),
                               static_cast<BYTE>(number >> 16), static_cast<BYTE>(number >> 24)};
        return State::SetValue;
    }

    // Comma-separated bytes of one or two hex digits; a line ending in a
    // backslash continues on the next one.
    State HexData() {
        while (true) {
            rest_ = TrimLeft(rest_);
            if (rest_.empty() || rest_.front() == u';') {
                if (hexAfterComma_) return Fail("hex data ends with a comma and no \\ to continue it");
                return State::SetValue;
            }
            if (rest_.front() == u'\\') {
                if (!OnlyCommentLeft(rest_.substr(1))) return Fail("text after the \\ that continues hex data");
                return State::HexContinuation;
            }
            if (!pending_.value.data.empty() && !hexAfterComma_) return Fail("expected , between hex bytes");
            const int high = HexDigit(rest_.front());
            if (high < 0) return Fail("bad hex byte \"" + Narrow(Trim(rest_)) + "\"");
            rest_.remove_prefix(1);
            int byte = high;
            if (!rest_.empty() && HexDigit(rest_.front()) >= 0) {
                byte = byte * 16 + HexDigit(rest_.front());
                rest_.remove_prefix(1);
            }
            if (!rest_.empty() && HexDigit(rest_.front()) >= 0) return Fail("a hex byte has at most two digits");
            pending_.value.data.push_back(static_cast<BYTE>(byte));
            rest_ = TrimLeft(rest_);
            hexAfterComma_ = !rest_.empty() && rest_.front() == u',';
            if (hexAfterComma_) rest_.remove_prefix(1);
        }
    }

    State HexContinuation() {
        do {
            if (!NextLine()) return Fail("hex data continued with \\ on the last line");
        } while (TrimLeft(rest_).size() > 0 && TrimLeft(rest_).front() == u';');
        if (Trim(rest_).empty()) return Fail("hex data continued with \\ but the next line is empty");
        return State::HexData;
    }

    State SetValue() {
        RegValue& value = pending_.value;
        // REGEDIT4 files give string data written as hex in the narrow code page
        // (quoted strings are text of the file and already UTF-16).
        if (!unicode_ && pending_.kind == RegFileEntry::Kind::Value && hexData_ &&
            (value.type == REG_SZ || value.type == REG_EXPAND_SZ || value.type == REG_MULTI_SZ)) {
            const std::string narrow(value.data.begin(), value.data.end());
            value.data = Utf16Data(NarrowToWide(narrow), false);
        }
        if (!Emit(pending_)) return State::Error;
        pending_ = RegFileEntry();
        return NextLine() ? State::LineStart : State::Done;
    }

    LineReader& lines_;
    int lineCount_ = 0;
    std::u16string_view rest_;
    std::string error_;
    bool unicode_ = true;
    bool hexData_ = false;        // the pending value's data was written as hex
    bool hexAfterComma_ = false;  // hex data so far ends with a comma: a byte must follow
    std::shared_ptr<const std::u16string> currentKey_;  // the section values go to; null: none
    RegFileEntry pending_;
    const RegEntryVisitor* visit_ = nullptr;
    int refusedLine_ = 0;  // the line of an entry the visitor refused
};

// ---- writing --------------------------------------------------------------------
//
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

constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool StartsWithBytes(std::string_view bytes, std::string_view prefix) {
    return bytes.size() >= prefix.size() && bytes.compare(0, prefix.size(), prefix) == 0;
}

// A text the bytes could still grow into.
bool IsProperPrefix(std::string_view bytes, std::string_view of) {
    return bytes.size() < of.size() && of.compare(0, bytes.size(), bytes) == 0;
}

const char* const kHiveForm =
    "; the registry folder's files are UTF-16LE with a byte order mark, starting \"Windows Registry Editor "
    "Version 5.00\"";

}  // namespace

// ---- decoding ---------------------------------------------------------------------

// Names the encoding from the first bytes (in pending_), or waits for more while
// they could still grow into a mark; at the end of the file (final) it cannot wait.
void RegFileDecoder::Decide(std::u16string& text, bool final) {
    if (StartsWithBytes(pending_, kUtf16LeBom)) {
        encoding_ = Encoding::Utf16Le;
        pending_.erase(0, 2);
    } else if (rule_ == RegFileRule::Import) {
        if (StartsWithBytes(pending_, kUtf8Bom)) {
            encoding_ = Encoding::Utf8;
            pending_.erase(0, 3);
        } else if (!final && (IsProperPrefix(pending_, kUtf16LeBom) || IsProperPrefix(pending_, kUtf8Bom))) {
            return;  // a mark may still be arriving
        } else {
            encoding_ = Encoding::Narrow;
        }
    } else {
        // Enough bytes to say what the file is instead, before refusing it.
        if (!final && (IsProperPrefix(pending_, kUtf16LeBom) || IsProperPrefix(pending_, kUtf8Bom) ||
                       IsProperPrefix(pending_, "\xFE\xFF") || IsProperPrefix(pending_, "REGEDIT4")))
            return;
        std::string what = "it has no UTF-16LE byte order mark (saved as UTF-8 or ANSI text?)";
        if (pending_.empty()) {
            what = "the file is empty";
        } else if (StartsWithBytes(pending_, kUtf8Bom)) {
            what = "it is UTF-8 text";
        } else if (StartsWithBytes(pending_, "\xFE\xFF")) {
            what = "it is UTF-16 big-endian text";
        } else if (StartsWithBytes(pending_, "REGEDIT4")) {
            what = "it is a REGEDIT4 file";
        }
        refusal_ = "line 1: not a hive file: " + what + kHiveForm;
        pending_.clear();
        return;
    }
    std::string start;
    start.swap(pending_);
    Feed(start, text);
}

void RegFileDecoder::FeedUtf16Le(std::string_view bytes, std::u16string& text) {
    const std::size_t base = text.size();
    std::size_t i = 0;
    if (!pending_.empty() && !bytes.empty()) {
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(pending_[0]) |
                                             (static_cast<unsigned char>(bytes[0]) << 8)));
        pending_.clear();
        i = 1;
    }
    const std::size_t units = (bytes.size() - i) / 2;
    const std::size_t at = text.size();
    text.resize(at + units);
    for (std::size_t u = 0; u < units; ++u, i += 2) {
        text[at + u] = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                             (static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
    if (i < bytes.size()) pending_.assign(1, bytes[i]);
    if (rule_ != RegFileRule::Hive) return;
    // What a hive file's verdict needs: its first line, and where its lines break.
    for (std::size_t k = base; k < text.size(); ++k) {
        const char16_t c = text[k];
        if (c == u'\n') {
            ++lineBreaks_;
            firstLineDone_ = true;
        } else if (!firstLineDone_ && firstLine_.size() <= kHeader5.size() + 1) {
            firstLine_.push_back(c);  // no further than a header and its CR could reach
        }
    }
}

void RegFileDecoder::Feed(std::string_view bytes, std::u16string& text) {
    if (Refused()) return;
    if (encoding_ == Encoding::Unknown) {
        pending_.append(bytes.data(), bytes.size());
        Decide(text, false);
        return;
    }
    if (encoding_ == Encoding::Narrow) {
        const std::size_t base = text.size();
        text.resize(base + bytes.size());
        for (std::size_t i = 0; i < bytes.size(); ++i)
            text[base + i] = Windows1252ToUtf16(static_cast<unsigned char>(bytes[i]));
        return;
    }
    if (encoding_ == Encoding::Utf16Le) {
        FeedUtf16Le(bytes, text);
        return;
    }
    // UTF-8: a sequence cut at the end of the bytes waits for its continuation.
    const auto isContinuation = [](char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; };
    const auto length = [](char c) {
        const unsigned char lead = static_cast<unsigned char>(c);
        return (lead & 0xE0) == 0xC0 ? 2u : (lead & 0xF0) == 0xE0 ? 3u : (lead & 0xF8) == 0xF0 ? 4u : 1u;
    };
    if (!pending_.empty()) {
        const std::size_t wanted = length(pending_[0]);
        std::size_t taken = 0;
        while (pending_.size() < wanted && taken < bytes.size() && isContinuation(bytes[taken]))
            pending_.push_back(bytes[taken++]);
        bytes.remove_prefix(taken);
        if (pending_.size() < wanted && bytes.empty()) return;
        text += Utf8ToUtf16(pending_);
        pending_.clear();
    }
    std::size_t cut = bytes.size();
    for (std::size_t back = 1; back <= 4 && back <= bytes.size(); ++back) {
        const char c = bytes[bytes.size() - back];
        if (isContinuation(c)) continue;
        if (length(c) > back) cut = bytes.size() - back;
        break;
    }
    pending_.assign(bytes.substr(cut));
    text += Utf8ToUtf16(bytes.substr(0, cut));
}

bool RegFileDecoder::Finish(std::u16string& text, std::string& error) {
    if (encoding_ == Encoding::Unknown && !Refused()) Decide(text, true);
    if (Refused()) {
        error = refusal_;
        return false;
    }
    if (encoding_ == Encoding::Utf8 && !pending_.empty()) text += Utf8ToUtf16(pending_);  // malformed
    const bool tornCharacter = encoding_ == Encoding::Utf16Le && !pending_.empty();
    pending_.clear();
    if (rule_ != RegFileRule::Hive) return true;  // an import drops a lone last byte
    if (tornCharacter) {
        refusal_ = "line " + std::to_string(lineBreaks_ + 1) + ": the file ends in the middle of a UTF-16 character";
    } else {
        std::u16string_view firstLine = firstLine_;
        if (!firstLine.empty() && firstLine.back() == u'\r') firstLine.remove_suffix(1);
        if (firstLine != kHeader5) {
            refusal_ = std::string("line 1: not a hive file: the first line is not \"Windows Registry Editor Version "
                                   "5.00\"") +
                       kHiveForm;
        }
    }
    error = refusal_;
    return refusal_.empty();
}

bool DecodeRegFileBytes(std::string_view bytes, RegFileRule rule, std::u16string& text, std::string& error) {
    text.clear();
    text.reserve(rule == RegFileRule::Hive ? bytes.size() / 2 : bytes.size());
    RegFileDecoder decoder(rule);
    decoder.Feed(bytes, text);
    if (decoder.Finish(text, error)) return true;
    text.clear();
    return false;
}

std::u16string DecodeRegFileBytes(std::string_view bytes) {
    std::u16string text;
    std::string unused;
    DecodeRegFileBytes(bytes, RegFileRule::Import, text, unused);
    return text;
}

// ---- reading --------------------------------------------------------------------

bool VisitRegText(std::u16string_view text, const RegEntryVisitor& visit, std::string& error) {
    LineReader lines(text);
    RegTextParser parser(lines);
    return parser.Run(visit, error);
}

bool VisitRegText(const RegTextSource& source, const RegEntryVisitor& visit, std::string& error) {
    LineReader lines(source);
    RegTextParser parser(lines);
    return parser.Run(visit, error);
}

bool ParseRegText(std::u16string_view text, std::vector<RegFileEntry>& entries, std::string& error) {
    entries.clear();
    const bool parsed = VisitRegText(
        text,
        [&entries](RegFileEntry& entry, std::string&) {
            entries.push_back(std::move(entry));
            return true;
        },
        error);
    if (!parsed) entries.clear();
    return parsed;
}

void RegEntryApplier::Apply(RegFileEntry& entry) {
    const std::u16string& path = entry.keyPath();
    switch (entry.kind) {
        case RegFileEntry::Kind::Key:
        case RegFileEntry::Kind::DeleteKey:
            if (entry.kind == RegFileEntry::Kind::Key) {
                registry_.EnsureKey(path);
            } else {
                registry_.RemoveTree(path);
            }
            section_ = nullptr;  // the tree changed: keys may have gone
            break;
        case RegFileEntry::Kind::Value:
        case RegFileEntry::Kind::DeleteValue:
            // Found once per section: walking a long path again for each of many
            // values would cost their number times its length.
            if (section_ != entry.key) {
                registry_.EnsureKey(path);
                sectionKey_ = const_cast<RegKey*>(registry_.FindKey(path));
                section_ = entry.key;
            }
            if (sectionKey_ == nullptr) break;
            if (entry.kind == RegFileEntry::Kind::Value) {
                sectionKey_->SetValue(std::move(entry.value));
            } else {
                sectionKey_->RemoveValue(entry.value.name);
            }
            break;
    }
}

void ApplyRegEntries(const std::vector<RegFileEntry>& entries, MemoryRegistry& registry) {
    RegEntryApplier applier(registry);
    for (const RegFileEntry& entry : entries) {
        RegFileEntry copy = entry;
        applier.Apply(copy);
    }
}

bool ImportRegText(std::u16string_view text, MemoryRegistry& registry, std::string& error) {
    // Checked whole first, then read again and applied entry by entry: no list
    // of entries as large as the file is ever held.
    if (!VisitRegText(text, [](RegFileEntry&, std::string&) { return true; }, error)) return false;
    RegEntryApplier applier(registry);
    return VisitRegText(
        text,
        [&applier](RegFileEntry& entry, std::string&) {
            applier.Apply(entry);
            return true;
        },
        error);
}

// ---- writing ----------------------------------------------------------------------

std::u16string RegFileHeader(const RegWriteOptions& options) {
    std::u16string header;
    StringOut out{header};
    PutHeader(out, options);
    return header;
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
