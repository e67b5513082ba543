// Candidates are collected by a sequential walk of bulk reads, then measured in parallel.
#include "KestruneCore/Walk/PrunedWalk.h"

#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/BulkDir.h"
#include "KestruneCore/Walk/DiskMeasure.h"

#include <mutex>
#include <tbb/parallel_for.h>

namespace PrunedWalk {
namespace {

void walk(const std::string& path, int depth, const std::set<std::string, std::less<>>& targets, int maxDepth,
          std::vector<std::string>& candidates) {
    if (depth > maxDepth) {
        return;
    }
    for (const auto& entry : BulkDir::read(path)) {
        if (!entry.isDirectory || entry.isSymlink) {
            continue;
        }
        std::string child = Paths::child(path, entry.name);
        if (targets.contains(entry.name)) {
            candidates.push_back(std::move(child));
        } else if (excluded().contains(entry.name) || entry.name.front() == '.') {
            continue;
        } else {
            walk(child, depth + 1, targets, maxDepth, candidates);
        }
    }
}

} // namespace

const std::set<std::string, std::less<>>& excluded() {
    static const std::set<std::string, std::less<>> names{
        "Library", "Applications", "Pictures", "Music",       "Movies", ".Trash",
        ".git",    "node_modules", ".build",   "DerivedData", ".npm",   ".cargo",
        ".gradle", ".m2",          "go",       ".cache",      ".local"};
    return names;
}

std::vector<CleanupItem> find(const std::set<std::string, std::less<>>& targets, const std::string& root,
                              int maxDepth) {
    std::vector<std::string> candidates;
    walk(root, 0, targets, maxDepth, candidates);
    std::vector<CleanupItem> items;
    if (candidates.empty()) {
        return items;
    }
    std::mutex lock;
    tbb::parallel_for(std::size_t{0}, candidates.size(), [&](std::size_t i) {
        const std::int64_t bytes = DiskMath::size(candidates[i]);
        if (bytes >= 1) {
            CleanupItem item(candidates[i], bytes, DiskMath::modified(candidates[i]));
            const std::lock_guard guard(lock);
            items.push_back(std::move(item));
        }
    });
    return items;
}

} // namespace PrunedWalk
