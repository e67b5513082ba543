// Linux: getdents64 into one reused 256 KiB buffer per thread, then statx relative to the directory
// descriptor with the smallest mask that serves, one direct call per entry. An io_uring batch of statx
// saves the system calls but not the work: the kernel has no asynchronous statx and hands every request
// to its worker threads, which on the 300,000-file tree cost twice the wall time and several times the
// CPU of direct calls (docs/decisions.md). This file is the platform layer of directory listing.
#include "KestruneCore/Platform/BulkDir.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <utility>

namespace BulkDir {
namespace {

constexpr std::size_t bufferSize = 262144;

struct LinuxDirent64 {
    ino64_t d_ino;
    off64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[];
};

Date toDate(const struct statx_timestamp& t) {
    using namespace std::chrono;
    return Date{duration_cast<Date::duration>(seconds{t.tv_sec} + nanoseconds{t.tv_nsec})};
}

// Per call: the getdents buffer.
struct Scratch {
    char dents[bufferSize];
};

// The calling thread's scratch, or a fresh one while that is taken by a listing further up the stack.
class ReadBuffer {
public:
    ReadBuffer() {
        if (!inUse) {
            inUse = true;
            owned = false;
            if (!shared) {
                shared = std::make_unique<Scratch>();
            }
            data = shared.get();
        } else {
            owned = true;
            data = new Scratch;
        }
    }
    ~ReadBuffer() {
        if (owned) {
            delete data;
        } else {
            inUse = false;
        }
    }
    ReadBuffer(const ReadBuffer&) = delete;
    ReadBuffer& operator=(const ReadBuffer&) = delete;

    Scratch* data = nullptr;

private:
    bool owned = false;
    static thread_local std::unique_ptr<Scratch> shared;
    static thread_local bool inUse;
};

thread_local std::unique_ptr<Scratch> ReadBuffer::shared;
thread_local bool ReadBuffer::inUse = false;

constexpr int statFlags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | AT_STATX_DONT_SYNC;

bool wantsDates(Options options) {
    return (static_cast<unsigned>(options) & static_cast<unsigned>(Options::dates)) != 0;
}

unsigned maskFor(bool withDates) {
    return STATX_TYPE | STATX_BLOCKS | STATX_NLINK | STATX_INO |
           (withDates ? (STATX_MTIME | STATX_ATIME) : 0U);
}

// Everything of `entry` but its name, from one statx answer.
void fill(BulkEntry& entry, const struct statx& sx, bool withDates) {
    const mode_t type = (sx.stx_mask & STATX_TYPE) ? (sx.stx_mode & S_IFMT) : 0;
    entry.isDirectory = type == S_IFDIR;
    entry.isSymlink = type == S_IFLNK;
    entry.allocSize = (!entry.isDirectory && !entry.isSymlink && (sx.stx_mask & STATX_BLOCKS))
                          ? static_cast<std::int64_t>(sx.stx_blocks) * 512
                          : 0;
    entry.fsid = (static_cast<std::uint64_t>(sx.stx_dev_major) << 32) | sx.stx_dev_minor;
    entry.inode = sx.stx_ino;
    entry.links = (sx.stx_mask & STATX_NLINK) ? sx.stx_nlink : 1;
    entry.modified.reset();
    entry.accessed.reset();
    if (withDates) {
        if (sx.stx_mask & STATX_MTIME) {
            entry.modified = toDate(sx.stx_mtime);
        }
        if (sx.stx_mask & STATX_ATIME) {
            entry.accessed = toDate(sx.stx_atime);
        }
    }
}

} // namespace

std::size_t forEachAt(int fd, Options options, const std::function<void(const BulkEntry&)>& visit) {
    if (fd < 0) {
        return 0;
    }
    std::size_t failures = 0;
    const bool withDates = wantsDates(options);
    const unsigned mask = maskFor(withDates);
    const ReadBuffer buffer;
    Scratch& scratch = *buffer.data;
    BulkEntry entry;
    struct statx sx {};
    while (true) {
        const long n = syscall(SYS_getdents64, fd, scratch.dents, bufferSize);
        if (n <= 0) {
            failures += n < 0 && errno != ENOENT ? 1 : 0; // a folder removed while listed has no more
            break;
        }
        for (long offset = 0; offset < n;) {
            const auto* d = reinterpret_cast<const LinuxDirent64*>(scratch.dents + offset);
            offset += d->d_reclen;
            const char* name = d->d_name;
            if (name[0] == '\0' ||
                (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))) {
                continue;
            }
            if (statx(fd, name, statFlags, mask, &sx) != 0) {
                // Vanished between listing and statx: it no longer exists, so it is not listed. Any
                // other failure hides an entry that is there, and the walk says so.
                failures += errno != ENOENT ? 1 : 0;
                continue;
            }
            entry.name.assign(name);
            fill(entry, sx, withDates);
            visit(entry);
        }
    }
    return failures;
}

std::vector<BulkEntry> readAt(int fd, Options options) {
    std::vector<BulkEntry> entries;
    forEachAt(fd, options, [&entries](const BulkEntry& entry) { entries.push_back(entry); });
    return entries;
}

std::vector<BulkEntry> read(const std::string& path, Options options) {
    int error = 0;
    return read(path, options, error);
}

std::vector<BulkEntry> read(const std::string& path, Options options, int& error) {
    error = 0;
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        error = errno == ENOENT ? 0 : errno;
        return {};
    }
    auto entries = readAt(fd, options);
    close(fd);
    return entries;
}

Folder::Folder(Folder&& other) noexcept
    : descriptor(std::exchange(other.descriptor, -1)), reason(other.reason) {}

Folder& Folder::operator=(Folder&& other) noexcept {
    if (this != &other) {
        if (descriptor >= 0) {
            close(descriptor);
        }
        descriptor = std::exchange(other.descriptor, -1);
        reason = other.reason;
    }
    return *this;
}

Folder::~Folder() {
    if (descriptor >= 0) {
        close(descriptor);
    }
}

Folder open(const std::string& path, Links links) {
    const int fd = ::open(path.c_str(),
                          O_RDONLY | O_DIRECTORY | O_CLOEXEC | (links == Links::followed ? 0 : O_NOFOLLOW));
    return Folder(fd, fd < 0 ? errno : 0);
}

Folder openAt(int parentFd, const char* name) {
    const int fd = ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return Folder(fd, fd < 0 ? errno : 0);
}

std::optional<BulkEntry> entryOf(const std::string& path, Options options, int& error) {
    struct statx sx {};
    const bool withDates = wantsDates(options);
    if (statx(AT_FDCWD, path.c_str(), statFlags, maskFor(withDates), &sx) != 0) {
        error = errno;
        return std::nullopt;
    }
    error = 0;
    BulkEntry entry;
    fill(entry, sx, withDates);
    return entry;
}

std::optional<BulkEntry> entryOf(const Folder& folder, Options options) {
    struct statx sx {};
    const bool withDates = wantsDates(options);
    if (!folder || statx(folder.fd(), "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, maskFor(withDates), &sx) != 0) {
        return std::nullopt;
    }
    BulkEntry entry;
    fill(entry, sx, withDates);
    return entry;
}

static_assert(currentFolder == AT_FDCWD);

} // namespace BulkDir
