// The disk map's size tree of one folder or volume: folders listed a few levels deep, everything below
// measured as one block, small entries folded into "Other". build() blocks the calling thread while its
// own worker threads walk; onProgress and isCancelled are called from those workers (and isCancelled
// from the caller too). The finished tree is immutable and may be shared by any threads.
#pragma once

#include "KestruneCore/Model/Uuid.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct DiskNode {
    Uuid id = Uuid::random();    // identity for lists and hover, never part of the content
    std::string url;             // absolute path; "/" as the placeholder of an aggregate
    std::int64_t bytes = 0;      // allocated bytes of the node and everything under it
    bool isDirectory = false;    // also true for folders measured as one block
    bool isAggregate = false;    // only the "Other" node of a folder
    std::int64_t unreadable = 0; // the root of a build only: entries there that could not be read, so
                                 // `bytes` is a lower bound
    // The shown children, largest first, the aggregate (if any) last. Empty for files, measured
    // folders and aggregates.
    std::vector<std::shared_ptr<const DiskNode>> children;

    // "Other" for an aggregate, else the last path component, or the whole path when that is empty ("/").
    [[nodiscard]] std::string name() const;
    [[nodiscard]] const std::string& path() const { return url; }
};

namespace VolumeTree {

// One scope of the disk map.
struct Root {
    std::string id;
    std::string title;
    std::string url;

    bool operator==(const Root&) const = default;
};

struct Options {
    std::int64_t minBytes = 0; // smallest entry that gets a node of its own
    int maxDepth = 0;          // folders are listed entry by entry down to this depth (root's children: 1)
    int maxChildren = 0;       // most children kept per folder before the rest is folded
    int threads = 0;           // worker threads (at least one runs)
};

struct Progress {
    double fraction = 0;    // 0...1, never decreasing within one build; the last report is 1.0
    std::string area;       // label of the top-level folder with the most folders still pending
    int directories = 0;    // folders listed so far
    std::int64_t bytes = 0; // bytes counted so far
};

// "home" (the home folder), "apps" ("/usr", where installed software lives on Linux), "disk" ("/");
// the last two below $KESTRUNE_SYSTEM_ROOT when that is set (Platform::systemFolder).
[[nodiscard]] std::vector<Root> roots();

// The size tree of the folder at `root`, or nothing when `isCancelled` answered true by the end or
// nothing of size was found. Stays on the file system of `root` itself and never follows a link.
// Reports arrive in order (each later one no smaller), at most eight per second plus the final 1.0.
[[nodiscard]] std::shared_ptr<const DiskNode> build(const std::string& root, const Options& options,
                                                    const std::function<void(const Progress&)>& onProgress,
                                                    const std::function<bool()>& isCancelled);

} // namespace VolumeTree

template <> struct std::hash<VolumeTree::Root> {
    std::size_t operator()(const VolumeTree::Root& root) const noexcept {
        const std::hash<std::string> h;
        std::size_t seed = h(root.id);
        seed ^= h(root.title) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
        seed ^= h(root.url) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
        return seed;
    }
};
