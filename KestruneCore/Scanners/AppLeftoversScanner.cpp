// The installed picture is built from the bundles directly inside the application folders (no deeper);
// each candidate is a direct child of one of three Library folders, measured whole.
#include "KestruneCore/Scanners/AppLeftoversScanner.h"

#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Model/TextFolding.h"
#include "KestruneCore/Platform/BulkDir.h"
#include "KestruneCore/Platform/FileAccess.h"
#include "KestruneCore/Platform/Process.h"
#include "KestruneCore/Platform/PropertyList.h"
#include "KestruneCore/Platform/SystemFolder.h"

#include <algorithm>
#include <array>
#include <sstream>

namespace {

constexpr std::array<std::string_view, 4> systemApplicationFolders{
    "/Applications", "/System/Applications", "/System/Applications/Utilities", "/Applications/Utilities"};

constexpr std::array<std::string_view, 3> libraryFolders{"Library/Application Support", "Library/Containers",
                                                         "Library/Saved Application State"};

constexpr std::array<std::string_view, 3> strippedSuffixes{".savedState", ".plist", ".binarycookies"};

// Non-empty pieces of `text` between dots.
std::vector<std::string_view> dotPieces(std::string_view text) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (start <= text.size()) {
        const auto dot = text.find('.', start);
        const auto end = dot == std::string_view::npos ? text.size() : dot;
        if (end > start) {
            pieces.push_back(text.substr(start, end - start));
        }
        if (dot == std::string_view::npos) {
            break;
        }
        start = dot + 1;
    }
    return pieces;
}

} // namespace

const std::set<std::string, std::less<>>& AppLeftoversScanner::neverTouch() {
    static const std::set<std::string, std::less<>> prefixes{"com.apple",
                                                             "CloudDocs",
                                                             "MobileSync",
                                                             "AddressBook",
                                                             "Knowledge",
                                                             "CallHistoryDB",
                                                             "CrashReporter",
                                                             "Google",
                                                             "Microsoft",
                                                             "Adobe",
                                                             "CoreSimulator",
                                                             "Developer",
                                                             "JetBrains",
                                                             "Homebrew",
                                                             "Firefox",
                                                             "Caches",
                                                             "FileProvider",
                                                             "Logs",
                                                             "Preferences",
                                                             "Containers",
                                                             "Application Support",
                                                             "Group Containers",
                                                             "Cache"};
    return prefixes;
}

std::vector<std::string> AppLeftoversScanner::applicationFolders() {
    std::vector<std::string> folders;
    for (const auto folder : systemApplicationFolders) {
        folders.push_back(Platform::systemFolder(folder));
    }
    folders.push_back(Paths::child(home(), "Applications"));
    return folders;
}

InstalledApps AppLeftoversScanner::installedApps() {
    InstalledApps apps;
    for (const auto& folder : applicationFolders()) {
        for (const auto& entry : BulkDir::read(folder)) {
            const std::string_view name = entry.name;
            // A bare ".app" names no application, and its empty name would be inside every other name.
            if (name.size() <= 4 || !name.ends_with(".app")) {
                continue;
            }
            if (std::string folded = TextFolding::folded(name.substr(0, name.size() - 4)); !folded.empty()) {
                apps.names.insert(std::move(folded));
            }
            const std::string bundle = Paths::child(folder, name);
            if (const auto info = PropertyList::readDictionary(bundle + "/Contents/Info.plist")) {
                if (auto identifier = info->string("CFBundleIdentifier")) {
                    apps.bundleIDs.insert(std::move(*identifier));
                }
            }
        }
    }
    return apps;
}

bool AppLeftoversScanner::isOrphan(std::string_view name, const InstalledApps& apps) {
    std::string_view base = name;
    for (const auto suffix : strippedSuffixes) {
        if (base.ends_with(suffix)) {
            base.remove_suffix(suffix.size());
        }
    }
    const auto& protectedPrefixes = neverTouch();
    if (std::any_of(protectedPrefixes.begin(), protectedPrefixes.end(),
                    [base](const std::string& prefix) { return base.starts_with(prefix); })) {
        return false;
    }
    if (const auto pieces = dotPieces(base); pieces.size() >= 3) {
        if (apps.bundleIDs.contains(std::string(base))) {
            return false;
        }
        std::string vendor(pieces[0]);
        vendor += '.';
        vendor += pieces[1];
        // A plain text prefix: com.examples.App shares the vendor com.example too, which keeps more.
        return std::none_of(apps.bundleIDs.begin(), apps.bundleIDs.end(),
                            [&vendor](const std::string& id) { return id.starts_with(vendor); });
    }
    const std::string foldedName = TextFolding::folded(base);
    if (apps.names.contains(foldedName)) {
        return false;
    }
    return std::none_of(apps.names.begin(), apps.names.end(), [&foldedName](const std::string& installed) {
        return installed.find(foldedName) != std::string::npos ||
               foldedName.find(installed) != std::string::npos;
    });
}

std::optional<std::set<std::string, std::less<>>> AppLeftoversScanner::installedFlatpaks() {
    const std::string flatpak = Process::find("flatpak");
    if (flatpak.empty()) {
        return std::nullopt;
    }
    // Both installations, the user's and the system's, are listed unless one is named.
    const auto listed =
        Process::run({flatpak, "list", "--app", "--columns=application"}, std::chrono::seconds(30));
    if (!listed.started || listed.timedOut || listed.status != 0) {
        return std::nullopt;
    }
    std::set<std::string, std::less<>> ids;
    std::istringstream lines(listed.output);
    std::string line;
    while (std::getline(lines, line)) {
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) {
            line.pop_back();
        }
        if (!line.empty()) {
            ids.insert(line);
        }
    }
    return ids;
}

std::optional<std::set<std::string, std::less<>>> AppLeftoversScanner::installedSnaps() {
    // snapd mounts every installed snap at /snap/NAME; without that folder nothing says what is installed.
    const std::string snapRoot = Platform::systemFolder("/snap");
    if (!Platform::exists(snapRoot)) {
        return std::nullopt;
    }
    std::set<std::string, std::less<>> names;
    for (auto& entry : BulkDir::read(snapRoot)) {
        if (entry.isDirectory) {
            names.insert(std::move(entry.name));
        }
    }
    return names;
}

std::vector<CleanupItem> AppLeftoversScanner::linuxLeftovers() {
    const std::string root = home();
    std::vector<Candidate> candidates;
    // The sandboxed homes are judged by the package managers' own lists, never by names alone: nothing
    // under ~/.config or ~/.local/share is reported.
    if (const auto flatpaks = installedFlatpaks()) {
        const std::string apps = Paths::child(root, ".var/app");
        for (const auto& id : ScannerHelpers::subfolders(apps)) {
            if (!flatpaks->contains(id)) {
                candidates.push_back({Paths::child(apps, id), std::nullopt, {}, true});
            }
        }
    }
    if (const auto snaps = installedSnaps()) {
        const std::string folder = Paths::child(root, "snap");
        for (const auto& name : ScannerHelpers::subfolders(folder)) {
            if (!snaps->contains(name)) {
                candidates.push_back({Paths::child(folder, name), std::nullopt, {}, true});
            }
        }
    }
    return ScannerHelpers::measured(candidates, floorBytes);
}

std::vector<CleanupItem> AppLeftoversScanner::scan() const {
    std::vector<CleanupItem> kept = linuxLeftovers();
    const InstalledApps apps = installedApps();
    if (apps.bundleIDs.size() < minimumBundleIDs) {
        return kept;
    }
    const std::string root = home();
    for (const auto folder : libraryFolders) {
        for (auto& item : children(Paths::child(root, folder), floorBytes)) {
            if (isOrphan(item.name(), apps)) {
                kept.push_back(std::move(item));
            }
        }
    }
    return kept;
}
