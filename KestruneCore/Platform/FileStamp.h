// What a file or folder looked like when it was scanned, and a byte-for-byte comparison of two files,
// so that a reclaim can refuse to move anything that changed after the user saw it. Any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace Platform {

struct FileStamp {
    enum class Type { file, folder, link, other };

    Type type = Type::other;
    std::int64_t size = 0;     // bytes of content (files only)
    std::int64_t modified = 0; // nanoseconds since the epoch
    std::uint64_t device = 0;
    std::uint64_t inode = 0;

    // Whether `now` is still the entry that was scanned: the same kind of entry on the same inode, and
    // for files and links also the same size and modification time.
    [[nodiscard]] bool unchangedIn(const FileStamp& now) const;
    [[nodiscard]] bool operator==(const FileStamp&) const = default;
};

// The entry itself (a link as the link); nothing when it cannot be read.
[[nodiscard]] std::optional<FileStamp> stampOf(const std::string& path);

enum class Contents { same, different, unreadable };
// Reads both regular files to the end (or the first difference), never following a link.
[[nodiscard]] Contents compareContents(const std::string& a, const std::string& b);

} // namespace Platform
