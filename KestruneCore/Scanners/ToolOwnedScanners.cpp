// A sparse disk image is measured by what it really occupies, so its nominal size never counts.
#include "KestruneCore/Scanners/ToolOwnedScanners.h"

#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/FileAccess.h"
#include "KestruneCore/Platform/UserFolders.h"
#include "KestruneCore/Walk/DiskMeasure.h"

namespace {

bool exists(const std::string& path) {
    return Platform::exists(path, Platform::Links::notFollowed);
}

} // namespace

std::vector<CleanupItem> SimulatorScanner::scan() const {
    const std::string root = home();
    std::vector<CleanupItem> items;
    for (const auto location : locations) {
        std::string path = Paths::child(root, location);
        if (!exists(path)) {
            continue;
        }
        const std::int64_t bytes = DiskMath::size(path);
        if (bytes >= minimumBytes) {
            const Date modified = DiskMath::modified(path);
            items.emplace_back(std::move(path), bytes, modified);
        }
    }
    return items;
}

std::vector<CleanupItem> DockerScanner::scan() const {
    const std::string root = home();
    std::vector<CleanupItem> items;
    for (const auto candidate : candidates) {
        std::string path = Paths::child(root, candidate);
        if (!exists(path)) {
            continue;
        }
        const std::int64_t bytes = DiskMath::size(path);
        if (bytes >= minimumBytes) {
            const Date modified = DiskMath::modified(path);
            items.emplace_back(std::move(path), bytes, modified);
            break;
        }
    }
    // Rootless engines keep images and containers in the user's data folder; only their own prune
    // commands know what is still referenced.
    const std::string data = Platform::dataHome();
    for (const auto& engine : userEngines) {
        std::string path = Paths::child(data, engine.storage);
        if (!Platform::reachableWithin(data, path)) {
            continue;
        }
        const std::int64_t bytes = DiskMath::size(path);
        if (bytes >= minimumBytes) {
            const Date modified = DiskMath::modified(path);
            items.emplace_back(std::move(path), bytes, modified, std::string(engine.label));
        }
    }
    return items;
}
