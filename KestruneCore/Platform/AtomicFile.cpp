#include "KestruneCore/Platform/AtomicFile.h"

#include "KestruneCore/Model/Paths.h"

#include <cerrno>
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
