// The absolute system folders the scanners and the application inventory read (/Applications,
// /System/Applications, /Library/...), all mapped through one function so that a test can move them.
// Read from the environment on every call; any thread.
#pragma once

#include <string>
#include <string_view>

namespace Platform {

// `absolute` below $KESTRUNE_SYSTEM_ROOT when that variable holds an absolute path, else `absolute` as
// written. Only computed; nothing is created.
[[nodiscard]] std::string systemFolder(std::string_view absolute);

} // namespace Platform
