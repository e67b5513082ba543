// How many bytes of the last scan's reclaimable items lie at or under a folder, split into safe and
// review bytes, in three binary searches. Immutable once built; any thread may query it.
#pragma once

#include "KestruneCore/Model/CleanupItem.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class ReclaimIndex {
public:
    struct Flagged {
        std::int64_t safe = 0;
        std::int64_t review = 0;

        bool operator==(const Flagged&) const = default;
    };

    ReclaimIndex() = default;
    // Items of categories whose action cannot be selected (the advise-only ones) are left out entirely.
    explicit ReclaimIndex(const std::vector<CategoryResult>& results);

    [[nodiscard]] bool isEmpty() const { return paths_.empty(); }
    // The bytes of the indexed items whose path equals `under` or lies inside it ("/a/bc" is not
    // inside "/a/b").
    [[nodiscard]] Flagged flagged(std::string_view under) const;

    // Sorted in byte order, which is Unicode scalar order for UTF-8 names.
    [[nodiscard]] const std::vector<std::string>& paths() const { return paths_; }
    // Prefix sums, one longer than paths(): sums[j] - sums[i] is the total of paths()[i..<j].
    [[nodiscard]] const std::vector<std::int64_t>& safeSums() const { return safeSums_; }
    [[nodiscard]] const std::vector<std::int64_t>& reviewSums() const { return reviewSums_; }

private:
    [[nodiscard]] std::optional<std::size_t> index(std::string_view path) const;
    [[nodiscard]] std::size_t lowerBound(std::string_view path) const;
    // The smallest string above every string that begins with `s`; nothing when there is none.
    [[nodiscard]] static std::optional<std::string> bumped(std::string_view s);

    std::vector<std::string> paths_;
    std::vector<std::int64_t> safeSums_{0};
    std::vector<std::int64_t> reviewSums_{0};
};
