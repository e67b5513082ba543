// The helpers every scanner has: the home folder and the sized visible children of a folder.
// children() may run on any scanner thread; it measures the children in parallel and joins.
#pragma once

#include "KestruneCore/Model/CleanupItem.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A place a scanner means to report, with what it knows of it before measuring.
struct Candidate {
    std::string path;
    std::optional<std::string> label;
    std::string inUseBy; // the owning application when it runs
    bool recommended = true;
};

namespace ScannerHelpers {

[[nodiscard]] std::string home();

// One item per visible (not hidden, not a link, not a mount point) direct child at least minBytes large:
// files by their allocated size, folders by a full measurement. Completion order.
[[nodiscard]] std::vector<CleanupItem> children(const std::string& of, std::int64_t minBytes);

// Measures each candidate once, in parallel, and makes one item of each that is at least minBytes large
// (dated by DiskMath::modified). Completion order.
[[nodiscard]] std::vector<CleanupItem> measured(const std::vector<Candidate>& candidates,
                                                std::int64_t minBytes);

// The names of the real folders directly inside `folder` on its own file system: no links, no mount
// points. Hidden names too, since caches and profiles often start with a dot.
[[nodiscard]] std::vector<std::string> subfolders(const std::string& folder);

} // namespace ScannerHelpers
