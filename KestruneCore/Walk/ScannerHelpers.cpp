// Children are listed with one bulk read and measured in parallel; the list is the only shared state.
#include "KestruneCore/Walk/ScannerHelpers.h"

#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/BulkDir.h"
#include "KestruneCore/Platform/FileAccess.h"
#include "KestruneCore/Platform/Home.h"
#include "KestruneCore/Platform/Mounts.h"
#include "KestruneCore/Walk/DiskMeasure.h"

#include <mutex>
#include <tbb/parallel_for.h>

namespace ScannerHelpers {

std::string home() {
    return Platform::homeFolder();
}

namespace {

// An item that holds a mount point is never offered: moving it would carry the mounted file system along.
void dropHoldersOfMounts(std::vector<CleanupItem>& items) {
    if (items.empty()) {
        return;
    }
    const auto mounts = Platform::mountPoints();
    std::erase_if(items, [&mounts](const CleanupItem& item) {
        return !Platform::mountPointInside(item.url, mounts).empty();
    });
}

} // namespace

std::vector<CleanupItem> children(const std::string& of, std::int64_t minBytes) {
    auto entries = BulkDir::read(of, BulkDir::Options::dates);
    // A mount point inside the folder (the document portal in ~/.cache, a tmpfs) belongs to another file
    // system: reclaiming it frees nothing here and may break what mounted it.
    const std::uint64_t device = Platform::fileSystemOf(of, Platform::Links::followed).value_or(0);
    std::erase_if(entries, [device](const BulkEntry& e) {
        return e.isSymlink || e.name.front() == '.' || e.fsid != device;
    });
    std::vector<CleanupItem> items;
    if (entries.empty()) {
        return items;
    }
    std::mutex lock;
    tbb::parallel_for(std::size_t{0}, entries.size(), [&](std::size_t i) {
        const BulkEntry& entry = entries[i];
        std::string path = Paths::child(of, entry.name);
        const std::int64_t bytes = entry.isDirectory ? DiskMath::size(path) : entry.allocSize;
        if (bytes >= minBytes) {
            CleanupItem item(std::move(path), bytes, entry.modified.value_or(Dates::distantPast));
            const std::lock_guard guard(lock);
            items.push_back(std::move(item));
        }
    });
    dropHoldersOfMounts(items);
    return items;
}

std::vector<CleanupItem> measured(const std::vector<Candidate>& candidates, std::int64_t minBytes) {
    std::vector<CleanupItem> items;
    if (candidates.empty()) {
        return items;
    }
    std::mutex lock;
    tbb::parallel_for(std::size_t{0}, candidates.size(), [&](std::size_t i) {
        const Candidate& candidate = candidates[i];
        const std::int64_t bytes = DiskMath::size(candidate.path);
        if (bytes >= minBytes) {
            CleanupItem item(candidate.path, bytes, DiskMath::modified(candidate.path), candidate.label);
            item.inUseBy = candidate.inUseBy;
            item.recommended = candidate.recommended;
            const std::lock_guard guard(lock);
            items.push_back(std::move(item));
        }
    });
    dropHoldersOfMounts(items);
    return items;
}

std::vector<std::string> subfolders(const std::string& folder) {
    std::vector<std::string> names;
    const auto device = Platform::fileSystemOf(folder, Platform::Links::followed);
    if (!device) {
        return names;
    }
    for (auto& entry : BulkDir::read(folder)) {
        if (entry.isDirectory && !entry.isSymlink && entry.fsid == *device) {
            names.push_back(std::move(entry.name));
        }
    }
    return names;
}

} // namespace ScannerHelpers
