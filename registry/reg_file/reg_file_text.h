// What the .reg reader, writer and decoder share (registry/reg_file_*.cpp):
// the 5.00 header, the UTF-16LE byte order mark, and how a key path is measured
// and shown in a message. Not for use outside the .reg file code.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "registry/memory/reg_tree.h"
#include "text/code_page.h"

namespace qz::reg_file_text {

inline constexpr std::u16string_view kHeader5 = u"Windows Registry Editor Version 5.00";
inline constexpr std::string_view kUtf16LeBom = "\xFF\xFE";

inline std::string Narrow(std::u16string_view text) { return Utf16ToUtf8(text); }

// A text for a message: the whole of a short one, the start of a long one.
inline std::string Shortened(std::u16string_view text, std::size_t shown = 200) {
    if (text.size() <= shown) return Narrow(text);
    return Narrow(text.substr(0, shown)) + "...";
}

// Levels below the hive's root key; HKEY_CLASSES_ROOT lies two levels down.
inline std::size_t KeyDepth(const FullKeyPath& path) {
    return path.components.size() + (path.root == RegRoot::ClassesRoot ? 2 : 0);
}

}  // namespace qz::reg_file_text
