// The keys of a freedesktop.org desktop entry the inventory reads (main group only), and the user's
// entries with the programs and icons they name. Stateless; any thread.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

struct DesktopEntry {
    std::string path;               // the .desktop file
    std::string fileName;           // its name, the desktop's id for it
    std::string name;               // Name= (unlocalised)
    std::string exec;               // Exec=
    std::string icon;               // Icon=
    std::string type;               // Type=
    bool hidden = false;            // Hidden=true: the entry is deleted as far as the desktop is concerned
    std::set<std::string> programs; // absolute paths Exec names, standardized

    // Reads a .desktop file; nothing when it cannot be read or has no [Desktop Entry] group.
    [[nodiscard]] static std::optional<DesktopEntry> read(const std::string& path);

    // The entries of $XDG_DATA_HOME/applications, in listing order.
    [[nodiscard]] static std::vector<DesktopEntry> userEntries();

    // The icon files this entry's Icon= names inside the user's own icon folders (an absolute path
    // there, or NAME.png/.svg/.xpm in $XDG_DATA_HOME/icons/*/*/apps and ~/.local/share/pixmaps).
    [[nodiscard]] std::vector<std::string> userIconFiles() const;
};
