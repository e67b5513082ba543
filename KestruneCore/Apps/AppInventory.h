// The applications the user installed, with their size and last use, the support files each one keeps,
// and the steps that remove an application. Stateless; blocking; call it off the GUI thread (the
// uninstall engine runs it on a background thread, the command line on its own).
#pragma once

#include "KestruneCore/Apps/InstalledApp.h"
#include "KestruneCore/Apps/SupportFiles.h"

#include <string>
#include <vector>

namespace AppInventory {

// Bundles, Flatpak apps, AppImages, programs of the user's own desktop entries and Snaps, each measured,
// largest first (equal sizes in the order found). Ids are unique: copies sharing an identifier are
// known by their paths.
[[nodiscard]] std::vector<InstalledApp> installed();

// The application's support files (SupportFiles::find), largest first.
[[nodiscard]] std::vector<SupportFile> leftovers(const InstalledApp& app,
                                                 const std::vector<InstalledApp>& installed);

enum class Running { no, yes, unsure };
// Whether a process of the application runs: its executable lies in one of the app's programs (or an
// interpreter runs one of them); a Flatpak app by `flatpak ps`. Unsure when a process of the program's
// name hides its executable or flatpak cannot be asked.
[[nodiscard]] Running running(const InstalledApp& app);

struct Removal {
    bool ok = false;
    bool deleted = false; // removed by its package tool (not in the Trash)
    std::string reason;   // why not, for people
};
// Removes the application itself: its file or folder to the Trash, or a user-installed Flatpak through
// `flatpak uninstall --user --noninteractive ID`. Refuses what needs administrator rights
// (privilegedRemoval) and anything without a path of its own.
[[nodiscard]] Removal removeApplication(const InstalledApp& app);

} // namespace AppInventory
