// A regular file opened for reading, for the readers that hash or decode file contents. Opened without
// blocking, so a FIFO or device put in a file's place never holds a scan; anything but a regular file is
// refused. One thread at a time per object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Platform {

class RegularFile {
public:
    enum class Links { notFollowed, followed };
    enum class Access { random, sequential };

    RegularFile(const std::string& path, Links links, Access access = Access::random);
    ~RegularFile();
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;

    // False when nothing could be opened or it is not a regular file.
    [[nodiscard]] bool valid() const { return fd >= 0; }
    // The file's length now; -1 on an error.
    [[nodiscard]] std::int64_t length() const;
    // Up to `size` bytes at `offset` into `buffer`, fewer only where the file ends; -1 on an error before
    // any byte was read.
    [[nodiscard]] std::int64_t readAt(void* buffer, std::size_t size, std::int64_t offset) const;

private:
    int fd = -1;
};

} // namespace Platform
