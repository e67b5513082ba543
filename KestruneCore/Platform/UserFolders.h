// The user's XDG folders, each read from the environment (and user-dirs.dirs) on every call so tests can
// point them elsewhere; any thread. Only computed: asking for a folder never creates it.
#pragma once

#include <optional>
#include <string>

namespace Platform {

// $XDG_CACHE_HOME when it is absolute, else ~/.cache.
[[nodiscard]] std::string cacheHome();
// $XDG_CONFIG_HOME when it is absolute, else ~/.config.
[[nodiscard]] std::string configHome();
// $XDG_DATA_HOME when it is absolute, else ~/.local/share.
[[nodiscard]] std::string dataHome();
// $XDG_STATE_HOME when it is absolute, else ~/.local/state.
[[nodiscard]] std::string stateHome();
// XDG_DOWNLOAD_DIR of $XDG_CONFIG_HOME/user-dirs.dirs, else ~/Downloads.
[[nodiscard]] std::string downloadsFolder();

// The folder a user-dirs.dirs text assigns to `key` (for example XDG_PICTURES_DIR), absolute or
// "$HOME/..."; nothing when the text names none usable. A later assignment wins, as in a shell.
[[nodiscard]] std::optional<std::string> userDir(const std::string& userDirsText, const std::string& key,
                                                 const std::string& home);
// The text of $XDG_CONFIG_HOME/user-dirs.dirs; empty when it cannot be read.
[[nodiscard]] std::string userDirsText();

} // namespace Platform
