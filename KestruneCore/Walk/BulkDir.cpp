// Linux: getdents64 into one reused 256 KiB buffer per thread, then statx relative to the directory
// descriptor with the smallest mask that serves, submitted in batches through an io_uring. This file is the
// platform layer of directory listing.
#include "KestruneCore/Walk/BulkDir.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <liburing.h>
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

constexpr unsigned batchSize = 256;

// Per call: the getdents buffer and the statx results of one batch of its entries.
struct Scratch {
    char dents[bufferSize];
    struct statx results[batchSize];
    int status[batchSize];
    const char* names[batchSize];
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

// The calling thread's submission ring: a batch of statx calls costs one system call instead of one
// each, which is most of a listing's time where entering the kernel is dear. Where the kernel refuses
// rings (disabled, or filtered in a container) every statx is made directly.
class StatRing {
public:
    StatRing() { ready = io_uring_queue_init(batchSize, &ring, 0) == 0; }
    ~StatRing() {
        if (ready) {
            io_uring_queue_exit(&ring);
        }
    }
    StatRing(const StatRing&) = delete;
    StatRing& operator=(const StatRing&) = delete;

    // statx of names[0 ... count-1] relative to fd; false when the ring could not run them all. Every
    // request that reached the kernel is reaped before this returns, so that no late completion ever
    // writes into a batch the caller has moved on from (or redoes directly). liburing reports errors
    // as negative return values, not through errno.
    bool run(int fd, unsigned mask, Scratch& scratch, unsigned count) {
        if (!ready) {
            return false;
        }
        unsigned prepared = 0;
        for (; prepared < count; ++prepared) {
            io_uring_sqe* sqe = io_uring_get_sqe(&ring);
            if (sqe == nullptr) {
                break;
            }
            io_uring_prep_statx(sqe, fd, scratch.names[prepared], statFlags, mask,
                                &scratch.results[prepared]);
            io_uring_sqe_set_data64(sqe, prepared);
        }
        unsigned submitted = 0;
        unsigned completed = 0;
        bool failed = prepared < count;
        while (submitted < prepared || completed < submitted) {
            io_uring_cqe* waited = nullptr;
            const int r = submitted < prepared ? io_uring_submit_and_wait(&ring, 1)
                                               : io_uring_wait_cqe_nr(&ring, &waited, 1);
            if (r < 0 && r != -EINTR && r != -EAGAIN && r != -EBUSY) {
                failed = true;
                if (submitted == 0) {
                    // Nothing reached the kernel: drop what was prepared and stop using the ring.
                    io_uring_queue_exit(&ring);
                    ready = false;
                    return false;
                }
                prepared = submitted; // wait for what is in flight, submit no more
                continue;
            }
            if (submitted < prepared && r > 0) {
                submitted += static_cast<unsigned>(r);
            }
            io_uring_cqe* cqe = nullptr;
            unsigned head = 0;
            unsigned seen = 0;
            io_uring_for_each_cqe(&ring, head, cqe) {
                const auto index = static_cast<unsigned>(io_uring_cqe_get_data64(cqe));
                if (index < count) {
                    scratch.status[index] = cqe->res;
                }
                ++seen;
            }
            io_uring_cq_advance(&ring, seen);
            completed += seen;
        }
        if (failed) {
            ready = false; // never again on this thread; the batch is redone directly
            io_uring_queue_exit(&ring);
        }
        return !failed;
    }

    static constexpr int statFlags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | AT_STATX_DONT_SYNC;

private:
    io_uring ring{};
    bool ready = false;
};

StatRing& statRing() {
    static thread_local StatRing ring;
    return ring;
}

} // namespace

std::size_t forEachAt(int fd, Options options, const std::function<void(const BulkEntry&)>& visit) {
    if (fd < 0) {
        return 0;
    }
    std::size_t failures = 0;
    const bool withDates = (static_cast<unsigned>(options) & static_cast<unsigned>(Options::dates)) != 0;
    const unsigned mask =
        STATX_TYPE | STATX_BLOCKS | STATX_NLINK | STATX_INO | (withDates ? (STATX_MTIME | STATX_ATIME) : 0U);
    const ReadBuffer buffer;
    Scratch& scratch = *buffer.data;
    BulkEntry entry;
    const auto emit = [&](unsigned count) {
        if (!statRing().run(fd, mask, scratch, count)) {
            for (unsigned i = 0; i < count; ++i) {
                scratch.status[i] =
                    statx(fd, scratch.names[i], StatRing::statFlags, mask, &scratch.results[i]) == 0 ? 0
                                                                                                     : -errno;
            }
        }
        for (unsigned i = 0; i < count; ++i) {
            if (scratch.status[i] != 0) {
                // Vanished between listing and statx: it no longer exists, so it is not listed. Any
                // other failure hides an entry that is there, and the walk says so.
                failures += scratch.status[i] != -ENOENT ? 1 : 0;
                continue;
            }
            const struct statx& sx = scratch.results[i];
            entry.name.assign(scratch.names[i]);
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
            visit(entry);
        }
    };
    while (true) {
        const long n = syscall(SYS_getdents64, fd, scratch.dents, bufferSize);
        if (n <= 0) {
            failures += n < 0 && errno != ENOENT ? 1 : 0; // a folder removed while listed has no more
            break;
        }
        unsigned count = 0;
        for (long offset = 0; offset < n;) {
            const auto* d = reinterpret_cast<const LinuxDirent64*>(scratch.dents + offset);
            offset += d->d_reclen;
            const char* name = d->d_name;
            if (name[0] == '\0' ||
                (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))) {
                continue;
            }
            scratch.names[count++] = name;
            if (count == batchSize) {
                emit(count);
                count = 0;
            }
        }
        if (count > 0) {
            emit(count);
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
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        error = errno == ENOENT ? 0 : errno;
        return {};
    }
    auto entries = readAt(fd, options);
    close(fd);
    return entries;
}

} // namespace BulkDir
