#include "KestruneCore/Platform/FileKey.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr unsigned statMask = STATX_TYPE | STATX_INO | STATX_SIZE | STATX_MTIME | STATX_CTIME;

std::optional<FileKey> keyOf(const struct statx& sx) {
    if ((sx.stx_mask & statMask) != statMask || (sx.stx_mode & S_IFMT) != S_IFREG) {
        return std::nullopt;
    }
    const auto ns = [](const struct statx_timestamp& t) {
        return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
    };
    return FileKey{(static_cast<std::uint64_t>(sx.stx_dev_major) << 32) | sx.stx_dev_minor, sx.stx_ino,
                   static_cast<std::int64_t>(sx.stx_size), ns(sx.stx_mtime), ns(sx.stx_ctime)};
}

} // namespace

std::optional<FileKey> FileKey::of(const std::string& path) {
    struct statx sx {};
    if (statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, statMask, &sx) != 0) {
        return std::nullopt;
    }
    return keyOf(sx);
}

std::optional<FileKey> FileKey::ofDescriptor(int fd) {
    struct statx sx {};
    if (fd < 0 || statx(fd, "", AT_EMPTY_PATH, statMask, &sx) != 0) {
        return std::nullopt;
    }
    return keyOf(sx);
}

namespace Platform {

bool makePrivateFolders(const std::string& path) {
    for (std::size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1)) {
        ::mkdir(path.substr(0, at).c_str(), 0700);
    }
    ::mkdir(path.c_str(), 0700);
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void createPrivateFile(const std::string& path) {
    if (const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600); fd >= 0) {
        ::close(fd);
    }
}

void discardOwnFile(const std::string& path) {
    ::unlink(path.c_str());
}

} // namespace Platform
