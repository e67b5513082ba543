// Children are listed with one bulk read and measured in parallel; the list is the only shared state.
#include "KestruneCore/Walk/ScannerHelpers.h"

#include "KestruneCore/Model/DiskMath.h"
#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/Home.h"
#include "KestruneCore/Walk/BulkDir.h"

#include <mutex>
#include <tbb/parallel_for.h>

namespace ScannerHelpers {

std::string home() {
    return Platform::homeFolder();
}

std::vector<CleanupItem> children(const std::string& of, std::int64_t minBytes) {
    auto entries = BulkDir::read(of, BulkDir::Options::dates);
    std::erase_if(entries, [](const BulkEntry& e) { return e.isSymlink || e.name.front() == '.'; });
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
    return items;
}

} // namespace ScannerHelpers
