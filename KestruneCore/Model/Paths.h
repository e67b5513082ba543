// Path text helpers: paths are byte strings, never assumed to be UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace Paths {

// parent + "/" + name, or "/" + name when parent is exactly "/".
[[nodiscard]] std::string child(std::string_view parent, std::string_view name);

// Lexically normal form: "." and ".." resolved, repeated slashes folded, no trailing slash ("/" stays "/").
[[nodiscard]] std::string standardized(std::string_view path);

// The last component ("" for "/" or ""), ignoring a trailing slash.
[[nodiscard]] std::string_view lastComponent(std::string_view path);

// The path without its last component: "/a/b" -> "/a", "/a" -> "/", "a" -> "".
[[nodiscard]] std::string_view parent(std::string_view path);

// Every occurrence of `from` replaced by `to` (plain substring replacement).
[[nodiscard]] std::string replacingAll(std::string_view text, std::string_view from, std::string_view to);

// True when `path` equals `folder` or lies inside it ("/a/bc" is not inside "/a/b").
[[nodiscard]] bool isInside(std::string_view path, std::string_view folder);

} // namespace Paths
