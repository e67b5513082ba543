// Linux: the freedesktop.org home trash. A relative XDG_DATA_HOME is invalid and ignored, as the
// base-directory rules require.
#include "KestruneCore/Platform/TrashFolder.h"

#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/Home.h"

#include <cstdlib>

namespace Platform {

std::string trashFilesFolder() {
    std::string dataHome;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/') {
        dataHome = Paths::standardized(xdg);
    } else {
        dataHome = Paths::child(homeFolder(), ".local/share");
    }
    return Paths::child(Paths::child(dataHome, "Trash"), "files");
}

} // namespace Platform
