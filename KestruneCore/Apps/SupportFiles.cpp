// Entries are the direct children of each searched folder, hidden ones skipped; each match is measured
// whole. The application's own files (desktop entries, icons, sandbox homes) come first.
#include "KestruneCore/Apps/SupportFiles.h"

#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Model/TextFolding.h"
#include "KestruneCore/Platform/BulkDir.h"
#include "KestruneCore/Platform/FileAccess.h"
#include "KestruneCore/Platform/Home.h"
#include "KestruneCore/Platform/UserFolders.h"
#include "KestruneCore/Walk/DiskMeasure.h"

#include <tbb/parallel_for.h>

#include <algorithm>
#include <array>
#include <set>

namespace SupportFiles {

namespace {

constexpr std::array<std::string_view, 12> libraryFolders{"Library/Application Support",
                                                          "Library/Caches",
                                                          "Library/Containers",
                                                          "Library/Group Containers",
                                                          "Library/Logs",
                                                          "Library/HTTPStorages",
                                                          "Library/WebKit",
                                                          "Library/Application Scripts",
                                                          "Library/Preferences",
                                                          "Library/Saved Application State",
                                                          "Library/Cookies",
                                                          "Library/LaunchAgents"};

constexpr std::array<std::string_view, 4> strippedSuffixes{".savedState", ".plist", ".binarycookies",
                                                           ".desktop"};

struct Key {
    std::optional<std::string> bundleID;
    std::string folded;
};

Key keyOf(const InstalledApp& app) {
    return {app.bundleID, TextFolding::folded(app.name)};
}

bool belongsTo(std::string_view entryName, const Key& key) {
    return belongs(entryName, key.bundleID, key.folded);
}

} // namespace

std::string_view base(std::string_view entryName) {
    for (const auto suffix : strippedSuffixes) {
        if (entryName.size() > suffix.size() && entryName.ends_with(suffix)) {
            entryName.remove_suffix(suffix.size());
        }
    }
    return entryName;
}

bool belongs(std::string_view entryName, const std::optional<std::string>& bundleID,
             std::string_view foldedName) {
    const std::string_view b = base(entryName);
    if (bundleID && !bundleID->empty()) {
        if (b == *bundleID) {
            return true;
        }
        if (b.size() > bundleID->size() + 1 && b.ends_with(*bundleID) &&
            b[b.size() - bundleID->size() - 1] == '.') {
            return true;
        }
    }
    return !foldedName.empty() && TextFolding::folded(b) == foldedName;
}

std::vector<std::string> searchedFolders() {
    const std::string home = Platform::homeFolder();
    std::vector<std::string> folders;
    for (const auto folder : libraryFolders) {
        folders.push_back(Paths::child(home, folder));
    }
    const std::string config = Platform::configHome();
    for (const auto& folder : {config, Platform::dataHome(), Platform::stateHome(), Platform::cacheHome(),
                               Paths::child(home, ".var/app"), Paths::child(config, "autostart")}) {
        folders.push_back(folder);
    }
    return folders;
}

std::vector<SupportFile> find(const InstalledApp& app, const std::vector<InstalledApp>& installed) {
    const Key key = keyOf(app);
    std::vector<const InstalledApp*> others;
    std::vector<Key> otherKeys;
    for (const auto& other : installed) {
        if (!(other == app)) {
            others.push_back(&other);
            otherKeys.push_back(keyOf(other));
        }
    }
    std::vector<std::string> paths;
    std::size_t ownCount = 0; // the first paths are the application's own files, never shared
    std::set<std::string> seen;
    auto add = [&](const std::string& path) {
        const std::string normal = Paths::standardized(path);
        // The application itself, or a folder holding any installed application, is never a support file.
        if (Paths::isInside(app.url, normal) || Paths::isInside(normal, app.url)) {
            return;
        }
        for (const auto* other : others) {
            if (Paths::isInside(other->url, normal)) {
                return;
            }
        }
        if (seen.insert(normal).second) {
            paths.push_back(normal);
        }
    };
    for (const auto& own : app.ownFiles) {
        if (Platform::exists(own, Platform::Links::notFollowed)) {
            add(own);
        }
    }
    ownCount = paths.size();
    std::set<std::string> listed;
    for (const auto& folder : searchedFolders()) {
        if (!listed.insert(folder).second) {
            continue;
        }
        for (const auto& entry : BulkDir::read(folder)) {
            if (entry.name.starts_with('.') || !belongsTo(entry.name, key)) {
                continue;
            }
            add(Paths::child(folder, entry.name));
        }
    }

    std::vector<SupportFile> found(paths.size());
    tbb::parallel_for(std::size_t{0}, paths.size(), [&](std::size_t i) {
        const std::string& path = paths[i];
        found[i].item = CleanupItem(path, DiskMath::size(path), DiskMath::modified(path));
        const std::string_view name = Paths::lastComponent(path);
        for (std::size_t o = 0; o < others.size() && i >= ownCount; ++o) {
            if (belongsTo(name, otherKeys[o])) {
                found[i].sharedWith = others[o]->name;
                break;
            }
        }
    });
    std::stable_sort(found.begin(), found.end(),
                     [](const SupportFile& a, const SupportFile& b) { return a.item.bytes > b.item.bytes; });
    return found;
}

} // namespace SupportFiles
