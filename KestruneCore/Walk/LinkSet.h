// Files with several hard links are counted once per walk, as du and ncdu count them: the first link a
// walk meets carries the bytes, every other one counts nothing. Shared by the threads of one walk.
#pragma once

#include "KestruneCore/Platform/BulkDir.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <utility>

class LinkSet {
public:
    // The entry's allocated bytes, or 0 when another link of its file was already counted.
    [[nodiscard]] std::int64_t bytesOf(const BulkEntry& entry) {
        if (entry.links <= 1 || entry.isDirectory || entry.allocSize == 0) {
            return entry.allocSize;
        }
        const std::lock_guard lock(mutex);
        const auto [at, first] =
            seen.try_emplace({entry.fsid, entry.inode}, File{entry.links, 0, entry.allocSize});
        ++at->second.met;
        return first ? entry.allocSize : 0;
    }

    // Bytes of the files counted so far that have links the walk did not meet: removing what was walked
    // would leave them on disk. Call once the walk is over.
    [[nodiscard]] std::int64_t bytesLinkedElsewhere() {
        const std::lock_guard lock(mutex);
        std::int64_t bytes = 0;
        for (const auto& [key, file] : seen) {
            if (file.met < file.links) {
                bytes += file.bytes;
            }
        }
        return bytes;
    }

private:
    struct File {
        std::uint32_t links = 0; // as the file system reports them
        std::uint32_t met = 0;   // by this walk
        std::int64_t bytes = 0;
    };
    std::mutex mutex;
    std::map<std::pair<std::uint64_t, std::uint64_t>, File> seen; // (file system, inode)
};
