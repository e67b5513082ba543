// Support folders in the user's Library, and Flatpak and Snap homes, that belong to no installed
// application. Stateless; scan() runs
// on a runner worker thread, several at once. Whenever a name could belong to an installed application
// or to the system, the folder is kept.
#pragma once

#include "KestruneCore/Scanners/Scanner.h"

#include <optional>
#include <set>
#include <string>
#include <string_view>

// What is installed, as far as this scanner needs to know.
struct InstalledApps {
    std::set<std::string> bundleIDs; // CFBundleIdentifier values as written (case-sensitive)
    std::set<std::string> names;     // bundle names without ".app", folded
};

class AppLeftoversScanner final : public Scanner {
public:
    static constexpr std::int64_t floorBytes = 5'000'000;
    // Below this many identifiers the picture of what is installed is too thin to call anything orphaned.
    static constexpr std::size_t minimumBundleIDs = 11;

    // Name prefixes of the system's and of large vendors' folders, matched case-sensitively.
    [[nodiscard]] static const std::set<std::string, std::less<>>& neverTouch();
    // Application folders searched, system ones mapped through the platform, the home folder's last.
    [[nodiscard]] static std::vector<std::string> applicationFolders();
    [[nodiscard]] static InstalledApps installedApps();
    [[nodiscard]] static bool isOrphan(std::string_view name, const InstalledApps& apps);

    // Ids of the installed Flatpak apps (user and system); nothing when flatpak is missing or fails.
    [[nodiscard]] static std::optional<std::set<std::string, std::less<>>> installedFlatpaks();
    // Names of the installed Snaps (the folders under /snap); nothing when snapd keeps no /snap.
    [[nodiscard]] static std::optional<std::set<std::string, std::less<>>> installedSnaps();
    // ~/.var/app/ID and ~/snap/NAME folders of apps that are no longer installed.
    [[nodiscard]] static std::vector<CleanupItem> linuxLeftovers();

    [[nodiscard]] CategoryKind kind() const override { return CategoryKind::appLeftovers; }
    [[nodiscard]] std::vector<CleanupItem> scan() const override;
};
