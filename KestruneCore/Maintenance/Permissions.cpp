// The Linux answer: no privacy database stands between the program and the user's files.
#include "KestruneCore/Maintenance/Permissions.h"

namespace Permissions {

bool hasFullDiskAccess() {
    return true;
}

std::string fullDiskAccessSettingsURL() {
    return "";
}

} // namespace Permissions
