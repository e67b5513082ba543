// Folding of names for comparisons that ignore letter case and diacritics. Any thread.
#pragma once

#include <string>
#include <string_view>

namespace TextFolding {

// Case-folded, diacritics removed, composed again (UTF-8), independent of any locale: "Éditeur Pro" and
// "editeur pro" fold alike. Bytes that are not UTF-8 are only folded in their ASCII letters, so that two
// different undecodable names never fold to the same text.
[[nodiscard]] std::string folded(std::string_view text);

} // namespace TextFolding
