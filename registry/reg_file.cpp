#include "registry/reg_file.h"

#include <algorithm>
#include <cstdio>

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

// The .reg reader: an explicit state machine over the lines of the text, in the
// manner of Wine's reg importer. Each state consumes part of the current line
// and names the next state; nothing is applied here, entries are only collected.
class RegTextParser {
public:
    explicit RegTextParser(std::u16string_view text) {
        // A final line break ends the last line; it does not start another.
        if (!text.empty() && text.back() == u'\n') text.remove_suffix(1);
        std::size_t start = 0;
        while (start <= text.size()) {
            std::size_t end = text.find(u'\n', start);
            if (end == std::u16string_view::npos) end = text.size();
            std::u16string_view line = text.substr(start, end - start);
            if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
            lines_.push_back(line);
            start = end + 1;
        }
    }

    bool Run(std::vector<RegFileEntry>& entries, std::string& error) {
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
                    error = "line " + std::to_string(lineNumber()) + ": " + error_;
                    entries.clear();
                    return false;
                case State::Done: break;
            }
        }
        entries = std::move(entries_);
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

    int lineNumber() const { return static_cast<int>(std::min(index_, lines_.size() - 1)) + 1; }

    bool NextLine() {
        if (index_ + 1 >= lines_.size()) {
            index_ = lines_.size();
            return false;
        }
        rest_ = lines_[++index_];
        return true;
    }

    State Fail(std::string message) {
        error_ = std::move(message);
        return State::Error;
    }

    State Header() {
        rest_ = lines_[0];
        // A BOM that decoding left in place, and blank lines, may come first.
        if (!rest_.empty() && rest_.front() == 0xFEFF) rest_.remove_prefix(1);
        while (Trim(rest_).empty()) {
            if (!NextLine()) {
                index_ = lines_.size() - 1;
                return Fail("no header: the file is empty");
            }
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
        entries_.push_back(std::move(entry));
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
            if (!NextLine()) {
                index_ = lines_.size() - 1;
                return Fail("hex data continued with \\ on the last line");
            }
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
        entries_.push_back(std::move(pending_));
        pending_ = RegFileEntry();
        return NextLine() ? State::LineStart : State::Done;
    }

    std::vector<std::u16string_view> lines_;
    std::size_t index_ = 0;
    std::u16string_view rest_;
    std::string error_;
    bool unicode_ = true;
    bool hexData_ = false;        // the pending value's data was written as hex
    bool hexAfterComma_ = false;  // hex data so far ends with a comma: a byte must follow
    std::u16string currentKey_;
    RegFileEntry pending_;
    std::vector<RegFileEntry> entries_;
};

// ---- writing --------------------------------------------------------------------

std::u16string Escaped(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (char16_t c : text) {
        if (c == u'\\' || c == u'"') out.push_back(u'\\');
        out.push_back(c);
    }
    return out;
}

// REG_SZ data that a quoted string gives back byte for byte: whole UTF-16
// code units, one terminating NUL at the end and none before it, and no line
// breaks (a reader of the quoted form would see them as the end of the line).
bool QuotableString(const std::vector<BYTE>& data, std::u16string& text) {
    if (data.size() < 2 || data.size() % 2 != 0) return false;
    const std::size_t units = data.size() / 2;
    text.clear();
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t c = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
        if (i + 1 == units) return c == 0;
        if (c == 0 || c == u'\r' || c == u'\n') return false;
        text.push_back(c);
    }
    return false;
}

std::u16string Ascii(const char* text) { return std::u16string(text, text + std::char_traits<char>::length(text)); }

}  // namespace

std::u16string DecodeRegFileBytes(std::string_view bytes) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        std::u16string text;
        text.reserve(bytes.size() / 2);
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
            text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                 (static_cast<unsigned char>(bytes[i + 1]) << 8)));
        }
        return text;
    }
    if (bytes.size() >= 3 && static_cast<unsigned char>(bytes[0]) == 0xEF &&
        static_cast<unsigned char>(bytes[1]) == 0xBB && static_cast<unsigned char>(bytes[2]) == 0xBF) {
        return Utf8ToUtf16(bytes.substr(3));
    }
    return NarrowToWide(bytes);
}

bool ParseRegText(std::u16string_view text, std::vector<RegFileEntry>& entries, std::string& error) {
    RegTextParser parser(text);
    return parser.Run(entries, error);
}

void ApplyRegEntries(const std::vector<RegFileEntry>& entries, MemoryRegistry& registry) {
    for (const RegFileEntry& entry : entries) {
        switch (entry.kind) {
            case RegFileEntry::Kind::Key: registry.EnsureKey(entry.keyPath); break;
            case RegFileEntry::Kind::DeleteKey: registry.RemoveTree(entry.keyPath); break;
            case RegFileEntry::Kind::Value: registry.PutValue(entry.keyPath, entry.value); break;
            case RegFileEntry::Kind::DeleteValue: registry.RemoveValue(entry.keyPath, entry.value.name); break;
        }
    }
}

bool ImportRegText(std::u16string_view text, MemoryRegistry& registry, std::string& error) {
    std::vector<RegFileEntry> entries;
    if (!ParseRegText(text, entries, error)) return false;
    ApplyRegEntries(entries, registry);
    return true;
}

std::u16string RegFileHeader(const RegWriteOptions& options) {
    std::u16string header(kHeader5);
    header += options.newline;
    header += options.newline;
    return header;
}

std::u16string FormatRegValue(const RegValue& value, const char16_t* newline) {
    std::u16string line;
    if (value.name.empty()) {
        line = u"@=";
    } else {
        line = u"\"" + Escaped(value.name) + u"\"=";
    }
    std::u16string text;
    if (value.type == REG_SZ && QuotableString(value.data, text)) {
        return line + u"\"" + Escaped(text) + u"\"";
    }
    if (value.type == REG_DWORD && value.data.size() == 4) {
        char digits[16];
        const unsigned number = static_cast<unsigned>(value.data[0]) | (static_cast<unsigned>(value.data[1]) << 8) |
                                (static_cast<unsigned>(value.data[2]) << 16) |
                                (static_cast<unsigned>(value.data[3]) << 24);
        std::snprintf(digits, sizeof digits, "dword:%08x", number);
        return line + Ascii(digits);
    }
    std::size_t lineLength = line.size();
    if (value.type == REG_BINARY) {
        line += u"hex:";
    } else {
        char prefix[24];
        std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(value.type));
        line += Ascii(prefix);
    }
    lineLength = line.size();
    // Wrapped as reg export wraps it: a line is broken after the comma that
    // takes it to kMaxHexLineLength characters, and goes on indented by two.
    for (std::size_t i = 0; i < value.data.size(); ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%02x", value.data[i]);
        line += Ascii(byte);
        if (i + 1 == value.data.size()) break;
        line += u',';
        lineLength += 3;
        if (lineLength >= kMaxHexLineLength) {
            line += u'\\';
            line += newline;
            line += u"  ";
            lineLength = 2;
        }
    }
    return line;
}

void AppendRegKey(std::u16string& out, const std::u16string& topPath, const RegKey& key,
                  const RegWriteOptions& options) {
    // Everything below a volatile key is volatile too.
    if (options.skipVolatile && key.isVolatile) return;
    if (!(options.skipEmptyTop && !key.HasValues())) {
        out += u"[" + topPath + u"]" + options.newline;
        // Values in order of name, the default value (the empty name) first.
        std::vector<const RegValue*> values;
        for (const RegValue& value : key.Values()) values.push_back(&value);
        std::stable_sort(values.begin(), values.end(), [](const RegValue* a, const RegValue* b) {
            return CompareRegistryNames(a->name, b->name) < 0;
        });
        for (const RegValue* value : values) out += FormatRegValue(*value, options.newline) + options.newline;
        out += options.newline;
    }
    RegWriteOptions below = options;
    below.skipEmptyTop = false;
    for (const RegKey& subkey : key.Subkeys()) AppendRegKey(out, topPath + u"\\" + subkey.name, subkey, below);
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
