// Linux: statvfs of the home folder.
#include "KestruneCore/Platform/Volume.h"

#include "KestruneCore/Platform/Home.h"

#include <sys/statvfs.h>

namespace Platform {
namespace {

bool readVolume(struct statvfs& info) {
    return statvfs(homeFolder().c_str(), &info) == 0;
}

} // namespace

std::int64_t availableBytes() {
    struct statvfs info {};
    if (!readVolume(info)) {
        return 0;
    }
    return static_cast<std::int64_t>(info.f_bavail) * static_cast<std::int64_t>(info.f_frsize);
}

std::int64_t totalBytes() {
    struct statvfs info {};
    if (!readVolume(info)) {
        return 0;
    }
    return static_cast<std::int64_t>(info.f_blocks) * static_cast<std::int64_t>(info.f_frsize);
}

} // namespace Platform
