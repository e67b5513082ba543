// Which programs run right now, so that a cache whose owner is open is not taken from under it. Read
// from /proc on every call; any thread.
#pragma once

#include <set>
#include <string>

namespace Platform {

// The names of every running process the user can see: its command name (/proc/PID/comm) and the last
// component of its executable (/proc/PID/exe), both as the kernel gives them.
[[nodiscard]] std::set<std::string, std::less<>> runningProgramNames();

} // namespace Platform
