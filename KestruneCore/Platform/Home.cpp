// Linux: $HOME, falling back to getpwuid_r.
#include "KestruneCore/Platform/Home.h"

#include "KestruneCore/Model/Paths.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace Platform {

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        return Paths::standardized(home);
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* result = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result != nullptr &&
        result->pw_dir != nullptr && result->pw_dir[0] == '/') {
        return Paths::standardized(result->pw_dir);
    }
    return "/";
}

} // namespace Platform
