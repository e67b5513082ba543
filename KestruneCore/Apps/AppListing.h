// The uninstaller list's search, orders and short lists, computed here so that the view only shows them.
// Plain functions; any thread.
#pragma once

#include "KestruneCore/Apps/InstalledApp.h"

#include <array>
#include <string_view>
#include <vector>

enum class AppSort { size, leastUsed, name };

namespace AppListing {

inline constexpr std::array<AppSort, 3> allSorts{AppSort::size, AppSort::leastUsed, AppSort::name};
// "Largest", "Least used", "Name".
[[nodiscard]] std::string_view rawValue(AppSort sort);

// The apps whose folded name contains the folded search text (all when it is empty), in `sort` order;
// every order is stable.
[[nodiscard]] std::vector<InstalledApp> filtered(const std::vector<InstalledApp>& apps,
                                                 std::string_view search, AppSort sort);
// Never-opened apps, largest first.
[[nodiscard]] std::vector<InstalledApp> neverOpened(const std::vector<InstalledApp>& apps);
// Apps last used before six calendar months ago (in the local calendar), oldest use first.
[[nodiscard]] std::vector<InstalledApp> stale(const std::vector<InstalledApp>& apps, Date now);
[[nodiscard]] std::int64_t totalBytes(const std::vector<InstalledApp>& apps);

} // namespace AppListing
