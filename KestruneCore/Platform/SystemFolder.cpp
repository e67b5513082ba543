// Linux: there is no /Applications of the system's own, so the folders are usually simply missing; the
// override root lets tests and the command line point them at a prepared tree.
#include "KestruneCore/Platform/SystemFolder.h"

#include "KestruneCore/Model/Paths.h"

#include <cstdlib>

namespace Platform {

std::string systemFolder(std::string_view absolute) {
    const char* root = std::getenv("KESTRUNE_SYSTEM_ROOT");
    if (root == nullptr || root[0] != '/' || absolute.empty() || absolute.front() != '/') {
        return std::string(absolute);
    }
    return Paths::standardized(std::string(root) + std::string(absolute));
}

} // namespace Platform
