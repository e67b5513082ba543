// Folder measurement walks the tree with the bulk reader; subfolders are measured in parallel
// inside an isolated arena so a waiting measurement never picks up an outer task that needs a slot.
#include "KestruneCore/Walk/DiskMeasure.h"

#include "KestruneCore/Platform/BulkDir.h"
#include "KestruneCore/Platform/Volume.h"
#include "KestruneCore/Walk/LinkSet.h"

#include <atomic>
#include <cerrno>
#include <semaphore>
#include <tbb/parallel_for_each.h>
#include <tbb/task_arena.h>

namespace DiskMath {
namespace {

std::counting_semaphore<maxConcurrentMeasurements>& measureGate() {
    static std::counting_semaphore<maxConcurrentMeasurements> gate(maxConcurrentMeasurements);
    return gate;
}

std::atomic<int> inFlight{0};

// Allocated bytes below the folder `name` of `parentFd` on the file system `fsid`, each file once
// however many links it has. Folders are opened from their parent's descriptor, so depth is no limit.
std::int64_t measure(int parentFd, const char* name, std::uint64_t fsid, LinkSet& links,
                     std::atomic<std::int64_t>& unreadable) {
    const BulkDir::Folder folder = BulkDir::openAt(parentFd, name);
    const int fd = folder.fd();
    if (!folder) {
        if (folder.error() != ENOENT) {
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
    return files + sub;
}

} // namespace

std::int64_t size(const std::string& path) {
    return measured(path).bytes;
}

Measurement measured(const std::string& path) {
    int error = 0;
    const auto entry = BulkDir::entryOf(path, BulkDir::Options::none, error);
    if (!entry) {
        return {0, error == ENOENT ? 0 : 1};
    }
    if (entry->isSymlink) {
        return {};
    }
    if (entry->isDirectory) {
        auto& gate = measureGate();
        gate.acquire();
        inFlight.fetch_add(1);
        LinkSet links;
        std::atomic<std::int64_t> unreadable{0};
        const std::int64_t total =
            measure(BulkDir::currentFolder, path.c_str(), entry->fsid, links, unreadable);
        inFlight.fetch_sub(1);
        gate.release();
        return {total, unreadable.load(), total - links.bytesLinkedElsewhere()};
    }
    return {entry->allocSize, 0, entry->links > 1 ? 0 : entry->allocSize};
}

Date modified(const std::string& path) {
    int error = 0;
    const auto entry = BulkDir::entryOf(path, BulkDir::Options::dates, error);
    return entry && entry->modified ? *entry->modified : Dates::distantPast;
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
