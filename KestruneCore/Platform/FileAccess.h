// Existence and permission tests of paths, as the current user sees them. Any thread.
#pragma once

#include <string>

namespace Platform {

// True for anything at `path`, following symbolic links (a dangling link does not exist).
[[nodiscard]] bool exists(const std::string& path);

// Whether the current user may write `path` (following links), by the effective user and groups.
[[nodiscard]] bool isWritable(const std::string& path);

} // namespace Platform
