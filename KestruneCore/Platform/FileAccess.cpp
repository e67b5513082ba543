// Linux: stat and faccessat with the effective ids, so a process that changed its user is judged as the
// user it now is.
#include "KestruneCore/Platform/FileAccess.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace Platform {

bool exists(const std::string& path, Links links) {
    struct stat sb {};
    return !path.empty() &&
           (links == Links::followed ? stat(path.c_str(), &sb) : lstat(path.c_str(), &sb)) == 0;
}

Presence presenceOf(const std::string& path, Links links) {
    struct stat sb {};
    if (!path.empty() &&
        (links == Links::followed ? stat(path.c_str(), &sb) : lstat(path.c_str(), &sb)) == 0) {
        return Presence::present;
    }
    return path.empty() || errno == ENOENT || errno == ENOTDIR ? Presence::missing : Presence::unknown;
}

std::string linkTarget(const std::string& path) {
    char buffer[PATH_MAX];
    const ssize_t n = readlink(path.c_str(), buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

std::optional<std::string> whyUnreachable(const std::string& path) {
    struct stat sb {};
    if (stat(path.c_str(), &sb) == 0) {
        return std::nullopt;
    }
    return std::string(std::strerror(errno));
}

FileKind kindOf(const std::string& path, Links links) {
    struct stat sb {};
    if (path.empty() ||
        (links == Links::followed ? stat(path.c_str(), &sb) : lstat(path.c_str(), &sb)) != 0) {
        return FileKind::none;
    }
    switch (sb.st_mode & S_IFMT) {
    case S_IFREG:
        return FileKind::file;
    case S_IFDIR:
        return FileKind::folder;
    case S_IFLNK:
        return FileKind::link;
    default:
        return FileKind::other;
    }
}

std::string headOf(const std::string& path, std::size_t count) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        return {};
    }
    std::string head(count, '\0');
    struct stat sb {};
    ssize_t n = -1;
    if (fstat(fd, &sb) == 0 && S_ISREG(sb.st_mode)) {
        n = pread(fd, head.data(), count, 0);
    }
    close(fd);
    head.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return head;
}

std::optional<FileTimes> timesOf(const std::string& path) {
    struct stat sb {};
    if (path.empty() || stat(path.c_str(), &sb) != 0) {
        return std::nullopt;
    }
    const auto time = [](const timespec& t) {
        using namespace std::chrono;
        return system_clock::time_point(
            duration_cast<system_clock::duration>(seconds(t.tv_sec) + nanoseconds(t.tv_nsec)));
    };
    struct statvfs fs {};
    const bool recorded = statvfs(path.c_str(), &fs) == 0 && (fs.f_flag & ST_NOATIME) == 0;
    return FileTimes{time(sb.st_ctim), time(sb.st_atim), recorded};
}

bool isTerminal(Stream stream) {
    return isatty(stream == Stream::input    ? STDIN_FILENO
                  : stream == Stream::output ? STDOUT_FILENO
                                             : STDERR_FILENO) == 1;
}

bool isWritable(const std::string& path) {
    return !path.empty() && faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

bool sameFolder(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

std::optional<std::uint64_t> fileSystemOf(const std::string& path, Links links) {
    struct statx sx {};
    const int flags =
        (links == Links::followed ? 0 : AT_SYMLINK_NOFOLLOW) | AT_NO_AUTOMOUNT | AT_STATX_DONT_SYNC;
    if (path.empty() || statx(AT_FDCWD, path.c_str(), flags, STATX_TYPE, &sx) != 0) {
        return std::nullopt;
    }
    return (static_cast<std::uint64_t>(sx.stx_dev_major) << 32) | sx.stx_dev_minor;
}

bool reachableWithin(const std::string& base, const std::string& path) {
    if (base.empty() || path.size() <= base.size() + 1 || !path.starts_with(base) ||
        path[base.size()] != '/') {
        return false;
    }
    const auto device = fileSystemOf(base, Links::followed);
    if (!device) {
        return false;
    }
    // Each step is one lstat-like call, so a link anywhere below the base is seen as the link it is.
    for (std::size_t at = base.size() + 1; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != '/') {
            continue;
        }
        const std::string prefix = path.substr(0, at);
        struct statx sx {};
        if (statx(AT_FDCWD, prefix.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | AT_STATX_DONT_SYNC,
                  STATX_TYPE, &sx) != 0 ||
            S_ISLNK(sx.stx_mode) ||
            ((static_cast<std::uint64_t>(sx.stx_dev_major) << 32) | sx.stx_dev_minor) != *device) {
            return false;
        }
    }
    return true;
}

} // namespace Platform
