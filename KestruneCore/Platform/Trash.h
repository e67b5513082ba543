// The only code that changes user files: moving to the Trash (the freedesktop.org Trash, so every file
// manager lists and restores what we trashed), permanent deletion of Trash contents, emptying through
// the desktop, and eviction of cloud copies. Stateless; any thread; each call blocks.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace Trash {

struct Outcome {
    bool ok = false;
    std::string reason;                // why it failed, for people; empty on success
    std::string trashedAs;             // moveToTrash: the item's path inside the Trash's files folder
    std::vector<std::string> skipped;  // deletePermanently: mount points below the item, left in place
    std::vector<std::string> failures; // deletePermanently: "relative/path: reason" for each failure
    int orphansRemoved = 0;            // removeOrphanInfo
};

// The home trash's files folder (never created by asking).
[[nodiscard]] std::string filesFolder();

// Moves the item (a link as the link, never its target) into the Trash of its own file system: the home
// trash when it is on the same mount, else the top directory's .Trash/$uid or .Trash-$uid. Always a
// rename, never a copy. Refuses "/", the home folder, anything holding the home trash, and Trash
// contents. On failure the item is where it was.
Outcome moveToTrash(const std::string& path);

// Deletes for good an item strictly inside a Trash files folder (the home trash, a top-directory trash
// or a Snap app's home trash ~/snap/NAME/REVISION/.local/share/Trash), and for a top-level entry also its
// .trashinfo and its directorysizes line. Walks by directory descriptor, never follows a link, never leaves
// the item's mount, and keeps going past failures.
Outcome deletePermanently(const std::string& path);

// Removes the info files of the Trash whose `files` folder is given that are older than `minimumAge` and
// whose item is gone (a move that died between claiming its name and the rename leaves one); younger ones
// may belong to another program's move in progress. Every info file that cannot be removed is a failure.
Outcome removeOrphanInfo(const std::string& files, std::chrono::seconds minimumAge = std::chrono::minutes(5));

// Asks the desktop to empty the Trash ("gio trash --empty"). Nothing on success, else a message.
[[nodiscard]] std::optional<std::string> emptyViaDesktop();

// No cloud document service exists here: always fails, nothing changes.
Outcome evictLocalCopy(const std::string& path);

namespace Info {
// Percent-encoding of a Path= value: bytes outside A-Z a-z 0-9 - _ . ~ / are written %XX.
[[nodiscard]] std::string encode(const std::string& bytes);
// The inverse; nothing when a % is not followed by two hex digits.
[[nodiscard]] std::optional<std::string> decode(const std::string& text);
} // namespace Info

} // namespace Trash
