// The printed forms of a scan's categories and items, shared by every command that lists found items.
// Names and paths that are not UTF-8 are written with U+FFFD; the items themselves keep their bytes.
#pragma once

#include "KestruneCore/Model/CleanupItem.h"

#include <nlohmann/json.hpp>

#include <ostream>
#include <string>
#include <vector>

namespace ScanReport {

enum class Listing { topTen, everything };

// {"path", "name", "location", "bytes", "modified"[, "label"]}
[[nodiscard]] nlohmann::json item(const CleanupItem& item);
// {"kind", "title", "safety", "action"[, "command"], "bytes", "items"}
[[nodiscard]] nlohmann::json category(const CategoryResult& result);
// {"home", "seconds", "totalBytes", "categories"}
[[nodiscard]] nlohmann::json document(const std::string& home, double seconds,
                                      const std::vector<CategoryResult>& results);

[[nodiscard]] std::int64_t totalBytes(const std::vector<CategoryResult>& results);

// One block per category (title, size, item count, then its items largest first), a total line last.
void printText(std::ostream& out, const std::vector<CategoryResult>& results, Listing listing);

} // namespace ScanReport
