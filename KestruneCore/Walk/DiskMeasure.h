// Sizes on disk and free space. Any thread. size(of:) of a folder holds one of six process-wide
// measurement slots while it walks.
#pragma once

#include "KestruneCore/Model/Dates.h"
#include "KestruneCore/Model/DiskMath.h"

#include <cstdint>
#include <string>

namespace DiskMath {

inline constexpr int maxConcurrentMeasurements = 6;
// Allocated bytes of a file, or of a folder's whole tree on the folder's own file system (mounts inside
// it are left out, since reclaiming the folder would not free them), each file once however many hard
// links it has; 0 for a symbolic link or anything unreadable.
[[nodiscard]] std::int64_t size(const std::string& path);

struct Measurement {
    std::int64_t bytes = 0;
    std::int64_t unreadable = 0;      // entries and folders that are there but could not be read
    std::int64_t freedByRemoving = 0; // of `bytes`, what deleting the path would free: a file with a
                                      // hard link outside it stays on disk
};
// The same with a count of what could not be read (entries that vanished meanwhile are not counted).
[[nodiscard]] Measurement measured(const std::string& path);

// Content modification date, never following a link; the distant past when it cannot be read.
[[nodiscard]] Date modified(const std::string& path);

// Folder measurements holding a slot right now.
[[nodiscard]] int measurementsInFlight();

[[nodiscard]] std::int64_t freeSpace();
[[nodiscard]] std::int64_t totalSpace();

} // namespace DiskMath
