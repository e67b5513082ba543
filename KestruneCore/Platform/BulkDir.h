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

// An open folder for forEachAt and openAt, closed with the handle. `fd()` is negative when it could not
// be opened, and `error()` then says why (an errno value; ENOENT when nothing is there).
class Folder {
public:
    Folder() = default;
    explicit Folder(int fd, int error) : descriptor(fd), reason(error) {}
    Folder(Folder&& other) noexcept;
    Folder& operator=(Folder&& other) noexcept;
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    ~Folder();
    [[nodiscard]] int fd() const { return descriptor; }
    [[nodiscard]] int error() const { return reason; }
    [[nodiscard]] explicit operator bool() const { return descriptor >= 0; }

private:
    int descriptor = -1;
    int reason = 0;
};

enum class Links { notFollowed, followed };

// The folder at `path`; a link to a folder is opened only when `links` is `followed`.
[[nodiscard]] Folder open(const std::string& path, Links links);
// The working folder as a parent descriptor: openAt(currentFolder, path) opens a whole path.
inline constexpr int currentFolder = -100; // AT_FDCWD

// The sub-folder `name` of the open folder `parentFd`, never through a link.
[[nodiscard]] Folder openAt(int parentFd, const char* name);
// The entry at `path` itself (a link is not followed, an automount point not triggered), as forEachAt
// would hand it, its name left empty; nothing with `error` set (ENOENT when nothing is there).
[[nodiscard]] std::optional<BulkEntry> entryOf(const std::string& path, Options options, int& error);
// The same for an open folder.
[[nodiscard]] std::optional<BulkEntry> entryOf(const Folder& folder, Options options);

} // namespace BulkDir
