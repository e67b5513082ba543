// Linux: the freedesktop.org home trash. A relative XDG_DATA_HOME is invalid and ignored, as the
// base-directory rules require.
#include "KestruneCore/Platform/TrashFolder.h"

#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/Home.h"

#include "KestruneCore/Platform/BulkDir.h"
#include "KestruneCore/Platform/FileAccess.h"
#include "KestruneCore/Platform/Mounts.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

namespace {

bool isRealFolder(const std::string& path, bool sticky = false) {
    struct stat sb {};
    return lstat(path.c_str(), &sb) == 0 && S_ISDIR(sb.st_mode) && (!sticky || (sb.st_mode & S_ISVTX));
}

bool ownedFolder(const std::string& path) {
    struct stat sb {};
    return lstat(path.c_str(), &sb) == 0 && S_ISDIR(sb.st_mode) && sb.st_uid == geteuid();
}

} // namespace

std::vector<std::string> otherTrashFilesFolders() {
    std::vector<std::string> folders;
    const std::string home = trashFilesFolder();
    const std::string uid = std::to_string(geteuid());
    auto add = [&](std::string files) {
        if (isRealFolder(files) && !sameFolder(files, home) &&
            std::none_of(folders.begin(), folders.end(),
                         [&](const std::string& f) { return sameFolder(f, files); })) {
            folders.push_back(std::move(files));
        }
    };
    for (const auto& top : mountPoints(MountKinds::real)) {
        const std::string shared = Paths::child(top, ".Trash");
        if (isRealFolder(shared, true) && ownedFolder(Paths::child(shared, uid))) {
            add(Paths::child(shared, uid + "/files"));
        }
        if (const std::string own = Paths::child(top, ".Trash-" + uid); ownedFolder(own)) {
            add(Paths::child(own, "files"));
        }
    }
    const std::string snaps = Paths::child(homeFolder(), "snap");
    for (const auto& entry : BulkDir::read(snaps)) {
        if (!entry.isDirectory || entry.isSymlink) {
            continue;
        }
        const std::string snap = Paths::child(snaps, entry.name);
        for (const auto& revision : BulkDir::read(snap)) {
            // "current" is a link to one of the revisions, which are listed themselves.
            if (!revision.isDirectory || revision.isSymlink) {
                continue;
            }
            const std::string revisionFolder = Paths::child(snap, revision.name);
            std::string files = Paths::child(revisionFolder, ".local/share/Trash/files");
            if (reachableWithin(revisionFolder, files)) {
                add(std::move(files));
            }
        }
    }
    return folders;
}

} // namespace Platform
