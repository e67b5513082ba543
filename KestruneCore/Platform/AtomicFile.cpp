#include "KestruneCore/Platform/AtomicFile.h"

#include "KestruneCore/Model/Paths.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace AtomicFile {
namespace {

bool writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

int read(const std::string& path, std::string& bytes) {
    bytes.clear();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) != 0) {
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int error = errno;
            close(fd);
            return error;
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    return 0;
}

std::optional<std::string> setAside(const std::string& path, const std::string& suffix) {
    std::string target = path + suffix;
    for (int n = 2; n < 10000; ++n) {
        if (renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
            return std::nullopt;
        }
        if (errno != EEXIST) {
            return std::string(std::strerror(errno));
        }
        target = path + suffix + "." + std::to_string(n);
    }
    return std::string("no free name");
}

bool writeDirect(const std::string& path, const std::string& bytes) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    const bool ok = writeAll(fd, bytes) && fsync(fd) == 0;
    const int saved = errno;
    const bool closed = close(fd) == 0;
    if (!ok) {
        errno = saved;
    }
    return ok && closed;
}

bool replace(const std::string& path, const std::string& bytes, const std::string& temporary) {
    if (!writeDirect(temporary, bytes) || rename(temporary.c_str(), path.c_str()) != 0) {
        const int saved = errno;
        unlink(temporary.c_str());
        errno = saved;
        return false;
    }
    std::string folder(Paths::parent(path));
    if (folder.empty()) {
        folder = ".";
    }
    const int dirFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
    return true;
}

bool replace(const std::string& path, const std::string& bytes) {
    return replace(path, bytes, path + ".tmp-" + std::to_string(getpid()));
}

} // namespace AtomicFile
