// Reading .reg text: lines, then entries, a state machine that hands each entry
// to a visitor as soon as it is complete (see reg_file.h).
#include <algorithm>
#include <optional>

#include "registry/reg_file/reg_file.h"
#include "registry/reg_file/reg_file_text.h"
#include "registry/api/registry_api.h"
#include "text/ascii.h"
#include "text/code_page.h"
#include "text/utf16_data.h"

namespace qz {
namespace {

using reg_file_text::KeyDepth;
using reg_file_text::kHeader5;
using reg_file_text::Narrow;
using reg_file_text::Shortened;

constexpr std::u16string_view kHeader4 = u"REGEDIT4";

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

bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
    return text.size() >= prefix.size() && RegistryNamesEqual(text.substr(0, prefix.size()), prefix);
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
            while (!rest_.empty() && HexDigitValue(rest_.front()) >= 0 && digits < 8) {
                type = type * 16 + static_cast<DWORD>(HexDigitValue(rest_.front()));
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
        while (!rest_.empty() && HexDigitValue(rest_.front()) >= 0) {
            if (++digits > 8) return Fail("dword: takes at most 8 hexadecimal digits");
            number = number * 16 + static_cast<DWORD>(HexDigitValue(rest_.front()));
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
            const int high = HexDigitValue(rest_.front());
            if (high < 0) return Fail("bad hex byte \"" + Narrow(Trim(rest_)) + "\"");
            rest_.remove_prefix(1);
            int byte = high;
            if (!rest_.empty() && HexDigitValue(rest_.front()) >= 0) {
                byte = byte * 16 + HexDigitValue(rest_.front());
                rest_.remove_prefix(1);
            }
            if (!rest_.empty() && HexDigitValue(rest_.front()) >= 0) return Fail("a hex byte has at most two digits");
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

}  // namespace

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

}  // namespace qz
