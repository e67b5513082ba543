// The rule that ties a file in the user's settings and data folders to an installed application, and
// the search for an application's support files. Stateless; any thread; the search blocks.
#pragma once

#include "KestruneCore/Apps/InstalledApp.h"
#include "KestruneCore/Model/CleanupItem.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct SupportFile {
    CleanupItem item;
    // The other installed application whose name or identifier the file matches too; such a file is
    // never ticked to begin with.
    std::string sharedWith;
};

namespace SupportFiles {

// The entry name without the trailing suffixes the system adds to an identifier (".savedState", then
// ".plist", then ".binarycookies", then ".desktop"); only at the end, so "plistTool" stays itself.
[[nodiscard]] std::string_view base(std::string_view entryName);

// Exact identifier, or "." + identifier at the end (a group container's prefix), or the folded name
// equal to the application's folded name. Nothing looser: "com.example.Tool.helper" and "Tool Pro" do
// not belong to Tool.
[[nodiscard]] bool belongs(std::string_view entryName, const std::optional<std::string>& bundleID,
                           std::string_view foldedName);

// The folders searched, in order: the Library folders of the bundle layout, then the XDG folders,
// ~/.var/app and ~/.config/autostart.
[[nodiscard]] std::vector<std::string> searchedFolders();

// The application's own files and every entry of the searched folders that belongs to it, measured,
// largest first. An entry that is, or holds, another installed application is never offered; one that
// also belongs to another installed application names it in `sharedWith`.
[[nodiscard]] std::vector<SupportFile> find(const InstalledApp& app,
                                            const std::vector<InstalledApp>& installed);

} // namespace SupportFiles
