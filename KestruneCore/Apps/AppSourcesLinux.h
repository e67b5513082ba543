// The places applications are installed in, one small reader each. Every reader returns unmeasured
// applications (bytes -1: the inventory measures `url`) in the order it found them; none ever fails:
// what cannot be read is skipped. Any thread; each call blocks.
#pragma once

#include "KestruneCore/Apps/DesktopEntry.h"
#include "KestruneCore/Apps/InstalledApp.h"

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace BundleApps {
// .app bundles directly inside /Applications, /Applications/Utilities (both through the platform's
// system folders) and ~/Applications; links into the system's own folders are skipped.
[[nodiscard]] std::vector<InstalledApp> list();
} // namespace BundleApps

namespace FlatpakApps {
// `flatpak list --app --columns=application,name,installation`, user and system installations.
[[nodiscard]] std::vector<InstalledApp> list();
// Parses that command's output (tab-separated, no heading when not on a terminal).
[[nodiscard]] std::vector<InstalledApp> parse(const std::string& output);
// Ids of running Flatpak apps (`flatpak ps --columns=application`); nothing when that cannot be asked.
[[nodiscard]] std::optional<std::set<std::string>> running();
} // namespace FlatpakApps

namespace AppImageApps {
// Whether the file starts with an ELF header carrying the AppImage mark (type 1 or 2).
[[nodiscard]] bool isAppImage(const std::string& path);
// AppImages in ~/Applications, ~/.local/bin, ~/bin and the Downloads folder, with the desktop entries
// and icons that point at them.
[[nodiscard]] std::vector<InstalledApp> list(const std::vector<DesktopEntry>& entries);
} // namespace AppImageApps

namespace DesktopApps {
// Programs under the home folder started by the user's own desktop entries, other than the AppImages
// already listed.
[[nodiscard]] std::vector<InstalledApp> list(const std::vector<DesktopEntry>& entries,
                                             const std::set<std::string>& appImages);
} // namespace DesktopApps

namespace SnapApps {
// Application snaps in /snap (bases, snapd and the like are not applications), sized by their
// .snap files in /var/lib/snapd/snaps, with their data in ~/snap/NAME.
[[nodiscard]] std::vector<InstalledApp> list();
} // namespace SnapApps
