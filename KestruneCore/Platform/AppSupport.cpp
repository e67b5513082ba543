// Linux: the XDG data folder and uname.
#include "KestruneCore/Platform/AppSupport.h"

#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/Home.h"

#include <cstdlib>
#include <sys/utsname.h>

namespace Platform {

std::string applicationSupportFolder() {
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && data[0] == '/') {
        return Paths::standardized(data);
    }
    return Paths::child(homeFolder(), ".local/share");
}

std::string operatingSystemLine() {
    utsname name{};
    if (uname(&name) != 0) {
        return "Linux: ? / ?";
    }
    // The release reads "6.1.0-18-amd64"; the version triple is its leading part.
    std::string release = name.release;
    const auto end = release.find_first_not_of("0123456789.");
    if (end != std::string::npos) {
        release.resize(end);
    }
    return std::string(name.sysname) + ": " + release + " / " + name.machine;
}

} // namespace Platform
