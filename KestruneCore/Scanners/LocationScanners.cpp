// Every root here is a fixed path under the home folder, joined by plain appending; a missing or
// unreadable root simply contributes nothing.
#include "KestruneCore/Scanners/LocationScanners.h"

#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/TrashFolder.h"
#include "KestruneCore/Walk/PrunedWalk.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace {

constexpr std::int64_t cacheFloor = 1'000'000;
constexpr std::int64_t logFloor = 200'000;
constexpr std::int64_t xcodeFloor = 1'000'000;
constexpr std::int64_t installerFloor = 5'000'000;
constexpr int nodeModulesDepth = 8;
constexpr std::chrono::seconds installerAge{2'592'000};

// System-owned cache folders that come straight back and are not the user's to clear.
constexpr std::array<std::string_view, 2> keptCaches{"CloudKit", "com.apple.containermanagerd"};

constexpr std::array<std::string_view, 5> xcodeFolders{
    "Library/Developer/Xcode/DerivedData",       "Library/Developer/Xcode/Archives",
    "Library/Developer/Xcode/iOS DeviceSupport", "Library/Developer/Xcode/watchOS DeviceSupport",
    "Library/Developer/CoreSimulator/Caches",
};

constexpr std::array<std::string_view, 7> installerExtensions{"dmg", "pkg", "zip", "iso", "tar", "gz", "xip"};

std::string underHome(const std::string& home, std::string_view relative) {
    return Paths::child(home, relative);
}

// The text after the last "." of the last component, lower-cased; empty when there is none. A leading
// dot starts a hidden name, not an extension.
std::string lowerExtension(std::string_view path) {
    const std::string_view name = Paths::lastComponent(path);
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) {
        return {};
    }
    std::string extension(name.substr(dot + 1));
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
    return extension;
}

} // namespace

std::vector<CleanupItem> UserCachesScanner::scan() const {
    auto items = children(underHome(home(), "Library/Caches"), cacheFloor);
    std::erase_if(items, [](const CleanupItem& item) {
        return std::find(keptCaches.begin(), keptCaches.end(), item.name()) != keptCaches.end();
    });
    return items;
}

std::vector<CleanupItem> LogsScanner::scan() const {
    return children(underHome(home(), "Library/Logs"), logFloor);
}

std::vector<CleanupItem> XcodeScanner::scan() const {
    const std::string root = home();
    std::vector<CleanupItem> items;
    for (const auto folder : xcodeFolders) {
        auto found = children(underHome(root, folder), xcodeFloor);
        items.insert(items.end(), std::make_move_iterator(found.begin()),
                     std::make_move_iterator(found.end()));
    }
    return items;
}

std::vector<CleanupItem> NodeModulesScanner::scan() const {
    return PrunedWalk::find({"node_modules"}, home(), nodeModulesDepth);
}

std::vector<CleanupItem> DownloadsScanner::scan() const {
    const Date cutoff = Dates::now() - installerAge;
    auto items = children(underHome(home(), "Downloads"), installerFloor);
    std::erase_if(items, [cutoff](const CleanupItem& item) {
        const std::string extension = lowerExtension(item.url);
        const bool installer = std::find(installerExtensions.begin(), installerExtensions.end(), extension) !=
                               installerExtensions.end();
        return !installer || !(item.modified < cutoff);
    });
    return items;
}

std::vector<CleanupItem> TrashScanner::scan() const {
    return children(Platform::trashFilesFolder(), 0);
}
