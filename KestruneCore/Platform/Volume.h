// Capacity of the volume that holds the home folder.
#pragma once

#include <cstdint>

namespace Platform {

// statvfs of the home folder: f_bavail x f_frsize; 0 when it cannot be read.
[[nodiscard]] std::int64_t availableBytes();
// statvfs of the home folder: f_blocks x f_frsize; 0 when it cannot be read.
[[nodiscard]] std::int64_t totalBytes();

} // namespace Platform
