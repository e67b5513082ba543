// Linux: the freedesktop.org user-dirs file, written by xdg-user-dirs-update, in its shell-like form
// XDG_PICTURES_DIR="$HOME/Pictures". Only the two forms that tool writes are accepted.
#include "KestruneCore/Platform/ScreenCaptureFolder.h"

#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/Home.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>
#include <sys/stat.h>

namespace Platform {

namespace {

constexpr std::string_view key = "XDG_PICTURES_DIR";

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

bool isDirectory(const std::string& path) {
    struct stat sb {};
    return stat(path.c_str(), &sb) == 0 && S_ISDIR(sb.st_mode);
}

} // namespace

std::optional<std::string> picturesFolder(const std::string& userDirsText, const std::string& home) {
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
        // As in a shell, a later assignment wins.
        if (value->starts_with("$HOME/") || *value == "$HOME") {
            found = Paths::standardized(home + value->substr(5));
        } else if (value->starts_with('/')) {
            found = Paths::standardized(*value);
        }
    }
    return found;
}

std::optional<std::string> screenCaptureFolder() {
    const std::string home = homeFolder();
    std::string configHome;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
        configHome = Paths::standardized(xdg);
    } else {
        configHome = Paths::child(home, ".config");
    }
    std::ifstream in(Paths::child(configHome, "user-dirs.dirs"));
    std::ostringstream text;
    text << in.rdbuf();
    const std::string pictures = picturesFolder(text.str(), home).value_or(Paths::child(home, "Pictures"));
    std::string folder = Paths::child(pictures, "Screenshots");
    if (!isDirectory(folder)) {
        return std::nullopt;
    }
    return folder;
}

} // namespace Platform
