// What identifies one state of a regular file, for caches of what was learnt from its contents. Any
// thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Any change of contents moves the change time.
struct FileKey {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0;
    std::int64_t changedNs = 0;

    bool operator==(const FileKey&) const = default;

    // Of the regular file at `path` (links not followed), or of an open descriptor; nothing otherwise.
    [[nodiscard]] static std::optional<FileKey> of(const std::string& path);
    [[nodiscard]] static std::optional<FileKey> ofDescriptor(int fd);
};

namespace Platform {

// Creates the folders of `path` that are missing, each readable by the user alone; false when the
// last one is not a folder afterwards.
bool makePrivateFolders(const std::string& path);

// Creates an empty file at `path`, readable by the user alone, unless something is there already
// (a link is neither followed nor replaced).
void createPrivateFile(const std::string& path);

// Removes a file the program made for itself (a cache's journal beside a damaged cache), never through
// a link; nothing happens when it is not there. Never for the user's files.
void discardOwnFile(const std::string& path);

} // namespace Platform
