// Paths are kept sorted with prefix sums beside them, so the items inside a folder are one contiguous
// run found by two lower bounds; a third finds the folder itself when it is an item.
#include "KestruneCore/Model/ReclaimIndex.h"

#include "KestruneCore/Model/Paths.h"

#include <algorithm>

namespace {

struct Entry {
    std::string path;
    std::int64_t bytes = 0;
    bool safe = false;
};

} // namespace

ReclaimIndex::ReclaimIndex(const std::vector<CategoryResult>& results) {
    std::vector<Entry> entries;
    for (const auto& result : results) {
        if (!CategoryKinds::action(result.kind).isSelectable()) {
            continue;
        }
        const bool safe = CategoryKinds::safety(result.kind) == Safety::safe;
        for (const auto& item : result.items) {
            entries.push_back({Paths::standardized(item.url), item.bytes, safe});
        }
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return a.path < b.path; });
    // An item is identified by its path: one reported twice would otherwise count twice under its
    // folder and once for itself. The first report (the earlier category) is the one that stays.
    entries.erase(std::unique(entries.begin(), entries.end(),
                              [](const Entry& a, const Entry& b) { return a.path == b.path; }),
                  entries.end());

    paths_.reserve(entries.size());
    safeSums_.reserve(entries.size() + 1);
    reviewSums_.reserve(entries.size() + 1);
    for (auto& entry : entries) {
        safeSums_.push_back(safeSums_.back() + (entry.safe ? entry.bytes : 0));
        reviewSums_.push_back(reviewSums_.back() + (entry.safe ? 0 : entry.bytes));
        paths_.push_back(std::move(entry.path));
    }
}

std::size_t ReclaimIndex::lowerBound(std::string_view path) const {
    return static_cast<std::size_t>(
        std::lower_bound(paths_.begin(), paths_.end(), path,
                         [](const std::string& element, std::string_view value) { return element < value; }) -
        paths_.begin());
}

std::optional<std::size_t> ReclaimIndex::index(std::string_view path) const {
    const std::size_t at = lowerBound(path);
    if (at < paths_.size() && paths_[at] == path) {
        return at;
    }
    return std::nullopt;
}

std::optional<std::string> ReclaimIndex::bumped(std::string_view s) {
    // Bytes compare unsigned, so the successor raises the last byte that is not already 0xFF ("/"
    // becomes "0") and drops the 0xFF bytes after it.
    std::string result(s);
    while (!result.empty()) {
        auto& last = reinterpret_cast<unsigned char&>(result.back());
        if (last != 0xFF) {
            ++last;
            return result;
        }
        result.pop_back();
    }
    return std::nullopt;
}

ReclaimIndex::Flagged ReclaimIndex::flagged(std::string_view under) const {
    if (paths_.empty()) {
        return {};
    }
    // "/a/b/" names the same folder as "/a/b"; without this the item at /a/b itself would be missed.
    const std::string path = Paths::standardized(under);
    const std::string prefix = path.ends_with('/') ? path : path + "/";
    const std::size_t lo = lowerBound(prefix);
    const auto upper = bumped(prefix);
    const std::size_t hi = upper ? lowerBound(*upper) : paths_.size();
    Flagged sum;
    if (lo < hi) {
        sum = {safeSums_[hi] - safeSums_[lo], reviewSums_[hi] - reviewSums_[lo]};
    }
    // The folder's own item sorts before the prefix, but not necessarily right before it: "/a/b-2"
    // and "/a/b.txt" lie between "/a/b" and "/a/b/". Widening the run down to it would count them, so
    // the item is added on its own.
    if (const auto self = index(path); self && (*self < lo || *self >= hi)) {
        sum.safe += safeSums_[*self + 1] - safeSums_[*self];
        sum.review += reviewSums_[*self + 1] - reviewSums_[*self];
    }
    return sum;
}
