#include "KestruneCore/Platform/FileLock.h"

#include "KestruneCore/Model/Paths.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

FileLock FileLock::take(const std::string& path, Wait wait) {
    FileLock lock;
    const std::string folder(Paths::parent(path));
    for (std::size_t i = 1; i <= folder.size(); ++i) {
        if (i == folder.size() || folder[i] == '/') {
            mkdir(folder.substr(0, i).c_str(), 0755);
        }
    }
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        lock.error_ = "Could not open the lock file " + path + ": " + std::strerror(errno);
        return lock;
    }
    const int operation = wait == Wait::yes ? LOCK_EX : LOCK_EX | LOCK_NB;
    int result;
    while ((result = flock(fd, operation)) != 0 && errno == EINTR) {
    }
    if (result != 0) {
        if (errno == EWOULDBLOCK) {
            lock.busy_ = true;
        } else {
            lock.error_ = "Could not lock " + path + ": " + std::strerror(errno);
        }
        close(fd);
        return lock;
    }
    lock.fd = fd;
    return lock;
}

FileLock::~FileLock() {
    if (fd >= 0) {
        close(fd);
    }
}

FileLock::FileLock(FileLock&& other) noexcept
    : fd(other.fd), busy_(other.busy_), error_(std::move(other.error_)) {
    other.fd = -1;
}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        if (fd >= 0) {
            close(fd);
        }
        fd = other.fd;
        busy_ = other.busy_;
        error_ = std::move(other.error_);
        other.fd = -1;
    }
    return *this;
}

} // namespace Platform
