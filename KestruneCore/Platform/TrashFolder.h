// Where the user's Trash keeps its items: the folder that is listed, measured and emptied.
// Read from the environment on every call so that tests can point it elsewhere; any thread.
#pragma once

#include <string>
#include <vector>

namespace Platform {

// The home trash's "files" folder: $XDG_DATA_HOME/Trash/files when XDG_DATA_HOME is absolute, else
// ~/.local/share/Trash/files. Only computed; asking for it never creates it.
[[nodiscard]] std::string trashFilesFolder();

// The files folders of the user's other Trash folders that exist: $topdir/.Trash/$uid (when .Trash is a
// real sticky folder) and $topdir/.Trash-$uid of every mounted file system, and the home trash of each
// revision of a Snap app (~/snap/NAME/REVISION/.local/share/Trash). None is entered through a link.
[[nodiscard]] std::vector<std::string> otherTrashFilesFolders();

} // namespace Platform
