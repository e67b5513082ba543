// Files with several hard links are counted once per walk, as du and ncdu count them: the first link a
// walk meets carries the bytes, every other one counts nothing. Shared by the threads of one walk.
#pragma once

#include "KestruneCore/Walk/BulkDir.h"

#include <cstdint>
#include <mutex>
#include <set>
#include <utility>

class LinkSet {
public:
    // The entry's allocated bytes, or 0 when another link of its file was already counted.
    [[nodiscard]] std::int64_t bytesOf(const BulkEntry& entry) {
        if (entry.links <= 1 || entry.isDirectory || entry.allocSize == 0) {
            return entry.allocSize;
        }
        const std::lock_guard lock(mutex);
        return seen.emplace(entry.fsid, entry.inode).second ? entry.allocSize : 0;
    }

private:
    std::mutex mutex;
    std::set<std::pair<std::uint64_t, std::uint64_t>> seen; // (file system, inode)
};
