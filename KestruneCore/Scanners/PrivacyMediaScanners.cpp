// Some rows overlap other categories (a browser cache is also an app cache); the scan's cross-category
// collapse settles that, so the tables stay independent of the other scanners.
#include "KestruneCore/Scanners/PrivacyMediaScanners.h"

#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/FileAccess.h"
#include "KestruneCore/Walk/DiskMeasure.h"

#include <array>

namespace {

constexpr std::array<PrivacyTraceScanner::Target, 14> privacyTable{{
    {"Safari Caches", "Library/Containers/com.apple.Safari/Data/Library/Caches", 5'000'000},
    {"Safari Cookies", "Library/Cookies/Cookies.binarycookies", 100'000},
    {"Chrome Cache", "Library/Application Support/Google/Chrome/Default/Cache", 5'000'000},
    {"Chrome Code Cache", "Library/Application Support/Google/Chrome/Default/Code Cache", 5'000'000},
    {"Chrome Cookies", "Library/Application Support/Google/Chrome/Default/Cookies", 100'000},
    {"Chrome Service Worker", "Library/Application Support/Google/Chrome/Default/Service Worker", 5'000'000},
    {"Firefox Cache", "Library/Caches/Firefox", 5'000'000},
    {"Edge Cache", "Library/Application Support/Microsoft Edge/Default/Cache", 5'000'000},
    {"Edge Code Cache", "Library/Application Support/Microsoft Edge/Default/Code Cache", 5'000'000},
    {"Brave Cache", "Library/Application Support/BraveSoftware/Brave-Browser/Default/Cache", 5'000'000},
    {"Arc Cache", "Library/Application Support/Arc/User Data/Default/Cache", 5'000'000},
    {"Slack Cache", "Library/Application Support/Slack/Cache", 20'000'000},
    {"Discord Cache", "Library/Application Support/discord/Cache", 20'000'000},
    {"Quick Look Thumbnails", "Library/Caches/com.apple.QuickLook.thumbnailcache", 5'000'000},
}};

constexpr std::array<MediaLeftoversScanner::Row, 7> mediaTable{{
    {"Music Cache", "Library/Containers/com.apple.Music/Data/Library/Caches", 20'000'000},
    {"Music Downloads Cache", "Library/Caches/com.apple.Music", 20'000'000},
    {"TV Cache", "Library/Containers/com.apple.TV/Data/Library/Caches", 20'000'000},
    {"TV Downloads Cache", "Library/Caches/com.apple.TV", 20'000'000},
    {"Podcasts Cache", "Library/Caches/com.apple.podcasts", 20'000'000},
    {"Previous Music Library", "Music/Previous Libraries.localized", 50'000'000},
    {"Music App Support Cache", "Library/Application Support/com.apple.MobileAsset.MusicCaches", 20'000'000},
}};

// One labelled item for the location when it exists and holds at least minBytes.
void addIfLarge(std::vector<CleanupItem>& items, const std::string& home, std::string_view label,
                std::string_view relativePath, std::int64_t minBytes) {
    std::string path = Paths::child(home, relativePath);
    if (!Platform::exists(path, Platform::Links::notFollowed)) {
        return;
    }
    const std::int64_t bytes = DiskMath::size(path);
    if (bytes < minBytes) {
        return;
    }
    const Date modified = DiskMath::modified(path);
    items.emplace_back(std::move(path), bytes, modified, std::string(label));
}

} // namespace

std::span<const PrivacyTraceScanner::Target> PrivacyTraceScanner::targets() {
    return privacyTable;
}

std::vector<CleanupItem> PrivacyTraceScanner::scan() const {
    const std::string root = home();
    std::vector<CleanupItem> items;
    for (const auto& target : privacyTable) {
        addIfLarge(items, root, target.label, target.relativePath, target.minBytes);
    }
    return items;
}

std::span<const MediaLeftoversScanner::Row> MediaLeftoversScanner::rows() {
    return mediaTable;
}

std::vector<CleanupItem> MediaLeftoversScanner::scan() const {
    const std::string root = home();
    std::vector<CleanupItem> items;
    for (const auto& [label, path, floor] : mediaTable) {
        addIfLarge(items, root, label, path, floor);
    }
    return items;
}
