// One-pass listing of a directory with the attributes every walker needs. Stateless; any thread.
#pragma once

#include "KestruneCore/Model/Dates.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct BulkEntry {
    std::string name;
    bool isDirectory = false;
    bool isSymlink = false;
    std::int64_t allocSize = 0; // allocated bytes of a file's data; 0 for directories, links and the like
    std::uint64_t fsid = 0;     // device major in the high half, minor in the low half
    std::uint64_t inode = 0;
    std::uint32_t links = 1; // hard links of the file (LinkSet counts a file of several links once)
    std::optional<Date> modified;
    std::optional<Date> accessed;
};

namespace BulkDir {

enum class Options : unsigned { none = 0, dates = 1 };

// The entries of the directory at `path` in the file system's order, without "." and "..".
// Never fails: a missing, unreadable or non-directory path has no entries.
[[nodiscard]] std::vector<BulkEntry> read(const std::string& path, Options options = Options::none);

// The same, with the reason (an errno value) when a folder that is there could not be opened; 0 when it
// was read or does not exist.
[[nodiscard]] std::vector<BulkEntry> read(const std::string& path, Options options, int& error);

// The same for an already opened directory descriptor (which the call does not close).
[[nodiscard]] std::vector<BulkEntry> readAt(int directoryFd, Options options = Options::none);

// The same, one entry at a time, for walkers that list very many folders: the entry handed to `visit`
// is reused (valid only during the call) and the read buffer belongs to the calling thread, so a
// listing allocates nothing per entry. `visit` may itself list other folders. Returns how many entries
// could not be read (or 1 for a listing that failed part-way): entries that vanished are not counted.
std::size_t forEachAt(int directoryFd, Options options, const std::function<void(const BulkEntry&)>& visit);

} // namespace BulkDir
