#include "registry/reg_file.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <optional>

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

// A text for a message: the whole of a short one, the start of a long one.
std::string Shortened(std::u16string_view text) {
    constexpr std::size_t kShown = 200;
    if (text.size() <= kShown) return Narrow(text);
    return Narrow(text.substr(0, kShown)) + "...";
}

// Levels below the hive's root key; HKEY_CLASSES_ROOT lies two levels down.
std::size_t KeyDepth(const FullKeyPath& path) {
    return path.components.size() + (path.root == RegRoot::ClassesRoot ? 2 : 0);
}

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
        RegFileEntry entry;
        entry.kind = remove ? RegFileEntry::Kind::DeleteKey : RegFileEntry::Kind::Key;
        entry.key = std::make_shared<const std::u16string>(path);
        entry.line = lineNumber();
        // Values may follow a key, not the removal of one.
        currentKey_ = remove ? nullptr : entry.key;
        entries_.push_back(std::move(entry));
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
    std::shared_ptr<const std::u16string> currentKey_;  // the section values go to; null: none
    RegFileEntry pending_;
    std::vector<RegFileEntry> entries_;
};

// ---- writing --------------------------------------------------------------------

// The escapes ReadQuoted undoes, as reg export writes them; a raw line break
// would end the line in the middle of the name or string.
std::u16string Escaped(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (char16_t c : text) {
        switch (c) {
            case u'\\': out += u"\\\\"; break;
            case u'"': out += u"\\\""; break;
            case u'\n': out += u"\\n"; break;
            case u'\r': out += u"\\r"; break;
            default: out.push_back(c);
        }
    }
    return out;
}

// REG_SZ data that a quoted string gives back byte for byte: whole UTF-16
// code units, one terminating NUL at the end and none before it.
bool QuotableString(const std::vector<BYTE>& data, std::u16string& text) {
    if (data.size() < 2 || data.size() % 2 != 0) return false;
    const std::size_t units = data.size() / 2;
    text.clear();
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t c = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
        if (i + 1 == units) return c == 0;
        if (c == 0) return false;
        text.push_back(c);
    }
    return false;
}

void AppendSection(std::u16string& out, const std::u16string& path, const RegKey& key,
                   const RegWriteOptions& options) {
    out += u"[";
    out += path;
    out += u"]";
    out += options.newline;
    // Values in order of name, the default value (the empty name) first.
    std::vector<const RegValue*> values;
    values.reserve(key.ValueCount());
    for (const RegValue& value : key.Values()) values.push_back(&value);
    std::stable_sort(values.begin(), values.end(), [](const RegValue* a, const RegValue* b) {
        return CompareRegistryNames(a->name, b->name) < 0;
    });
    for (const RegValue* value : values) {
        out += FormatRegValue(*value, options.newline);
        out += options.newline;
    }
    out += options.newline;
}

// Writes key and everything below it, depth first, with a stack of its own
// rather than recursion, so that no depth of tree can exhaust the call stack.
// With topDepth set, stops at the first key that would not read back (see
// AppendReadableRegKey) and says why in error.
bool WriteTree(std::u16string& out, const std::u16string& topPath, const RegKey& top,
               const RegWriteOptions& options, std::optional<std::size_t> topDepth, std::string& error) {
    // Everything below a volatile key is volatile too.
    if (options.skipVolatile && top.isVolatile) return true;
    if (!(options.skipEmptyTop && !top.HasValues())) AppendSection(out, topPath, top, options);

    using Iterator = decltype(top.Subkeys().begin());
    struct Frame {
        const RegKey* key;
        Iterator next;
        Iterator end;
        std::size_t pathLength;  // of the key's own path in `path`
        std::size_t depth;
    };
    std::u16string path = topPath;
    std::vector<Frame> stack;
    stack.push_back(Frame{&top, top.Subkeys().begin(), top.Subkeys().end(), path.size(), topDepth.value_or(0)});
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.end) {
            stack.pop_back();
            continue;
        }
        const RegKey& child = *frame.next++;
        if (options.skipVolatile && child.isVolatile) continue;
        path.resize(frame.pathLength);
        path += u'\\';
        path += child.name;
        const std::size_t depth = frame.depth + 1;
        if (topDepth) {
            if (child.name.find(u'\n') != std::u16string::npos) {
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
        AppendSection(out, path, child, options);
        const std::size_t pathLength = path.size();
        stack.push_back(Frame{&child, child.Subkeys().begin(), child.Subkeys().end(), pathLength, depth});  // frame is stale from here
    }
    return true;
}

constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool StartsWithBytes(std::string_view bytes, std::string_view prefix) {
    return bytes.size() >= prefix.size() && bytes.compare(0, prefix.size(), prefix) == 0;
}

// UTF-16LE code units as they are; a last odd byte is left out.
std::u16string Utf16LeText(std::string_view bytes) {
    std::u16string text;
    text.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                             (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
    return text;
}

std::u16string Ascii(const char* text) { return std::u16string(text, text + std::char_traits<char>::length(text)); }

}  // namespace

bool DecodeRegFileBytes(std::string_view bytes, RegFileRule rule, std::u16string& text, std::string& error) {
    text.clear();
    if (rule == RegFileRule::Import) {
        if (StartsWithBytes(bytes, kUtf16LeBom)) {
            text = Utf16LeText(bytes.substr(2));
        } else if (StartsWithBytes(bytes, kUtf8Bom)) {
            text = Utf8ToUtf16(bytes.substr(3));
        } else {
            text = NarrowToWide(bytes);
        }
        return true;
    }

    const std::string form = "; the registry folder's files are UTF-16LE with a byte order mark, "
                             "starting \"Windows Registry Editor Version 5.00\"";
    if (!StartsWithBytes(bytes, kUtf16LeBom)) {
        std::string what = "it has no UTF-16LE byte order mark (saved as UTF-8 or ANSI text?)";
        if (bytes.empty()) {
            what = "the file is empty";
        } else if (StartsWithBytes(bytes, kUtf8Bom)) {
            what = "it is UTF-8 text";
        } else if (StartsWithBytes(bytes, "\xFE\xFF")) {
            what = "it is UTF-16 big-endian text";
        } else if (StartsWithBytes(bytes, "REGEDIT4")) {
            what = "it is a REGEDIT4 file";
        }
        error = "line 1: not a hive file: " + what + form;
        return false;
    }
    std::u16string decoded = Utf16LeText(bytes.substr(2));
    if (bytes.size() % 2 != 0) {
        const std::size_t lines = static_cast<std::size_t>(std::count(decoded.begin(), decoded.end(), u'\n')) + 1;
        error = "line " + std::to_string(lines) + ": the file ends in the middle of a UTF-16 character";
        return false;
    }
    std::u16string_view firstLine(decoded);
    firstLine = firstLine.substr(0, firstLine.find(u'\n'));
    if (!firstLine.empty() && firstLine.back() == u'\r') firstLine.remove_suffix(1);
    if (firstLine != kHeader5) {
        error = "line 1: not a hive file: the first line is not \"Windows Registry Editor Version 5.00\"" + form;
        return false;
    }
    text = std::move(decoded);
    return true;
}

std::u16string DecodeRegFileBytes(std::string_view bytes) {
    std::u16string text;
    std::string unused;
    DecodeRegFileBytes(bytes, RegFileRule::Import, text, unused);
    return text;
}

bool ParseRegText(std::u16string_view text, std::vector<RegFileEntry>& entries, std::string& error) {
    RegTextParser parser(text);
    return parser.Run(entries, error);
}

void ApplyRegEntries(const std::vector<RegFileEntry>& entries, MemoryRegistry& registry) {
    // The key the last values went to, found once per section: walking a long
    // path again for each of many values would cost their number times its length.
    const std::u16string* sectionPath = nullptr;
    RegKey* sectionKey = nullptr;
    for (const RegFileEntry& entry : entries) {
        const std::u16string& path = entry.keyPath();
        switch (entry.kind) {
            case RegFileEntry::Kind::Key:
            case RegFileEntry::Kind::DeleteKey:
                if (entry.kind == RegFileEntry::Kind::Key) {
                    registry.EnsureKey(path);
                } else {
                    registry.RemoveTree(path);
                }
                sectionPath = nullptr;  // the tree changed: keys may have moved
                break;
            case RegFileEntry::Kind::Value:
            case RegFileEntry::Kind::DeleteValue:
                if (sectionPath != entry.key.get()) {
                    registry.EnsureKey(path);
                    sectionKey = const_cast<RegKey*>(registry.FindKey(path));
                    sectionPath = entry.key.get();
                }
                if (sectionKey == nullptr) break;
                if (entry.kind == RegFileEntry::Kind::Value) {
                    sectionKey->SetValue(entry.value);
                } else {
                    sectionKey->RemoveValue(entry.value.name);
                }
                break;
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
    std::string unused;
    WriteTree(out, topPath, key, options, std::nullopt, unused);
}

bool AppendReadableRegKey(std::u16string& out, const std::u16string& topPath, const RegKey& key,
                          const RegWriteOptions& options, std::string& error) {
    const std::optional<FullKeyPath> top = ParseFullKeyPath(topPath);
    if (!top) {
        error = "\"" + Shortened(topPath) + "\" is not a full key path";
        return false;
    }
    const std::size_t start = out.size();
    if (WriteTree(out, topPath, key, options, KeyDepth(*top), error)) return true;
    out.resize(start);
    return false;
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
