// Linux: the freedesktop.org Trash. Moves are renames into the Trash of the item's own mount; permanent
// deletion walks by directory descriptor (openat/unlinkat with O_NOFOLLOW) holding at most three
// descriptors at any depth, going back up through ".." checked against the device and inode it came
// from, so a folder swapped for a link mid-walk never leads anywhere outside the Trash.
#include "KestruneCore/Platform/Trash.h"

#include "KestruneCore/Model/Dates.h"
#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/AtomicFile.h"
#include "KestruneCore/Platform/BulkDir.h"
#include "KestruneCore/Platform/Home.h"
#include "KestruneCore/Platform/Mounts.h"
#include "KestruneCore/Platform/Process.h"
#include "KestruneCore/Platform/TrashFolder.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace Trash {
namespace {

std::string describe(int error) {
    return std::strerror(error);
}

// Owns one descriptor.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : value(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& other) noexcept : value(other.release()) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    [[nodiscard]] int get() const { return value; }
    [[nodiscard]] bool valid() const { return value >= 0; }
    int release() {
        const int v = value;
        value = -1;
        return v;
    }
    void reset(int fd = -1) {
        if (value >= 0) {
            close(value);
        }
        value = fd;
    }

private:
    int value = -1;
};

constexpr int directoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Where a file system object lives: rename works only within one mount, and deletion never leaves one.
struct MountKey {
    dev_t device = 0;
    std::uint64_t mountId = 0; // 0 when the kernel does not report it
    bool operator==(const MountKey& other) const {
        return device == other.device && (mountId == 0 || other.mountId == 0 || mountId == other.mountId);
    }
};

std::optional<MountKey> keyAt(int dirFd, const char* path, int flags) {
    struct statx sx {};
#ifdef STATX_MNT_ID
    constexpr unsigned mask = STATX_TYPE | STATX_INO | STATX_MNT_ID;
#else
    constexpr unsigned mask = STATX_TYPE | STATX_INO;
#endif
    if (statx(dirFd, path, flags | AT_NO_AUTOMOUNT, mask, &sx) != 0) {
        return std::nullopt;
    }
    MountKey key;
    key.device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
#ifdef STATX_MNT_ID
    if (sx.stx_mask & STATX_MNT_ID) {
        key.mountId = sx.stx_mnt_id;
    }
#endif
    return key;
}

std::optional<MountKey> keyOfFd(int fd) {
    return keyAt(fd, "", AT_EMPTY_PATH);
}

// ---------------------------------------------------------------------------------------------------
// Moving to the Trash

struct TrashDirs {
    Fd files;
    Fd info;
    std::string topdir; // "" for the home trash, whose Path= values are absolute
    std::string filesPath;
};

bool makeFolders(const std::string& path, mode_t mode) {
    for (std::size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            const std::string partial = path.substr(0, i);
            if (mkdir(partial.c_str(), mode) != 0 && errno != EEXIST) {
                return false;
            }
        }
    }
    return true;
}

// files/ and info/ inside an opened trash folder that belongs to us and lies on the item's mount.
std::optional<std::string> openParts(int rootFd, const MountKey& itemKey, TrashDirs& dirs) {
    struct stat st {};
    if (fstat(rootFd, &st) != 0) {
        return describe(errno);
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid()) {
        return std::string("The Trash folder belongs to another user");
    }
    const auto rootKey = keyOfFd(rootFd);
    if (!rootKey || !(*rootKey == itemKey)) {
        return std::string("The Trash folder is on another file system than the item");
    }
    for (const char* part : {"files", "info"}) {
        if (mkdirat(rootFd, part, 0700) != 0 && errno != EEXIST) {
            return describe(errno);
        }
    }
    dirs.files.reset(openat(rootFd, "files", directoryFlags));
    dirs.info.reset(openat(rootFd, "info", directoryFlags));
    if (!dirs.files.valid() || !dirs.info.valid()) {
        return std::string("The Trash's files or info folder is not a folder: ") + describe(errno);
    }
    return std::nullopt;
}

std::optional<std::string> openHomeTrash(const MountKey& itemKey, TrashDirs& dirs) {
    const std::string files = filesFolder();
    const std::string root(Paths::parent(files));
    if (!makeFolders(root, 0700)) {
        return "Could not create the Trash folder: " + describe(errno);
    }
    const Fd rootFd(open(root.c_str(), directoryFlags));
    if (!rootFd.valid()) {
        return errno == ELOOP ? std::string("The Trash folder is a symbolic link")
                              : "Could not open the Trash folder: " + describe(errno);
    }
    dirs.filesPath = files;
    return openParts(rootFd.get(), itemKey, dirs);
}

// $topdir/.Trash/$uid when .Trash is a real sticky folder, else $topdir/.Trash-$uid.
std::optional<std::string> openTopTrash(const std::string& topdir, const MountKey& itemKey, TrashDirs& dirs) {
    const std::string uid = std::to_string(geteuid());
    dirs.topdir = topdir;
    const Fd top(open(topdir.c_str(), directoryFlags));
    if (!top.valid()) {
        return "Could not open " + topdir + ": " + describe(errno);
    }
    struct stat shared {};
    if (fstatat(top.get(), ".Trash", &shared, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(shared.st_mode) &&
        (shared.st_mode & S_ISVTX)) {
        const Fd sharedFd(openat(top.get(), ".Trash", directoryFlags));
        if (sharedFd.valid()) {
            mkdirat(sharedFd.get(), uid.c_str(), 0700);
            const Fd mine(openat(sharedFd.get(), uid.c_str(), directoryFlags));
            if (mine.valid() && !openParts(mine.get(), itemKey, dirs)) {
                dirs.filesPath = Paths::child(topdir, ".Trash/" + uid + "/files");
                return std::nullopt;
            }
        }
    }
    const std::string own = ".Trash-" + uid;
    if (mkdirat(top.get(), own.c_str(), 0700) != 0 && errno != EEXIST) {
        return "No Trash can be used on the file system of " + topdir + ": " + describe(errno);
    }
    const Fd mine(openat(top.get(), own.c_str(), directoryFlags));
    if (!mine.valid()) {
        return "No Trash can be used on the file system of " + topdir + ": " + describe(errno);
    }
    if (auto problem = openParts(mine.get(), itemKey, dirs)) {
        return "No Trash can be used on the file system of " + topdir + ": " + *problem;
    }
    dirs.filesPath = Paths::child(topdir, own + "/files");
    return std::nullopt;
}

// The highest folder above `path` on the same mount as `key`.
std::string topDirectory(const std::string& path, const MountKey& key) {
    std::string top(Paths::parent(path));
    while (top != "/") {
        const std::string up(Paths::parent(top));
        const auto upKey = keyAt(AT_FDCWD, up.c_str(), 0);
        if (!upKey || !(*upKey == key)) {
            break;
        }
        top = up;
    }
    return top;
}

bool inTopTrash(const std::string& path) {
    const std::string uid = std::to_string(geteuid());
    return path.find("/.Trash-" + uid + "/") != std::string::npos ||
           path.find("/.Trash/" + uid + "/") != std::string::npos ||
           Paths::lastComponent(path) == ".Trash-" + uid;
}

// Trash names must fit in 255 bytes with ".trashinfo" after them; cut at a character boundary.
std::string fittedName(const std::string& base, const std::string& suffix) {
    constexpr std::size_t limit = NAME_MAX - 10; // strlen(".trashinfo")
    if (base.size() + suffix.size() <= limit) {
        return base + suffix;
    }
    std::size_t keep = limit - suffix.size();
    while (keep > 0 && (static_cast<unsigned char>(base[keep]) & 0xC0) == 0x80) {
        --keep;
    }
    return base.substr(0, keep) + suffix;
}

bool writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// ---------------------------------------------------------------------------------------------------
// Permanent deletion

enum class Removal { gone, isDirectory, failed };

class Remover {
public:
    Remover(MountKey limit, Outcome& outcome) : limit(limit), outcome(outcome) {}

    // Removes `name` in the folder `parentFd` (a file, a link or a whole tree).
    void remove(int parentFd, const std::string& name) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            int error = 0;
            Fd fd = openFolder(parentFd, name, error);
            if (!fd.valid()) {
                if (error == ENOENT) {
                    return;
                }
                if (error != ENOTDIR && error != ELOOP) {
                    fail("", error);
                    return;
                }
                if (unlinkOther(parentFd, name, "") != Removal::isDirectory) {
                    return;
                }
                continue; // it became a folder between the two calls
            }
            const auto key = keyOfFd(fd.get());
            if (!key || !(*key == limit)) {
                outcome.skipped.push_back(name);
                return;
            }
            removeTree(parentFd, name, std::move(fd));
            return;
        }
        fail("", EBUSY);
    }

private:
    struct Frame {
        dev_t device;
        ino_t inode;
        std::string name;
        std::string relative;
        std::vector<std::string> pending; // subfolders still to remove
    };

    void fail(const std::string& relative, int error) { fail(relative, describe(error)); }
    void fail(const std::string& relative, const std::string& reason) {
        outcome.failures.push_back(relative.empty() ? reason : relative + ": " + reason);
        failedBelow.push_back(relative);
    }

    static std::string join(const std::string& relative, const std::string& name) {
        return relative.empty() ? name : relative + "/" + name;
    }

    // Gives the owner read, write and search permission on a folder of theirs that lacks it.
    static bool makeUsable(int dirFd) {
        struct stat st {};
        if (fstat(dirFd, &st) != 0 || st.st_uid != geteuid() || (st.st_mode & S_IRWXU) == S_IRWXU) {
            return false;
        }
        return fchmod(dirFd, (st.st_mode & 07777) | S_IRWXU) == 0;
    }

    // The same for a folder we cannot open for reading: through an O_PATH descriptor, which needs no
    // permission on the folder itself and cannot be a link.
    static bool makeUsableAt(int parentFd, const std::string& name) {
        const Fd path(openat(parentFd, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat st {};
        if (!path.valid() || fstat(path.get(), &st) != 0 || st.st_uid != geteuid()) {
            return false;
        }
        const std::string proc = "/proc/self/fd/" + std::to_string(path.get());
        return chmod(proc.c_str(), (st.st_mode & 07777) | S_IRWXU) == 0;
    }

    static Fd openFolder(int parentFd, const std::string& name, int& error) {
        Fd fd(openat(parentFd, name.c_str(), directoryFlags));
        if (!fd.valid() && errno == EACCES && makeUsableAt(parentFd, name)) {
            fd.reset(openat(parentFd, name.c_str(), directoryFlags));
        }
        error = fd.valid() ? 0 : errno;
        return fd;
    }

    Removal unlinkOther(int dirFd, const std::string& name, const std::string& relative) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (unlinkat(dirFd, name.c_str(), 0) == 0 || errno == ENOENT) {
                return Removal::gone;
            }
            if (errno == EISDIR) {
                return Removal::isDirectory;
            }
            const int error = errno;
            if ((error == EACCES || error == EPERM) && attempt == 0 && makeUsable(dirFd)) {
                continue;
            }
            fail(relative, error);
            return Removal::failed;
        }
        return Removal::failed;
    }

    void removeFolderEntry(int dirFd, const std::string& name, const std::string& relative) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (unlinkat(dirFd, name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT) {
                return;
            }
            const int error = errno;
            if ((error == EACCES || error == EPERM) && attempt == 0 && makeUsable(dirFd)) {
                continue;
            }
            if ((error == ENOTEMPTY || error == EEXIST) && reportedBelow(relative)) {
                return; // what kept it is reported already
            }
            fail(relative, error);
            return;
        }
    }

    bool reportedBelow(const std::string& relative) const {
        for (const auto& f : failedBelow) {
            if (relative.empty() || f == relative || f.starts_with(relative + "/")) {
                return true;
            }
        }
        for (const auto& s : outcome.skipped) {
            if (relative.empty() || s == relative || s.starts_with(relative + "/")) {
                return true;
            }
        }
        return false;
    }

    // Lists the folder, unlinks everything that is not a folder and returns the subfolders.
    std::vector<std::string> enter(int fd, const std::string& relative) {
        makeUsable(fd);
        std::vector<std::string> folders;
        for (const auto& entry : BulkDir::readAt(fd)) {
            if (entry.isDirectory ||
                unlinkOther(fd, entry.name, join(relative, entry.name)) == Removal::isDirectory) {
                folders.push_back(entry.name);
            }
        }
        return folders;
    }

    void removeTree(int rootParentFd, const std::string& rootName, Fd fd) {
        struct stat st {};
        fstat(fd.get(), &st);
        std::vector<Frame> stack;
        stack.push_back({st.st_dev, st.st_ino, rootName, "", enter(fd.get(), "")});
        while (true) {
            if (!stack.back().pending.empty()) {
                const std::string name = stack.back().pending.back();
                stack.back().pending.pop_back();
                const std::string relative = join(stack.back().relative, name);
                int error = 0;
                Fd child = openFolder(fd.get(), name, error);
                if (!child.valid()) {
                    if (error == ENOTDIR || error == ELOOP) {
                        unlinkOther(fd.get(), name, relative); // no longer a folder: remove it as it is
                    } else if (error != ENOENT) {
                        fail(relative, error);
                    }
                    continue;
                }
                const auto key = keyOfFd(child.get());
                if (!key || !(*key == limit)) {
                    outcome.skipped.push_back(relative);
                    continue;
                }
                struct stat cs {};
                fstat(child.get(), &cs);
                fd = std::move(child);
                stack.push_back({cs.st_dev, cs.st_ino, name, relative, enter(fd.get(), relative)});
                continue;
            }
            const std::string name = stack.back().name;
            const std::string relative = stack.back().relative;
            if (stack.size() == 1) {
                fd.reset();
                removeFolderEntry(rootParentFd, name, relative);
                return;
            }
            Fd up(openat(fd.get(), "..", directoryFlags));
            struct stat us {};
            const Frame& parent = stack[stack.size() - 2];
            if (!up.valid() || fstat(up.get(), &us) != 0 || us.st_dev != parent.device ||
                us.st_ino != parent.inode) {
                fail(relative, "The folder was moved while it was being deleted; deletion stopped");
                return;
            }
            fd = std::move(up);
            stack.pop_back();
            removeFolderEntry(fd.get(), name, relative);
        }
    }

    MountKey limit;
    Outcome& outcome;
    std::vector<std::string> failedBelow;
};

struct TrashTarget {
    Fd root;  // the trash folder that holds files/ and info/
    Fd files; // its files folder
    std::string rootPath;
    std::string relative; // the item below files/
};

// Finds and opens the Trash that holds `path`, refusing links at every step from the trash folder down.
std::optional<std::string> openTarget(const std::string& path, TrashTarget& target) {
    const std::string homeFiles = filesFolder();
    const std::string uid = std::to_string(geteuid());
    std::vector<std::string> chain; // folders to open with O_NOFOLLOW from the first
    if (path.size() > homeFiles.size() + 1 && path.starts_with(homeFiles + "/")) {
        target.rootPath = std::string(Paths::parent(homeFiles));
        target.relative = path.substr(homeFiles.size() + 1);
        chain = {target.rootPath};
    } else if (const std::string snaps = Paths::child(Platform::homeFolder(), "snap/");
               path.starts_with(snaps) &&
               path.find("/.local/share/Trash/files/", snaps.size()) != std::string::npos) {
        // A Snap app's own home trash, ~/snap/NAME/REVISION/.local/share/Trash.
        const std::string marker = "/.local/share/Trash/files/";
        const std::size_t at = path.find(marker, snaps.size());
        const std::string_view owner = std::string_view(path).substr(snaps.size(), at - snaps.size());
        if (std::count(owner.begin(), owner.end(), '/') == 1 && path.size() > at + marker.size()) {
            target.rootPath = path.substr(0, at + marker.size() - std::string("/files/").size());
            target.relative = path.substr(at + marker.size());
            chain = {target.rootPath};
        }
    } else {
        for (const std::string& marker : {"/.Trash-" + uid + "/files/", "/.Trash/" + uid + "/files/"}) {
            const std::size_t at = path.find(marker);
            if (at == std::string::npos || path.size() <= at + marker.size()) {
                continue;
            }
            const std::string top = at == 0 ? "/" : path.substr(0, at);
            target.rootPath = path.substr(0, at + marker.size() - std::string("/files/").size());
            target.relative = path.substr(at + marker.size());
            if (marker.starts_with("/.Trash/")) {
                chain = {Paths::child(top, ".Trash"), uid};
            } else {
                chain = {target.rootPath};
            }
            break;
        }
    }
    if (chain.empty()) {
        return std::string("Not inside the Trash; only the Trash's own contents are ever deleted");
    }
    target.root.reset(open(chain[0].c_str(), directoryFlags));
    for (std::size_t i = 1; i < chain.size() && target.root.valid(); ++i) {
        target.root.reset(openat(target.root.get(), chain[i].c_str(), directoryFlags));
    }
    if (target.root.valid()) {
        target.files.reset(openat(target.root.get(), "files", directoryFlags));
    }
    if (!target.root.valid() || !target.files.valid()) {
        if (errno == ELOOP || errno == ENOTDIR) {
            return std::string("The Trash folder is a symbolic link or not a folder; nothing was deleted");
        }
        return "Could not open the Trash folder: " + describe(errno);
    }
    return std::nullopt;
}

// Drops the line of `name` from the trash's directorysizes cache, if it has one.
void forgetDirectorySize(const TrashTarget& target, const std::string& name) {
    const Fd fd(openat(target.root.get(), "directorysizes", O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid()) {
        return;
    }
    std::string text;
    char buffer[65536];
    ssize_t n;
    while ((n = read(fd.get(), buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    std::string kept;
    bool changed = false;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(start, end - start);
        // "size mtime percent-encoded-name"
        const std::size_t first = line.find(' ');
        const std::size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
        const auto decoded =
            second == std::string::npos ? std::nullopt : Info::decode(line.substr(second + 1));
        if (decoded && *decoded == name) {
            changed = true;
        } else if (!line.empty()) {
            kept += line + "\n";
        }
        start = end + 1;
    }
    if (changed) {
        AtomicFile::replace(target.rootPath + "/directorysizes", kept);
    }
}

std::string summary(const Outcome& outcome) {
    std::vector<std::string> problems = outcome.failures;
    for (const auto& s : outcome.skipped) {
        problems.push_back((s.empty() ? std::string("it") : s) + ": a mount point, left in place");
    }
    if (problems.size() == 1) {
        return problems.front();
    }
    std::string text = std::to_string(problems.size()) + " items could not be deleted: ";
    for (std::size_t i = 0; i < problems.size() && i < 3; ++i) {
        text += (i ? "; " : "") + problems[i];
    }
    if (problems.size() > 3) {
        text += "; \u2026";
    }
    return text;
}

} // namespace

namespace Info {

std::string encode(const std::string& bytes) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : bytes) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                           c == '-' || c == '_' || c == '.' || c == '~' || c == '/';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::optional<std::string> decode(const std::string& text) {
    auto value = [](char c) -> int {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
        return -1;
    };
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size() || value(text[i + 1]) < 0 || value(text[i + 2]) < 0) {
            return std::nullopt;
        }
        out += static_cast<char>(value(text[i + 1]) * 16 + value(text[i + 2]));
        i += 2;
    }
    return out;
}

} // namespace Info

std::string filesFolder() {
    return Platform::trashFilesFolder();
}

Outcome moveToTrash(const std::string& path) {
    Outcome outcome;
    if (path.empty() || path[0] != '/') {
        outcome.reason = path.empty() ? "No path given" : "Not an absolute path";
        return outcome;
    }
    const std::string given = Paths::standardized(path);
    const std::string name(Paths::lastComponent(given));
    if (given == "/" || name.empty()) {
        outcome.reason = "Refusing to move the root folder to the Trash";
        return outcome;
    }
    // Folders above the item are resolved so that the Trash and Path= name where it really is; the item
    // itself is never resolved (a link is trashed as the link).
    char* resolved = realpath(std::string(Paths::parent(given)).c_str(), nullptr);
    if (resolved == nullptr) {
        outcome.reason = describe(errno);
        return outcome;
    }
    const std::string item = Paths::child(resolved, name);
    std::free(resolved);
    const std::string home = Platform::homeFolder();
    const std::string homeTrash(Paths::parent(filesFolder()));
    if (item == home || given == home) {
        outcome.reason = "Refusing to move the home folder to the Trash";
        return outcome;
    }
    if (Paths::isInside(homeTrash, item) || Paths::isInside(homeTrash, given)) {
        outcome.reason = "Refusing to move a folder that holds the Trash";
        return outcome;
    }
    if (Paths::isInside(item, homeTrash) || Paths::isInside(given, homeTrash) || inTopTrash(item)) {
        outcome.reason = "Already in the Trash";
        return outcome;
    }
    // A rename would carry a mounted file system (a portal, a tmpfs) into the Trash along with the folder.
    if (const std::string mount = Platform::mountPointInside(item, Platform::mountPoints()); !mount.empty()) {
        outcome.reason = "It holds a mounted file system at " + mount + "; unmount it first";
        return outcome;
    }
    const auto itemKey = keyAt(AT_FDCWD, item.c_str(), AT_SYMLINK_NOFOLLOW);
    if (!itemKey) {
        outcome.reason = describe(errno);
        return outcome;
    }
    const auto parentKey = keyAt(AT_FDCWD, std::string(Paths::parent(item)).c_str(), 0);
    if (!parentKey || !(*parentKey == *itemKey)) {
        outcome.reason = "It is a mount point; it cannot be moved to the Trash";
        return outcome;
    }
    // The home trash when it lives on the item's mount (judged by the nearest folder of it that exists).
    std::string probe = homeTrash;
    auto homeKey = keyAt(AT_FDCWD, probe.c_str(), 0);
    while (!homeKey && probe != "/" && !probe.empty()) {
        probe = std::string(Paths::parent(probe));
        homeKey = keyAt(AT_FDCWD, probe.c_str(), 0);
    }
    TrashDirs dirs;
    std::optional<std::string> problem;
    if (homeKey && *homeKey == *itemKey) {
        problem = openHomeTrash(*itemKey, dirs);
    } else {
        problem = openTopTrash(topDirectory(item, *itemKey), *itemKey, dirs);
    }
    if (problem) {
        outcome.reason = *problem;
        return outcome;
    }
    std::string original = item;
    if (!dirs.topdir.empty()) {
        original = dirs.topdir == "/" ? item.substr(1) : item.substr(dirs.topdir.size() + 1);
    }
    const std::string info = "[Trash Info]\nPath=" + Info::encode(original) +
                             "\nDeletionDate=" + Dates::local(Dates::now(), "%Y-%m-%dT%H:%M:%S") + "\n";
    for (int n = 1; n < 100000; ++n) {
        const std::string trashName = fittedName(name, n == 1 ? "" : "." + std::to_string(n));
        const std::string infoName = trashName + ".trashinfo";
        // Claiming the info name first is what makes the Trash name ours.
        const Fd claim(openat(dirs.info.get(), infoName.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!claim.valid()) {
            if (errno == EEXIST) {
                continue;
            }
            outcome.reason = "Could not write to the Trash: " + describe(errno);
            return outcome;
        }
        if (!writeAll(claim.get(), info) || fsync(claim.get()) != 0) {
            const int error = errno;
            unlinkat(dirs.info.get(), infoName.c_str(), 0);
            outcome.reason = "Could not write to the Trash: " + describe(error);
            return outcome;
        }
        int moved = renameat2(AT_FDCWD, item.c_str(), dirs.files.get(), trashName.c_str(), RENAME_NOREPLACE);
        if (moved != 0 && errno == EINVAL) {
            // A file system without RENAME_NOREPLACE: check, then rename.
            struct stat st {};
            if (fstatat(dirs.files.get(), trashName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
                errno = EEXIST;
            } else {
                moved = renameat(AT_FDCWD, item.c_str(), dirs.files.get(), trashName.c_str());
            }
        }
        if (moved != 0) {
            const int error = errno;
            unlinkat(dirs.info.get(), infoName.c_str(), 0);
            if (error == EEXIST) {
                continue; // an orphan in files/ without its info file
            }
            outcome.reason = error == EXDEV ? "It is on another file system than its Trash" : describe(error);
            return outcome;
        }
        outcome.ok = true;
        outcome.trashedAs = Paths::child(dirs.filesPath, trashName);
        return outcome;
    }
    outcome.reason = "No free name in the Trash";
    return outcome;
}

Outcome deletePermanently(const std::string& path) {
    Outcome outcome;
    if (path.empty() || path[0] != '/') {
        outcome.reason = path.empty() ? "No path given" : "Not an absolute path";
        return outcome;
    }
    const std::string item = Paths::standardized(path);
    if (item == "/" || item == Platform::homeFolder()) {
        outcome.reason = "Refusing to delete " + item;
        return outcome;
    }
    TrashTarget target;
    if (auto problem = openTarget(item, target)) {
        outcome.reason = *problem;
        return outcome;
    }
    const auto limit = keyOfFd(target.files.get());
    if (!limit) {
        outcome.reason = describe(errno);
        return outcome;
    }
    // Down to the item's folder, one component at a time, never through a link.
    std::vector<std::string> parts;
    for (std::size_t start = 0; start <= target.relative.size();) {
        const std::size_t end = target.relative.find('/', start);
        parts.push_back(
            target.relative.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    Fd parent(dup(target.files.get()));
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        parent.reset(openat(parent.get(), parts[i].c_str(), directoryFlags));
        if (!parent.valid()) {
            if (errno == ENOENT) {
                outcome.ok = true; // already gone
                return outcome;
            }
            outcome.reason =
                errno == ELOOP || errno == ENOTDIR
                    ? "A folder on the way is a symbolic link or not a folder; nothing was deleted"
                    : describe(errno);
            return outcome;
        }
    }
    const std::string name = parts.back();
    Remover(*limit, outcome).remove(parent.get(), name);
    struct stat st {};
    const bool gone = fstatat(parent.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
    if (gone && parts.size() == 1) {
        // An info file left behind would list the item in every file manager's Trash forever.
        const std::string infoName = name + ".trashinfo";
        const Fd info(openat(target.root.get(), "info", directoryFlags));
        if (!info.valid()) {
            if (errno != ENOENT) {
                outcome.failures.push_back(infoName + ": " + describe(errno));
            }
        } else if (unlinkat(info.get(), infoName.c_str(), 0) != 0 && errno != ENOENT) {
            outcome.failures.push_back(infoName + ": " + describe(errno));
        }
        forgetDirectorySize(target, name);
    }
    outcome.ok = outcome.failures.empty() && outcome.skipped.empty();
    if (!outcome.ok) {
        outcome.reason = summary(outcome);
    }
    return outcome;
}

Outcome removeOrphanInfo(const std::string& files, std::chrono::seconds minimumAge) {
    Outcome outcome;
    const std::string root(Paths::parent(Paths::standardized(files)));
    const Fd filesFd(open(files.c_str(), directoryFlags));
    const Fd infoFd(open(Paths::child(root, "info").c_str(), directoryFlags));
    if (!filesFd.valid() || !infoFd.valid()) {
        if (errno != ENOENT) {
            outcome.failures.push_back("info: " + describe(errno));
        }
        outcome.ok = outcome.failures.empty();
        outcome.reason = outcome.ok ? "" : summary(outcome);
        return outcome;
    }
    const auto now = Dates::now();
    constexpr std::string_view suffix = ".trashinfo";
    for (const auto& entry : BulkDir::readAt(infoFd.get(), BulkDir::Options::dates)) {
        if (entry.isDirectory || entry.name.size() <= suffix.size() || !entry.name.ends_with(suffix)) {
            continue;
        }
        const std::string item = entry.name.substr(0, entry.name.size() - suffix.size());
        struct stat st {};
        if (fstatat(filesFd.get(), item.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT) {
            continue;
        }
        // A young one may belong to a move in progress (claimed, not yet renamed) by another program.
        if (!entry.modified || now - *entry.modified < minimumAge) {
            continue;
        }
        if (unlinkat(infoFd.get(), entry.name.c_str(), 0) != 0 && errno != ENOENT) {
            outcome.failures.push_back(entry.name + ": " + describe(errno));
        } else {
            ++outcome.orphansRemoved;
        }
    }
    outcome.ok = outcome.failures.empty();
    if (!outcome.ok) {
        outcome.reason = summary(outcome);
    }
    return outcome;
}

std::optional<std::string> emptyViaDesktop() {
    if (Process::find("gio").empty()) {
        return std::string("Could not run File Manager Empty Trash");
    }
    const auto result = Process::run({"gio", "trash", "--empty"});
    if (!result.started) {
        return std::string("Could not run File Manager Empty Trash");
    }
    if (result.status == 0 && !result.timedOut) {
        return std::nullopt;
    }
    // gio's own complaint ("gio: ..."), not the session bus's chatter around it.
    std::size_t start = 0;
    while (start < result.error.size()) {
        std::size_t end = result.error.find('\n', start);
        if (end == std::string::npos) {
            end = result.error.size();
        }
        const std::string line = result.error.substr(start, end - start);
        if (line.starts_with("gio: ")) {
            return line.substr(5);
        }
        start = end + 1;
    }
    return std::string("File Manager could not empty Trash");
}

Outcome evictLocalCopy(const std::string&) {
    Outcome outcome;
    outcome.reason = "No cloud document service is available on this system; the local copy was kept";
    return outcome;
}

} // namespace Trash
