// Only entries holding at least the floor on disk reach the cloud query, so an item whose status
// cannot be read still holds local data and counts as downloaded.
#include "KestruneCore/Scanners/CloudBackupScanners.h"

#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/BulkDir.h"
#include "KestruneCore/Platform/FileAccess.h"
#include "KestruneCore/Platform/PropertyList.h"
#include "KestruneCore/Walk/DiskMeasure.h"

#include <algorithm>

std::vector<CleanupItem> CloudClutterScanner::scan() const {
    const std::string folder = Paths::child(home(), root);
    if (!Platform::exists(folder)) {
        return {};
    }
    std::vector<CleanupItem> items;
    collectDownloaded(folder, 0, items);
    std::stable_sort(items.begin(), items.end(),
                     [](const CleanupItem& a, const CleanupItem& b) { return a.bytes > b.bytes; });
    return items;
}

void CloudClutterScanner::collectDownloaded(const std::string& folder, int depth,
                                            std::vector<CleanupItem>& items) const {
    if (depth > depthLimit || items.size() >= maximumItems) {
        return;
    }
    auto entries = BulkDir::read(folder, BulkDir::Options::dates);
    std::erase_if(entries, [](const BulkEntry& e) { return e.isSymlink || e.name.front() == '.'; });
    for (const BulkEntry& entry : entries) {
        if (items.size() >= maximumItems) {
            return;
        }
        std::string path = Paths::child(folder, entry.name);
        const Date modified = entry.modified.value_or(Dates::distantPast);
        std::string label = std::string(labelPrefix) + entry.name;
        if (entry.isDirectory) {
            const std::int64_t bytes = DiskMath::size(path);
            if (bytes < minimumBytes) {
                continue;
            }
            if (isDownloadedUbiquitous(path)) {
                items.emplace_back(std::move(path), bytes, modified, std::move(label));
            } else {
                collectDownloaded(path, depth + 1, items);
            }
        } else if (entry.allocSize >= minimumBytes && isDownloadedUbiquitous(path)) {
            items.emplace_back(std::move(path), entry.allocSize, modified, std::move(label));
        }
    }
}

bool CloudClutterScanner::isDownloadedUbiquitous(const std::string& path) const {
    const auto values = status ? status->values(path) : std::nullopt;
    if (!values || !values->isUbiquitousItem || !values->downloadingStatus) {
        return true;
    }
    return *values->downloadingStatus != Platform::DownloadingStatus::notDownloaded;
}

std::vector<CleanupItem> IOSBackupScanner::scan() const {
    const std::string folder = Paths::child(home(), root);
    std::vector<CleanupItem> items;
    for (const BulkEntry& entry : BulkDir::read(folder, BulkDir::Options::dates)) {
        if (!entry.isDirectory || entry.isSymlink || entry.name.front() == '.') {
            continue;
        }
        std::string path = Paths::child(folder, entry.name);
        const std::int64_t bytes = DiskMath::size(path);
        if (bytes < minimumBytes) {
            continue;
        }
        std::optional<std::string> name;
        if (const auto info = PropertyList::readDictionary(Paths::child(path, "Info.plist"))) {
            name = info->string("Device Name");
            if (!name) {
                name = info->string("Display Name");
            }
        }
        std::optional<std::string> label;
        if (name && !name->empty()) {
            label = *name + " backup";
        }
        const Date modified = entry.modified ? *entry.modified : DiskMath::modified(path);
        items.emplace_back(std::move(path), bytes, modified, std::move(label));
    }
    return items;
}
