// Linux: stat and faccessat with the effective ids, so a process that changed its user is judged as the
// user it now is.
#include "KestruneCore/Platform/FileAccess.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

bool exists(const std::string& path) {
    struct stat sb {};
    return !path.empty() && stat(path.c_str(), &sb) == 0;
}

bool isWritable(const std::string& path) {
    return !path.empty() && faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

} // namespace Platform
