// Removes double claims from a merged result list: the first claimant of a path, or of a folder
// around or inside it, keeps it.
#pragma once

#include "KestruneCore/Model/CleanupItem.h"

#include <vector>

namespace Dedup {

[[nodiscard]] std::vector<CategoryResult> collapse(const std::vector<CategoryResult>& results);

} // namespace Dedup
