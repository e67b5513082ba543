// An exclusive advisory lock on a file (flock), shared by every process of the user that opens the same
// lock file: the app and kestrune-cli serialise their audit-log writes and their reclaims with it.
// A lock belongs to the thread that took it until it is destroyed or moved away.
#pragma once

#include <string>

namespace Platform {

class FileLock {
public:
    enum class Wait { no, yes };

    // Creates the lock file (and its folder) when missing. With Wait::no a lock held elsewhere leaves
    // this one not held and busy().
    [[nodiscard]] static FileLock take(const std::string& path, Wait wait);

    FileLock() = default;
    ~FileLock();
    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    [[nodiscard]] bool held() const { return fd >= 0; }
    [[nodiscard]] bool busy() const { return busy_; }
    // Why the lock could not be taken (empty when held or merely busy).
    [[nodiscard]] const std::string& error() const { return error_; }

private:
    int fd = -1;
    bool busy_ = false;
    std::string error_;
};

} // namespace Platform
