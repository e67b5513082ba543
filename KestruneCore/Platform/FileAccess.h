// Existence and permission tests of paths, as the current user sees them. Any thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace Platform {

enum class Links { notFollowed, followed };

// True for anything at `path`. Following symbolic links a dangling link does not exist; not following
// them any link does.
[[nodiscard]] bool exists(const std::string& path, Links links = Links::followed);

enum class FileKind { none, file, folder, link, other };

// What is at `path`: the link itself unless `followed`; `none` when nothing (or nothing readable) is there.
[[nodiscard]] FileKind kindOf(const std::string& path, Links links = Links::notFollowed);

// Up to `count` first bytes of the regular file at `path`, never through a link and never waiting on a
// FIFO or device; empty when there is no such file or it cannot be read.
[[nodiscard]] std::string headOf(const std::string& path, std::size_t count);

struct FileTimes {
    std::chrono::system_clock::time_point changed;  // status change (ctime)
    std::chrono::system_clock::time_point accessed; // atime
    bool accessRecorded = false;                    // false on a file system mounted noatime
};
// The times of the file at `path` (following links); nothing when it cannot be read.
[[nodiscard]] std::optional<FileTimes> timesOf(const std::string& path);

enum class Presence { present, missing, unknown };

// Whether something is at `path` (following links unless `links` says not): `missing` only when the
// system says so for certain (no such file, or a component is not a folder); `unknown` when it cannot
// be told (no permission, an I/O error, a link loop).
[[nodiscard]] Presence presenceOf(const std::string& path, Links links = Links::followed);

// What the symbolic link at `path` points to, as written in it; empty when it is no link.
[[nodiscard]] std::string linkTarget(const std::string& path);

// Nothing when something is at `path` (following links), else the system's reason ("No such file or
// directory", "Permission denied", ...).
[[nodiscard]] std::optional<std::string> whyUnreachable(const std::string& path);

// Whether the current user may write `path` (following links), by the effective user and groups.
[[nodiscard]] bool isWritable(const std::string& path);

enum class Stream { input, output, error };

// Whether the process's standard stream is a terminal.
[[nodiscard]] bool isTerminal(Stream stream);

// The file system of the object at `path` (the link itself unless `followed`, as a listing of a linked
// folder follows it): device major in the high half, minor in the low half, as directory listings give
// it. Nothing when it cannot be read.
[[nodiscard]] std::optional<std::uint64_t> fileSystemOf(const std::string& path,
                                                        Links links = Links::notFollowed);

// Whether `path` (below `base`) is reached from `base` through real folders only: no component after
// `base` is a symbolic link, and every one lies on the file system of the folder `base` leads to (base
// itself may be a link the user made). False when anything is missing.
[[nodiscard]] bool reachableWithin(const std::string& base, const std::string& path);

// Whether both paths name the same existing folder (following links): one device, one inode.
[[nodiscard]] bool sameFolder(const std::string& a, const std::string& b);

} // namespace Platform
