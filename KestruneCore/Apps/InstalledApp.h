// An installed application as the uninstaller shows it: where it came from, its size, when it was last
// used, and what removing it takes. Plain values; any thread.
#pragma once

#include "KestruneCore/Model/Dates.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct AppUsage {
    enum class Kind { used, neverOpened, unknown };
    Kind kind = Kind::unknown;
    // used: the last-use date; neverOpened: when the application arrived, if known.
    std::optional<Date> date;

    [[nodiscard]] static AppUsage used(Date when) { return {Kind::used, when}; }
    [[nodiscard]] static AppUsage neverOpened(std::optional<Date> added = std::nullopt) {
        return {Kind::neverOpened, added};
    }
    [[nodiscard]] static AppUsage unknown() { return {}; }
    bool operator==(const AppUsage&) const = default;
};

// Where an application was installed from, which decides how it is removed.
enum class AppSource { bundle, flatpak, appimage, desktop, snap };

namespace AppSources {
[[nodiscard]] std::string_view rawValue(AppSource source);
} // namespace AppSources

struct InstalledApp {
    std::string id; // the bundle identifier, else the path; unique within one inventory
    std::string name;
    std::optional<std::string> bundleID;
    std::string url; // the bundle, AppImage, program or deployment folder as found (links not resolved)
    std::int64_t bytes = 0;
    AppUsage usage;
    bool isSystem = false;
    AppSource source = AppSource::bundle;

    // Files that belong to this application alone and are offered with its support files: its desktop
    // entries and icons, ~/.var/app/ID, ~/snap/NAME.
    std::vector<std::string> ownFiles;
    // What the process table shows while it runs: executables, and folders whose programs are its own.
    std::vector<std::string> programs;
    // The desktop entry file names the desktop's usage record knows the application by.
    std::vector<std::string> desktopIDs;
    // The icon its desktop entry names: a theme icon name or an absolute file; empty when none.
    std::string icon;
    // Flatpak: "user", "system" or another installation's name.
    std::string installation;

    [[nodiscard]] std::optional<Date> lastUsed() const {
        return usage.kind == AppUsage::Kind::used ? usage.date : std::nullopt;
    }
    [[nodiscard]] bool neverOpened() const { return usage.kind == AppUsage::Kind::neverOpened; }
    // The command that removes it when that needs administrator rights (a Snap, a system-wide Flatpak);
    // empty when the application is removed by moving it to the Trash or by the user's own flatpak.
    [[nodiscard]] std::string privilegedRemoval() const;

    [[nodiscard]] bool operator==(const InstalledApp& other) const { return url == other.url; }
};
