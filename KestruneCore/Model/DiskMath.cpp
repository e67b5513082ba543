// Folder measurement walks the tree with the bulk reader; subfolders are measured in parallel
// inside an isolated arena so a waiting measurement never picks up an outer task that needs a slot.
#include "KestruneCore/Model/DiskMath.h"

#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/Volume.h"
#include "KestruneCore/Walk/BulkDir.h"

#include <atomic>
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

// Stays on the measured folder's own file system: a mount inside it (a FUSE portal in ~/.cache, a
// tmpfs) is neither counted nor entered, since reclaiming the folder would not free it.
std::int64_t measure(const std::string& path, std::uint64_t fsid) {
    const auto entries = BulkDir::read(path);
    std::int64_t files = 0;
    std::vector<std::string> folders;
    for (const auto& entry : entries) {
        if (entry.isSymlink || entry.fsid != fsid) {
            continue;
        }
        if (entry.isDirectory) {
            folders.push_back(Paths::child(path, entry.name));
        } else if (entry.allocSize >= 1) {
            files += entry.allocSize;
        }
    }
    if (folders.size() == 1) {
        return files + measure(folders.front(), fsid);
    }
    if (folders.empty()) {
        return files;
    }
    std::atomic<std::int64_t> sub{0};
    tbb::this_task_arena::isolate([&] {
        tbb::parallel_for_each(folders.begin(), folders.end(), [&](const std::string& folder) {
            sub.fetch_add(measure(folder, fsid), std::memory_order_relaxed);
        });
    });
    return files + sub.load();
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
    struct statx sx {};
    if (statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | AT_STATX_DONT_SYNC,
              STATX_TYPE | STATX_BLOCKS, &sx) != 0) {
        return 0;
    }
    const mode_t type = sx.stx_mode & S_IFMT;
    if (type == S_IFLNK) {
        return 0;
    }
    if (type == S_IFDIR) {
        auto& gate = measureGate();
        gate.acquire();
        inFlight.fetch_add(1);
        const std::int64_t total =
            measure(path, (static_cast<std::uint64_t>(sx.stx_dev_major) << 32) | sx.stx_dev_minor);
        inFlight.fetch_sub(1);
        gate.release();
        return total;
    }
    return (sx.stx_mask & STATX_BLOCKS) ? static_cast<std::int64_t>(sx.stx_blocks) * 512 : 0;
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
