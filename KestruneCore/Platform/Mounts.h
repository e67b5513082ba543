// The mount points the process sees, read from /proc/self/mountinfo on every call; any thread.
#pragma once

#include <string>
#include <vector>

namespace Platform {

enum class MountKinds { all, real };

// Mount points in the kernel's order, each once. `real` leaves out kernel and virtual file systems
// (proc, sysfs, cgroups, autofs, ...) and anything under /proc, /sys and /dev.
[[nodiscard]] std::vector<std::string> mountPoints(MountKinds kinds = MountKinds::all);

// The first mount point strictly inside `folder`, or "" when there is none. A folder holding one would
// carry a mounted file system along when renamed.
[[nodiscard]] std::string mountPointInside(const std::string& folder, const std::vector<std::string>& mounts);

} // namespace Platform
