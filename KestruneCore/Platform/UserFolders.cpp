// Linux: the XDG base directories and the freedesktop.org user-dirs file, in the two forms
// xdg-user-dirs-update writes (XDG_DOWNLOAD_DIR="$HOME/Downloads" or an absolute path).
#include "KestruneCore/Platform/UserFolders.h"

#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/Home.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>

namespace Platform {

namespace {

std::string xdgFolder(const char* variable, std::string_view fallback) {
    if (const char* value = std::getenv(variable); value != nullptr && value[0] == '/') {
        return Paths::standardized(value);
    }
    return Paths::child(homeFolder(), fallback);
}

// The quoted value with backslash escapes undone; nothing when the quotes do not close.
std::optional<std::string> unquote(std::string_view text) {
    if (text.size() < 2 || text.front() != '"') {
        return std::nullopt;
    }
    std::string out;
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\' && i + 1 < text.size()) {
            out.push_back(text[++i]);
        } else if (c == '"') {
            return out;
        } else {
            out.push_back(c);
        }
    }
    return std::nullopt;
}

} // namespace

std::string cacheHome() {
    return xdgFolder("XDG_CACHE_HOME", ".cache");
}

std::string configHome() {
    return xdgFolder("XDG_CONFIG_HOME", ".config");
}

std::string dataHome() {
    return xdgFolder("XDG_DATA_HOME", ".local/share");
}

std::string stateHome() {
    return xdgFolder("XDG_STATE_HOME", ".local/state");
}

std::string userDirsText() {
    std::ifstream in(Paths::child(configHome(), "user-dirs.dirs"));
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::optional<std::string> userDir(const std::string& userDirsText, const std::string& key,
                                   const std::string& home) {
    std::optional<std::string> found;
    std::istringstream lines(userDirsText);
    std::string line;
    while (std::getline(lines, line)) {
        std::string_view rest(line);
        while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) {
            rest.remove_prefix(1);
        }
        if (!rest.starts_with(key) || rest.substr(key.size(), 1) != "=") {
            continue;
        }
        const auto value = unquote(rest.substr(key.size() + 1));
        if (!value) {
            continue;
        }
        if (value->starts_with("$HOME/") || *value == "$HOME") {
            found = Paths::standardized(home + value->substr(5));
        } else if (value->starts_with('/')) {
            found = Paths::standardized(*value);
        }
    }
    return found;
}

std::string downloadsFolder() {
    const std::string home = homeFolder();
    return userDir(userDirsText(), "XDG_DOWNLOAD_DIR", home).value_or(Paths::child(home, "Downloads"));
}

} // namespace Platform
