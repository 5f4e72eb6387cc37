#include "registry/reg_file.h"

#include <algorithm>

#include "text/code_page.h"
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

std::vector<BYTE> Utf16Bytes(std::u16string_view text, bool terminate) {
    std::vector<BYTE> bytes;
    bytes.reserve((text.size() + 1) * 2);
    for (char16_t c : text) {
        bytes.push_back(static_cast<BYTE>(c & 0xFF));
        bytes.push_back(static_cast<BYTE>(c >> 8));
    }
    if (terminate) bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

std::string Narrow(std::u16string_view text) { return Utf16ToUtf8(text); }

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
        if (!ParseFullKeyPath(path)) {
            return Fail("bad key name \"" + Narrow(path) +
                        "\": it must start with HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER or HKEY_CLASSES_ROOT "
                        "and have no empty part");
        }
        RegFileEntry entry;
        entry.kind = remove ? RegFileEntry::Kind::DeleteKey : RegFileEntry::Kind::Key;
        entry.keyPath = std::u16string(path);
        entry.line = lineNumber();
        if (!Emit(entry)) return State::Error;
        // Values may follow a key, not the removal of one.
        currentKey_ = remove ? std::u16string() : std::u16string(path);
        return NextLine() ? State::LineStart : State::Done;
    }

    State StartValue() {
        if (currentKey_.empty()) return Fail("a value outside of any key");
        pending_ = RegFileEntry();
        pending_.kind = RegFileEntry::Kind::Value;
        pending_.keyPath = currentKey_;
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
        pending_.value.data = Utf16Bytes(text, true);
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
            value.data = Utf16Bytes(NarrowToWide(narrow), false);
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
    std::u16string currentKey_;
    RegFileEntry pending_;
    const RegEntryVisitor* visit_ = nullptr;
    int refusedLine_ = 0;  // the line of an entry the visitor refused
};

// ---- writing --------------------------------------------------------------------
//
// One writer serves every output: it appends to an Out, which is a counter (to
// size a buffer exactly), a std::u16string, or a byte buffer taking UTF-16LE.
// A hive of a million values is written without a string per line or per value
// and without a second copy of the text.

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
    ~BlockOut() = default;
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

// Text in a quoted form: backslashes and quotes escaped, runs between them whole.
template <typename Out>
void PutEscaped(Out& out, std::u16string_view text) {
    std::size_t runStart = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\\' || text[i] == u'"') {
            out.Put(text.data() + runStart, i - runStart);
            out.Put(u'\\');
            runStart = i;
        }
    }
    out.Put(text.data() + runStart, text.size() - runStart);
}

char16_t CodeUnitAt(const std::vector<BYTE>& data, std::size_t index) {
    return static_cast<char16_t>(data[2 * index] | (data[2 * index + 1] << 8));
}

// REG_SZ data that a quoted string gives back byte for byte: whole UTF-16
// code units, one terminating NUL at the end and none before it, and no line
// breaks (a reader of the quoted form would see them as the end of the line).
bool QuotableString(const std::vector<BYTE>& data) {
    if (data.size() < 2 || data.size() % 2 != 0) return false;
    const std::size_t units = data.size() / 2;
    if (CodeUnitAt(data, units - 1) != 0) return false;
    for (std::size_t i = 0; i + 1 < units; ++i) {
        const char16_t c = CodeUnitAt(data, i);
        if (c == 0 || c == u'\r' || c == u'\n') return false;
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
        std::size_t runStart = 0;
        const std::size_t units = value.data.size() / 2 - 1;
        for (std::size_t i = 0; i < units; ++i) {
            const char16_t c = CodeUnitAt(value.data, i);
            if (c == u'\\' || c == u'"') {
                for (std::size_t k = runStart; k < i; ++k) out.Put(CodeUnitAt(value.data, k));
                out.Put(u'\\');
                runStart = i;
            }
        }
        for (std::size_t k = runStart; k < units; ++k) out.Put(CodeUnitAt(value.data, k));
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

// The key and everything below it, depth first, with an explicit stack: the
// path grows and shrinks in one string, and no depth of keys can exhaust the
// call stack.
template <typename Out>
void PutKeyTree(Out& out, const std::u16string& topPath, const RegKey& key, const RegWriteOptions& options) {
    // Everything below a volatile key is volatile too.
    if (options.skipVolatile && key.isVolatile) return;
    const std::u16string_view newline = options.newline;
    if (!(options.skipEmptyTop && !key.HasValues())) PutSection(out, topPath, key, newline);
    struct Frame {
        RegKey::SubkeyIterator next, end;
        std::size_t pathLength;
    };
    std::u16string path = topPath;
    std::vector<Frame> stack{{key.Subkeys().begin(), key.Subkeys().end(), path.size()}};
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
        PutSection(out, path, subkey, newline);
        if (subkey.HasSubkeys()) stack.push_back({subkey.Subkeys().begin(), subkey.Subkeys().end(), path.size()});
    }
}

template <typename Out>
void PutHeader(Out& out, const RegWriteOptions& options) {
    PutText(out, kHeader5);
    PutText(out, options.newline);
    PutText(out, options.newline);
}

}  // namespace

void RegFileDecoder::Feed(std::string_view bytes, std::u16string& text) {
    if (encoding_ == Encoding::Unknown) {
        // Two bytes tell UTF-16LE, three UTF-8; until then the bytes wait.
        pending_.append(bytes.data(), bytes.size());
        const auto byte = [this](std::size_t i) { return static_cast<unsigned char>(pending_[i]); };
        if (pending_.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE) {
            encoding_ = Encoding::Utf16Le;
            pending_.erase(0, 2);
        } else if (pending_.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
            encoding_ = Encoding::Utf8;
            pending_.erase(0, 3);
        } else if (!pending_.empty() && (pending_.size() >= 3 || (byte(0) != 0xFF && byte(0) != 0xEF))) {
            encoding_ = Encoding::Narrow;
        } else {
            return;
        }
        std::string start;
        start.swap(pending_);
        Feed(start, text);
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
        std::size_t i = 0;
        if (!pending_.empty() && !bytes.empty()) {
            text.push_back(static_cast<char16_t>(static_cast<unsigned char>(pending_[0]) |
                                                 (static_cast<unsigned char>(bytes[0]) << 8)));
            pending_.clear();
            i = 1;
        }
        const std::size_t units = (bytes.size() - i) / 2;
        const std::size_t base = text.size();
        text.resize(base + units);
        for (std::size_t u = 0; u < units; ++u, i += 2) {
            text[base + u] = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                   (static_cast<unsigned char>(bytes[i + 1]) << 8));
        }
        if (i < bytes.size()) pending_.assign(1, bytes[i]);
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

void RegFileDecoder::Finish(std::u16string& text) {
    if (encoding_ == Encoding::Unknown && !pending_.empty()) {
        // Too short to name an encoding: the narrow code page, as for any file without a BOM.
        encoding_ = Encoding::Narrow;
        std::string start;
        start.swap(pending_);
        Feed(start, text);
    }
    // A lone byte of UTF-16 is dropped; an unfinished UTF-8 sequence is malformed.
    if (encoding_ == Encoding::Utf8 && !pending_.empty()) text += Utf8ToUtf16(pending_);
    pending_.clear();
}

std::u16string DecodeRegFileBytes(std::string_view bytes) {
    std::u16string text;
    text.reserve(bytes.size());
    RegFileDecoder decoder;
    decoder.Feed(bytes, text);
    decoder.Finish(text);
    return text;
}

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

void ApplyRegEntry(RegFileEntry&& entry, MemoryRegistry& registry) {
    switch (entry.kind) {
        case RegFileEntry::Kind::Key: registry.EnsureKey(entry.keyPath); break;
        case RegFileEntry::Kind::DeleteKey: registry.RemoveTree(entry.keyPath); break;
        case RegFileEntry::Kind::Value: registry.PutValue(entry.keyPath, std::move(entry.value)); break;
        case RegFileEntry::Kind::DeleteValue: registry.RemoveValue(entry.keyPath, entry.value.name); break;
    }
}

void ApplyRegEntries(const std::vector<RegFileEntry>& entries, MemoryRegistry& registry) {
    for (const RegFileEntry& entry : entries) ApplyRegEntry(RegFileEntry(entry), registry);
}

bool ImportRegText(std::u16string_view text, MemoryRegistry& registry, std::string& error) {
    // Checked whole first, then read again and applied entry by entry: no list
    // of entries as large as the file is ever held.
    if (!VisitRegText(text, [](RegFileEntry&, std::string&) { return true; }, error)) return false;
    return VisitRegText(
        text,
        [&registry](RegFileEntry& entry, std::string&) {
            ApplyRegEntry(std::move(entry), registry);
            return true;
        },
        error);
}

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
    PutKeyTree(sink, topPath, key, options);
}

void WriteRegFile(const std::u16string& topPath, const RegKey& key, const RegWriteOptions& options,
                  const std::function<void(std::string_view bytes)>& put) {
    put(std::string_view("\xFF\xFE", 2));
    BlockOut out(put);
    PutHeader(out, options);
    PutKeyTree(out, topPath, key, options);
    out.Flush();
}

std::string EncodeRegFile(const std::u16string& topPath, const RegKey& key, const RegWriteOptions& options) {
    // Counted first, so that the buffer is allocated once at its final size:
    // growing it would hold up to three times the file at the moment of a copy.
    CountingOut count;
    PutHeader(count, options);
    PutKeyTree(count, topPath, key, options);
    std::string bytes(2 + 2 * count.units, '\0');
    bytes[0] = static_cast<char>(0xFF);
    bytes[1] = static_cast<char>(0xFE);
    Utf16LeOut out{bytes.data() + 2};
    PutHeader(out, options);
    PutKeyTree(out, topPath, key, options);
    return bytes;
}

std::string EncodeUtf16LeWithBom(std::u16string_view text) {
    std::string bytes;
    bytes.reserve(2 + text.size() * 2);
    bytes.push_back(static_cast<char>(0xFF));
    bytes.push_back(static_cast<char>(0xFE));
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

}  // namespace qz
