#include "KestruneCore/Platform/RegularFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

RegularFile::RegularFile(const std::string& path, Links links, Access access)
    : fd(::open(path.c_str(),
                O_RDONLY | O_CLOEXEC | O_NONBLOCK | (links == Links::followed ? 0 : O_NOFOLLOW))) {
    struct stat st {};
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        ::close(fd);
        fd = -1;
    }
    if (fd >= 0 && access == Access::sequential) {
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    }
}

RegularFile::~RegularFile() {
    if (fd >= 0) {
        ::close(fd);
    }
}

std::int64_t RegularFile::length() const {
    struct stat st {};
    return fd >= 0 && ::fstat(fd, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}

std::int64_t RegularFile::readAt(void* buffer, std::size_t size, std::int64_t offset) const {
    auto* bytes = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, bytes + done, size - done,
                                  static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return done > 0 ? static_cast<std::int64_t>(done) : -1;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(done);
}

} // namespace Platform
