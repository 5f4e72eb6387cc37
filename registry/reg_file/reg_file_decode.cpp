// Decoding the bytes of a .reg file into text: the encoding its first bytes
// name (or the rule's refusal), a block at a time (see reg_file.h).
#include "registry/reg_file/reg_file.h"
#include "registry/reg_file/reg_file_text.h"
#include "text/code_page.h"

namespace qz {
namespace {

using reg_file_text::kHeader5;
using reg_file_text::kUtf16LeBom;

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

}  // namespace qz
