// Where the desktop's screenshot tool saves its captures, besides the Desktop. Read from the
// environment and the user-dirs file on every call so tests can point it elsewhere; any thread.
#pragma once

#include <optional>
#include <string>

namespace Platform {

// The user's pictures folder + "/Screenshots" when that folder exists. The pictures folder is
// XDG_PICTURES_DIR of $XDG_CONFIG_HOME/user-dirs.dirs (default ~/.config), either absolute or
// "$HOME/..."; ~/Pictures when the file or the entry is missing or unusable.
[[nodiscard]] std::optional<std::string> screenCaptureFolder();

// The pictures folder named by the text of a user-dirs.dirs file, or nothing when it names none usable.
[[nodiscard]] std::optional<std::string> picturesFolder(const std::string& userDirsText,
                                                        const std::string& home);

} // namespace Platform
