// Which programs run right now, so that a cache whose owner is open is not taken from under it. Read
// from /proc on every call; any thread.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace Platform {

// The names of every running process the user can see: its command name (/proc/PID/comm) and the last
// component of its executable (/proc/PID/exe), both as the kernel gives them.
[[nodiscard]] std::set<std::string, std::less<>> runningProgramNames();

struct RunningProcess {
    int pid = 0;
    std::string comm;                   // the kernel's command name, at most 15 bytes
    std::optional<std::string> exe;     // the executable's path; nothing when /proc does not show it
    std::vector<std::string> arguments; // the first words of the command line (an interpreter's script)
};

// Every process of /proc, its executable as the kernel gives it (" (deleted)" removed).
[[nodiscard]] std::vector<RunningProcess> runningProcesses();

// This process's own id, as runningProcesses() gives it.
[[nodiscard]] int ownProcessId();

} // namespace Platform
