// Depth-limited search for folders with given names (node_modules, .build, ...) that never enters the
// large well-known trees where such folders are not worth looking for. Any scanner thread.
#pragma once

#include "KestruneCore/Model/CleanupItem.h"

#include <set>
#include <string>
#include <vector>

namespace PrunedWalk {

// Folder names the search never descends into, unless the name is itself a target.
[[nodiscard]] const std::set<std::string, std::less<>>& excluded();

// One item per non-empty folder named in `targets` with at most maxDepth folders between root and it.
// A target inside a target is not reported. Completion order.
[[nodiscard]] std::vector<CleanupItem> find(const std::set<std::string, std::less<>>& targets,
                                            const std::string& root, int maxDepth);

} // namespace PrunedWalk
