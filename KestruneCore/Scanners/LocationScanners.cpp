// Every root here is a fixed path under the home folder or one of the XDG folders, joined by plain
// appending; a missing or unreadable root simply contributes nothing. Linux places are reached through
// real folders only, never through a link or across a file system.
#include "KestruneCore/Scanners/LocationScanners.h"

#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/BulkDir.h"
#include "KestruneCore/Platform/DesktopEntries.h"
#include "KestruneCore/Platform/FileAccess.h"
#include "KestruneCore/Platform/RunningApps.h"
#include "KestruneCore/Platform/TrashFolder.h"
#include "KestruneCore/Platform/UserFolders.h"
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

constexpr std::array<std::string_view, 13> installerExtensions{
    "dmg", "pkg", "zip", "iso", "tar", "gz", "xip", "deb", "rpm", "run", "flatpakref", "snap", "appimage"};

// Children of ~/.cache that hold user state, belong to the running desktop, or are reported (more
// precisely) by another category.
constexpr std::array<std::string_view, 30> keptXdgCaches{
    "kestrune", // this program's own hash cache, written by the scan that finds it
    "pipx",     // the virtual environments of the tools pipx installed
    "keepassxc",
    "doc",
    "ibus",
    "wallpaper",
    "gnome-control-center",
    "obexd",
    "evolution",
    "sessions",
    "kwin",
    "plasmashell",
    "drkonqi",
    "icon-cache.kcache",
    "pypoetry",
    "mozilla",
    "google-chrome",
    "chromium",
    "BraveSoftware",
    "microsoft-edge",
    "vivaldi",
    "JetBrains",
    "pip",
    "uv",
    "go-build",
    "yarn",
    "deno",
    "ms-playwright",
    "bazel",
    "composer"};
constexpr std::array<std::string_view, 3> keptXdgCachePrefixes{"plasma_theme_", "qtshadercache-",
                                                               "mesa_shader_cache"};

// Log folders that applications keep under $XDG_STATE_HOME.
constexpr std::array<std::string_view, 3> stateLogs{"nvim/log", "nvim/lsp.log", "pipx/log"};

struct EditorLogs {
    std::string_view app;
    std::string_view folder; // under ~/.config
    std::string_view owner;
};
constexpr std::array<EditorLogs, 3> editorLogs{
    {{"VS Code", "Code", "code"}, {"VSCodium", "VSCodium", "codium"}, {"Cursor", "Cursor", "cursor"}}};

bool keptXdgCache(std::string_view name) {
    return std::find(keptXdgCaches.begin(), keptXdgCaches.end(), name) != keptXdgCaches.end() ||
           std::any_of(keptXdgCachePrefixes.begin(), keptXdgCachePrefixes.end(),
                       [name](std::string_view prefix) { return name.starts_with(prefix); });
}

std::string labelled(std::string_view owner, std::string_view what) {
    std::string label(owner);
    label += " \u00B7 ";
    label += what;
    return label;
}

// "org.gnome.Maps" -> "Maps".
std::string_view lastDotPart(std::string_view id) {
    const auto dot = id.rfind('.');
    return dot == std::string_view::npos ? id : id.substr(dot + 1);
}

void append(std::vector<CleanupItem>& to, std::vector<CleanupItem> more) {
    to.insert(to.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
}

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
    const std::string root = home();
    auto items = children(underHome(root, "Library/Caches"), cacheFloor);
    std::erase_if(items, [](const CleanupItem& item) {
        return std::find(keptCaches.begin(), keptCaches.end(), item.name()) != keptCaches.end();
    });
    const std::string xdg = Platform::cacheHome();
    auto linux = children(xdg, cacheFloor);
    std::erase_if(linux,
                  [](const CleanupItem& item) { return keptXdgCache(Paths::lastComponent(item.url)); });
    append(items, std::move(linux));
    // Hidden places children() leaves out: the old thumbnail folder, and the caches Flatpak and Snap
    // apps keep in their own homes.
    std::vector<Candidate> candidates;
    if (const std::string thumbnails = underHome(root, ".thumbnails");
        Platform::reachableWithin(root, thumbnails)) {
        candidates.push_back({thumbnails, std::nullopt, {}, true});
    }
    // A sandboxed app runs under its own name: a Snap's, or the last part of a Flatpak id in lower case
    // (org.mozilla.firefox runs as "firefox").
    const auto running = Platform::runningProgramNames();
    const auto inUse = [&running](const std::string& id, std::string process) {
        std::transform(process.begin(), process.end(), process.begin(),
                       [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
        return running.contains(process) ? id : std::string();
    };
    for (const auto& app : ScannerHelpers::subfolders(underHome(root, ".var/app"))) {
        std::string cache = underHome(root, ".var/app/" + app + "/cache");
        if (Platform::reachableWithin(root, cache)) {
            candidates.push_back(
                {std::move(cache), labelled(app, "cache"), inUse(app, std::string(lastDotPart(app))), true});
        }
    }
    for (const auto& snap : ScannerHelpers::subfolders(underHome(root, "snap"))) {
        std::string cache = underHome(root, "snap/" + snap + "/common/.cache");
        if (Platform::reachableWithin(root, cache)) {
            candidates.push_back({std::move(cache), labelled(snap, "cache"), inUse(snap, snap), true});
        }
    }
    append(items, ScannerHelpers::measured(candidates, cacheFloor));
    return items;
}

std::vector<CleanupItem> LogsScanner::scan() const {
    const std::string root = home();
    auto items = children(underHome(root, "Library/Logs"), logFloor);
    const auto running = Platform::runningProgramNames();
    std::vector<Candidate> candidates;
    // The session writes ~/.xsession-errors while it lasts; only the previous session's copy goes.
    if (const std::string old = underHome(root, ".xsession-errors.old");
        Platform::reachableWithin(root, old)) {
        candidates.push_back({old, std::nullopt, {}, true});
    }
    // Xorg keeps one log per display; the newest .log is the running server's and stays.
    const std::string data = Platform::dataHome();
    const std::string xorg = Paths::child(data, "xorg");
    std::vector<BulkEntry> xorgLogs;
    const auto xorgDevice = Platform::fileSystemOf(xorg, Platform::Links::followed);
    for (auto& entry : BulkDir::read(xorg, BulkDir::Options::dates)) {
        if (!entry.isDirectory && !entry.isSymlink && xorgDevice && entry.fsid == *xorgDevice &&
            (entry.name.ends_with(".log") || entry.name.ends_with(".log.old"))) {
            xorgLogs.push_back(std::move(entry));
        }
    }
    const BulkEntry* current = nullptr;
    for (const auto& entry : xorgLogs) {
        if (entry.name.ends_with(".log") &&
            (current == nullptr ||
             entry.modified.value_or(Dates::distantPast) > current->modified.value_or(Dates::distantPast))) {
            current = &entry;
        }
    }
    for (const auto& entry : xorgLogs) {
        if (&entry != current) {
            candidates.push_back({Paths::child(xorg, entry.name), std::nullopt, {}, true});
        }
    }
    const std::string state = Platform::stateHome();
    for (const auto relative : stateLogs) {
        if (std::string path = Paths::child(state, relative); Platform::reachableWithin(state, path)) {
            candidates.push_back({std::move(path), std::nullopt, {}, true});
        }
    }
    const std::string config = Platform::configHome();
    for (const auto& editor : editorLogs) {
        std::string path = Paths::child(config, std::string(editor.folder) + "/logs");
        if (Platform::reachableWithin(config, path)) {
            candidates.push_back({std::move(path), labelled(editor.app, "logs"),
                                  running.contains(editor.owner) ? std::string(editor.app) : std::string(),
                                  true});
        }
    }
    const std::string cache = Platform::cacheHome();
    const std::string jetBrains = Paths::child(cache, "JetBrains");
    for (const auto& version : ScannerHelpers::subfolders(jetBrains)) {
        if (std::string path = Paths::child(jetBrains, version + "/log");
            Platform::reachableWithin(cache, path)) {
            candidates.push_back({std::move(path), labelled("JetBrains", version + "/log"), {}, true});
        }
    }
    append(items, ScannerHelpers::measured(candidates, logFloor));
    return items;
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
    const std::string plain = underHome(home(), "Downloads");
    auto items = children(plain, installerFloor);
    // The desktop's own Downloads folder, when user-dirs.dirs names another one.
    if (const std::string xdg = Platform::downloadsFolder(); !Platform::sameFolder(xdg, plain)) {
        append(items, children(xdg, installerFloor));
    }
    const auto launched = Platform::launchedAppImages();
    std::erase_if(items, [cutoff, &launched](const CleanupItem& item) {
        const std::string extension = lowerExtension(item.url);
        const bool installer = std::find(installerExtensions.begin(), installerExtensions.end(), extension) !=
                               installerExtensions.end();
        // An AppImage that a desktop entry starts is the installed application itself.
        const bool installed = extension == "appimage" && launched.contains(item.url);
        return !installer || installed || !(item.modified < cutoff);
    });
    return items;
}

std::vector<CleanupItem> TrashScanner::scan() const {
    auto items = children(Platform::trashFilesFolder(), 0);
    for (const auto& folder : Platform::otherTrashFilesFolders()) {
        append(items, children(folder, 0));
    }
    return items;
}
