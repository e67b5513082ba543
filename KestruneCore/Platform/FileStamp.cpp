// Linux: statx without following links; contents read in 256 KiB blocks through O_NOFOLLOW descriptors.
#include "KestruneCore/Platform/FileStamp.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace Platform {
namespace {

class Descriptor {
public:
    explicit Descriptor(int fd) : fd(fd) {}
    ~Descriptor() {
        if (fd >= 0) {
            close(fd);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    [[nodiscard]] int get() const { return fd; }

private:
    int fd;
};

// Fills as much of `buffer` as the file still holds; -1 on a read error.
ssize_t readFull(int fd, char* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = read(fd, buffer + done, size - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

} // namespace

bool FileStamp::unchangedIn(const FileStamp& now) const {
    if (type != now.type || device != now.device || inode != now.inode) {
        return false;
    }
    return type == Type::folder || (size == now.size && modified == now.modified);
}

std::optional<FileStamp> stampOf(const std::string& path) {
    struct statx sx {};
    if (statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT,
              STATX_TYPE | STATX_SIZE | STATX_MTIME | STATX_INO, &sx) != 0) {
        return std::nullopt;
    }
    FileStamp stamp;
    switch (sx.stx_mode & S_IFMT) {
    case S_IFREG:
        stamp.type = FileStamp::Type::file;
        break;
    case S_IFDIR:
        stamp.type = FileStamp::Type::folder;
        break;
    case S_IFLNK:
        stamp.type = FileStamp::Type::link;
        break;
    default:
        stamp.type = FileStamp::Type::other;
        break;
    }
    stamp.size = static_cast<std::int64_t>(sx.stx_size);
    stamp.modified = static_cast<std::int64_t>(sx.stx_mtime.tv_sec) * 1'000'000'000 + sx.stx_mtime.tv_nsec;
    stamp.device = (static_cast<std::uint64_t>(sx.stx_dev_major) << 32) | sx.stx_dev_minor;
    stamp.inode = sx.stx_ino;
    return stamp;
}

Contents compareContents(const std::string& a, const std::string& b) {
    const Descriptor left(open(a.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    const Descriptor right(open(b.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat sl {};
    struct stat sr {};
    if (left.get() < 0 || right.get() < 0 || fstat(left.get(), &sl) != 0 || fstat(right.get(), &sr) != 0 ||
        !S_ISREG(sl.st_mode) || !S_ISREG(sr.st_mode)) {
        return Contents::unreadable;
    }
    if (sl.st_size != sr.st_size) {
        return Contents::different;
    }
    constexpr std::size_t blockSize = 256 * 1024;
    const auto buffers = std::make_unique<char[]>(2 * blockSize);
    char* one = buffers.get();
    char* two = one + blockSize;
    for (;;) {
        const ssize_t n = readFull(left.get(), one, blockSize);
        const ssize_t m = readFull(right.get(), two, blockSize);
        if (n < 0 || m < 0) {
            return Contents::unreadable;
        }
        if (n != m || std::memcmp(one, two, static_cast<std::size_t>(n)) != 0) {
            return Contents::different;
        }
        if (n == 0) {
            return Contents::same;
        }
    }
}

} // namespace Platform
