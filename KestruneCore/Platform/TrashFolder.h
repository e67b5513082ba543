// Where the user's Trash keeps its items: the folder that is listed, measured and emptied.
// Read from the environment on every call so that tests can point it elsewhere; any thread.
#pragma once

#include <string>

namespace Platform {

// The home trash's "files" folder: $XDG_DATA_HOME/Trash/files when XDG_DATA_HOME is absolute, else
// ~/.local/share/Trash/files. Only computed; asking for it never creates it.
[[nodiscard]] std::string trashFilesFolder();

} // namespace Platform
