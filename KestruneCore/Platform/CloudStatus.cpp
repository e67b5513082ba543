// Linux: no cloud document service exists, so every query answers that nothing can be read.
#include "KestruneCore/Platform/CloudStatus.h"

namespace Platform {

std::shared_ptr<const CloudStatus> cloudStatus() {
    static const std::shared_ptr<const CloudStatus> unavailable = std::make_shared<UnavailableCloudStatus>();
    return unavailable;
}

} // namespace Platform
