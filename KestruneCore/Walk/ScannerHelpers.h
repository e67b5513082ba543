// The helpers every scanner has: the home folder and the sized visible children of a folder.
// children() may run on any scanner thread; it measures the children in parallel and joins.
#pragma once

#include "KestruneCore/Model/CleanupItem.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ScannerHelpers {

[[nodiscard]] std::string home();

// One item per visible (not hidden, not a link) direct child at least minBytes large: files by their
// allocated size, folders by a full measurement. Completion order.
[[nodiscard]] std::vector<CleanupItem> children(const std::string& of, std::int64_t minBytes);

} // namespace ScannerHelpers
