// Folder measurement walks the tree with the bulk reader; subfolders are measured in parallel
// inside an isolated arena so a waiting measurement never picks up an outer task that needs a slot.
#include "KestruneCore/Model/DiskMath.h"

#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/Volume.h"
#include "KestruneCore/Walk/BulkDir.h"
#include "KestruneCore/Walk/LinkSet.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <semaphore>
#include <sys/stat.h>
#include <tbb/parallel_for_each.h>
#include <tbb/task_arena.h>

namespace DiskMath {
namespace {

std::counting_semaphore<maxConcurrentMeasurements>& measureGate() {
    static std::counting_semaphore<maxConcurrentMeasurements> gate(maxConcurrentMeasurements);
    return gate;
}

std::atomic<int> inFlight{0};

std::string withThousands(std::uint64_t value) {
    std::string digits = std::to_string(value);
    std::string out;
    const std::size_t lead = digits.size() % 3;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (i + 3 - lead) % 3 == 0) {
            out += ',';
        }
        out += digits[i];
    }
    return out;
}

// value / 10^decimals with trailing zeros of the fraction dropped.
std::string fixed(std::uint64_t scaled, int decimals) {
    std::uint64_t divisor = 1;
    for (int i = 0; i < decimals; ++i) {
        divisor *= 10;
    }
    std::string out = withThousands(scaled / divisor);
    std::uint64_t fraction = scaled % divisor;
    int places = decimals;
    while (places > 0 && fraction % 10 == 0) {
        fraction /= 10;
        --places;
    }
    if (places > 0) {
        std::string digits = std::to_string(fraction);
        out += '.';
        out += std::string(static_cast<std::size_t>(places) - digits.size(), '0') + digits;
    }
    return out;
}

// Allocated bytes below the folder `name` of `parentFd` on the file system `fsid`, each file once
// however many links it has. Folders are opened from their parent's descriptor, so depth is no limit.
std::int64_t measure(int parentFd, const char* name, std::uint64_t fsid, LinkSet& links,
                     std::atomic<std::int64_t>& unreadable) {
    const int fd = openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT) {
            unreadable.fetch_add(1, std::memory_order_relaxed); // there, but its bytes cannot be counted
        }
        return 0;
    }
    std::int64_t files = 0;
    std::vector<std::string> folders;
    const std::size_t failed = BulkDir::forEachAt(fd, BulkDir::Options::none, [&](const BulkEntry& entry) {
        if (entry.isSymlink || entry.fsid != fsid) {
            return; // a link, or a mount point: another file system's bytes are not this folder's
        }
        if (entry.isDirectory) {
            folders.push_back(entry.name);
        } else {
            files += links.bytesOf(entry);
        }
    });
    unreadable.fetch_add(static_cast<std::int64_t>(failed), std::memory_order_relaxed);
    std::int64_t sub = 0;
    if (folders.size() == 1) {
        sub = measure(fd, folders.front().c_str(), fsid, links, unreadable);
    } else if (!folders.empty()) {
        std::atomic<std::int64_t> sum{0};
        tbb::this_task_arena::isolate([&] {
            tbb::parallel_for_each(folders.begin(), folders.end(), [&](const std::string& folder) {
                sum.fetch_add(measure(fd, folder.c_str(), fsid, links, unreadable),
                              std::memory_order_relaxed);
            });
        });
        sub = sum.load();
    }
    close(fd);
    return files + sub;
}

} // namespace

std::string human(std::int64_t bytes) {
    if (bytes <= 0) {
        return "\u2014";
    }
    const auto b = static_cast<std::uint64_t>(bytes);
    const std::uint64_t kilo = (b + 500) / 1000;
    if (kilo < 1000) {
        return withThousands(kilo == 0 ? 1 : kilo) + " KB";
    }
    const std::uint64_t megaTenths = (b + 50'000) / 100'000;
    if (megaTenths < 10'000) {
        return fixed(megaTenths, 1) + " MB";
    }
    const std::uint64_t gigaHundredths = (b + 5'000'000) / 10'000'000;
    return fixed(gigaHundredths, 2) + " GB";
}

std::int64_t size(const std::string& path) {
    return measured(path).bytes;
}

Measurement measured(const std::string& path) {
    struct statx sx {};
    if (statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | AT_STATX_DONT_SYNC,
              STATX_TYPE | STATX_BLOCKS | STATX_NLINK, &sx) != 0) {
        return {0, errno == ENOENT ? 0 : 1};
    }
    const mode_t type = sx.stx_mode & S_IFMT;
    if (type == S_IFLNK) {
        return {};
    }
    if (type == S_IFDIR) {
        auto& gate = measureGate();
        gate.acquire();
        inFlight.fetch_add(1);
        LinkSet links;
        std::atomic<std::int64_t> unreadable{0};
        const std::uint64_t fsid = (static_cast<std::uint64_t>(sx.stx_dev_major) << 32) | sx.stx_dev_minor;
        const std::int64_t total = measure(AT_FDCWD, path.c_str(), fsid, links, unreadable);
        inFlight.fetch_sub(1);
        gate.release();
        return {total, unreadable.load(), total - links.bytesLinkedElsewhere()};
    }
    const std::int64_t bytes =
        (sx.stx_mask & STATX_BLOCKS) ? static_cast<std::int64_t>(sx.stx_blocks) * 512 : 0;
    const bool linkedElsewhere = (sx.stx_mask & STATX_NLINK) && sx.stx_nlink > 1;
    return {bytes, 0, linkedElsewhere ? 0 : bytes};
}

Date modified(const std::string& path) {
    struct statx sx {};
    if (statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW | AT_STATX_DONT_SYNC, STATX_MTIME, &sx) != 0 ||
        !(sx.stx_mask & STATX_MTIME)) {
        return Dates::distantPast;
    }
    using namespace std::chrono;
    return Date{
        duration_cast<Date::duration>(seconds{sx.stx_mtime.tv_sec} + nanoseconds{sx.stx_mtime.tv_nsec})};
}

int measurementsInFlight() {
    return inFlight.load();
}

std::int64_t freeSpace() {
    return Platform::availableBytes();
}
std::int64_t totalSpace() {
    return Platform::totalBytes();
}

} // namespace DiskMath
