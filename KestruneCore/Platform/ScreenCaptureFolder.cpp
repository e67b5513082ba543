// Linux: the freedesktop.org user-dirs file, written by xdg-user-dirs-update, in its shell-like form
// XDG_PICTURES_DIR="$HOME/Pictures". Only the two forms that tool writes are accepted.
#include "KestruneCore/Platform/ScreenCaptureFolder.h"

#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/Home.h"
#include "KestruneCore/Platform/UserFolders.h"

#include <sys/stat.h>

namespace Platform {

namespace {

bool isDirectory(const std::string& path) {
    struct stat sb {};
    return stat(path.c_str(), &sb) == 0 && S_ISDIR(sb.st_mode);
}

} // namespace

std::optional<std::string> picturesFolder(const std::string& userDirsText, const std::string& home) {
    return userDir(userDirsText, "XDG_PICTURES_DIR", home);
}

std::optional<std::string> screenCaptureFolder() {
    const std::string home = homeFolder();
    const std::string pictures =
        picturesFolder(userDirsText(), home).value_or(Paths::child(home, "Pictures"));
    std::string folder = Paths::child(pictures, "Screenshots");
    if (!isDirectory(folder)) {
        return std::nullopt;
    }
    return folder;
}

} // namespace Platform
