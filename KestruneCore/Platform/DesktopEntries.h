// What the user's desktop entries start, so that a program kept in Downloads and launched from the menu
// is known as installed. Read on every call; any thread.
#pragma once

#include <set>
#include <string>
#include <vector>

namespace Platform {

// The absolute paths named by the Exec lines of the desktop entries in $XDG_DATA_HOME/applications
// (where AppImage integrators put theirs), each standardized.
[[nodiscard]] std::set<std::string> launchedAppImages();

// The words of an Exec value as the desktop runs them: the value's own escapes (\s, \\ ...) undone, then
// split at blanks outside double quotes, with backslash escapes inside them.
[[nodiscard]] std::vector<std::string> execWords(const std::string& exec);

// The absolute paths an Exec value names: its words after unquoting, skipping "env" and VAR=value.
[[nodiscard]] std::set<std::string> execPaths(const std::string& exec);

} // namespace Platform
