// Linux: getdents64 into one reused 256 KiB buffer per thread, then statx relative to the directory
// descriptor with the smallest mask that serves. This file is the platform layer of directory listing.
#include "KestruneCore/Walk/BulkDir.h"

#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

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

// The calling thread's read buffer, or a fresh one while that is taken by a listing further up the stack.
class ReadBuffer {
public:
    ReadBuffer() {
        if (!inUse) {
            inUse = true;
            owned = false;
            if (!shared) {
                shared.reset(new char[bufferSize]);
            }
            data = shared.get();
        } else {
            owned = true;
            data = new char[bufferSize];
        }
    }
    ~ReadBuffer() {
        if (owned) {
            delete[] data;
        } else {
            inUse = false;
        }
    }
    ReadBuffer(const ReadBuffer&) = delete;
    ReadBuffer& operator=(const ReadBuffer&) = delete;

    char* data = nullptr;

private:
    bool owned = false;
    static thread_local std::unique_ptr<char[]> shared;
    static thread_local bool inUse;
};

thread_local std::unique_ptr<char[]> ReadBuffer::shared;
thread_local bool ReadBuffer::inUse = false;

} // namespace

void forEachAt(int fd, Options options, const std::function<void(const BulkEntry&)>& visit) {
    if (fd < 0) {
        return;
    }
    const bool withDates = (static_cast<unsigned>(options) & static_cast<unsigned>(Options::dates)) != 0;
    const unsigned mask = STATX_TYPE | STATX_BLOCKS | (withDates ? (STATX_MTIME | STATX_ATIME) : 0U);
    const ReadBuffer buffer;
    BulkEntry entry;
    while (true) {
        const long n = syscall(SYS_getdents64, fd, buffer.data, bufferSize);
        if (n <= 0) {
            break;
        }
        for (long offset = 0; offset < n;) {
            const auto* d = reinterpret_cast<const LinuxDirent64*>(buffer.data + offset);
            offset += d->d_reclen;
            const char* name = d->d_name;
            if (name[0] == '\0' ||
                (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))) {
                continue;
            }
            struct statx sx {};
            if (statx(fd, name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | AT_STATX_DONT_SYNC, mask, &sx) != 0) {
                // Vanished between listing and statx: it no longer exists, so it is not listed.
                continue;
            }
            entry.name.assign(name);
            const mode_t type = (sx.stx_mask & STATX_TYPE) ? (sx.stx_mode & S_IFMT) : 0;
            entry.isDirectory = type == S_IFDIR;
            entry.isSymlink = type == S_IFLNK;
            entry.allocSize = (!entry.isDirectory && !entry.isSymlink && (sx.stx_mask & STATX_BLOCKS))
                                  ? static_cast<std::int64_t>(sx.stx_blocks) * 512
                                  : 0;
            entry.fsid = (static_cast<std::uint64_t>(sx.stx_dev_major) << 32) | sx.stx_dev_minor;
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
            visit(entry);
        }
    }
}

std::vector<BulkEntry> readAt(int fd, Options options) {
    std::vector<BulkEntry> entries;
    forEachAt(fd, options, [&entries](const BulkEntry& entry) { entries.push_back(entry); });
    return entries;
}

std::vector<BulkEntry> read(const std::string& path, Options options) {
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    auto entries = readAt(fd, options);
    close(fd);
    return entries;
}

} // namespace BulkDir
