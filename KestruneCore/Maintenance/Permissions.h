// Whether the program may read the user's protected folders. Any thread.
// Linux has no per-application privacy scheme: every folder the user can read, the program can read,
// so the check answers true and the window never shows its permission gate there.
#pragma once

#include <string>

namespace Permissions {

[[nodiscard]] bool hasFullDiskAccess();

// The settings page that grants the access, where the platform has one; empty on Linux.
[[nodiscard]] std::string fullDiskAccessSettingsURL();

} // namespace Permissions
