// What starts with the user's session: XDG autostart entries, systemd user services, and launchd's
// property lists where the home has them. Items whose program is gone are "broken"; only a broken item
// of the user's own folders can be moved to the Trash. Nothing is ever stopped, disabled or edited in
// place. Any thread; every call reads the disk afresh.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct BackgroundItem {
    enum class Kind { autostart, userService, launchAgent, launchDaemon };
    // Whether the program the item starts is there: found, missing (the item is broken), not checkable
    // (a permission error, a volume that is not mounted: never called broken), or the item names none.
    enum class Program { found, missing, unknown, none };

    std::string label; // the file's name without its extension
    std::string path;  // the file that defines the item (a *.wants link stays the link)
    Kind kind = Kind::autostart;
    bool isUserWritable = false; // in the user's own folders
    std::string program;         // as resolved for the check: absolute when it could be found; else as named
    Program programState = Program::none;
    bool disabled = false; // Hidden=true, X-GNOME-Autostart-enabled=false, or a unit masked to /dev/null

    [[nodiscard]] bool isBroken() const { return programState == Program::missing; }
    [[nodiscard]] std::string scope() const; // "Autostart entry", "User service", "Launch agent", ...
};

namespace LoginItems {

// The folders, in the order they are read (user folders first):
//   $XDG_CONFIG_HOME/autostart, then each $XDG_CONFIG_DIRS folder's autostart (default /etc/xdg);
//   $XDG_CONFIG_HOME/systemd/user, /etc/systemd/user, /usr/lib/systemd/user (services only; of the two
//   system folders only the services some *.wants folder links to, since the rest never start by
//   themselves);
//   ~/Library/LaunchAgents, /Library/LaunchAgents, /Library/LaunchDaemons.
// Sorted by label, case-insensitively; equal labels keep that order.
[[nodiscard]] std::vector<BackgroundItem> all();

// The item defined by the file at `path` as `all()` would list it, checked afresh; nothing when `all()`
// does not list that file.
[[nodiscard]] std::optional<BackgroundItem> find(const std::string& path);

// Moves the item's file to the Trash after checking it afresh: only an item that is still broken and
// in the user's own folders. Nothing on success, else why not (the file stays where it is).
[[nodiscard]] std::optional<std::string> remove(const BackgroundItem& item);

// The program an Exec value of a desktop entry starts (desktop-entry quoting; "env" and its VAR=value
// words skipped); empty when there is none.
[[nodiscard]] std::string execProgram(const std::string& exec);
// The program an ExecStart value of a systemd unit starts (systemd quoting, the @-+!: prefixes, the
// %h and %% specifiers, "env" skipped); empty when there is none.
[[nodiscard]] std::string execStartProgram(const std::string& execStart, const std::string& home);
// Where a program stands: a bare name is looked up on PATH, a path is checked where it points.
[[nodiscard]] BackgroundItem::Program check(const std::string& program, std::string* resolved = nullptr);

} // namespace LoginItems
