// Photos that look alike (re-encodings, resized exports, burst shots) on Desktop, Pictures and
// Downloads: every member of a cluster but the oldest. Stateless; scan() runs on a runner worker thread
// and decodes several images at once on TBB tasks.
#pragma once

#include "KestruneCore/Scanners/Scanner.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_set>

class SimilarImagesScanner final : public Scanner {
public:
    [[nodiscard]] CategoryKind kind() const override { return CategoryKind::similarImages; }
    [[nodiscard]] std::vector<CleanupItem> scan() const override;

    // Lower-cased path extensions of the images considered.
    [[nodiscard]] static const std::unordered_set<std::string>& extensions();

    static constexpr std::size_t maximumCandidates = 2'000;
    static constexpr int depthLimit = 5;
    static constexpr std::int64_t minimumBytes = 100'000;
    static constexpr int similarBits = 8;
};

namespace SimilarImages {

// One decoded candidate: its stored dimensions and its average hash.
struct Hashed {
    CleanupItem candidate;
    int width = 0;
    int height = 0;
    std::uint64_t hash = 0;
};

// The candidates of the home folder's Pictures, then Desktop, then Downloads (the later roots only
// while fewer than the maximum were found), in walk order.
[[nodiscard]] std::vector<CleanupItem> collect(const std::string& home);

// Bit i is set when grey byte i is at least the mean of the 64 (rounded down).
[[nodiscard]] std::uint64_t averageHash(const std::array<std::uint8_t, 64>& grid);

// The candidates that decode, in candidate order (decoded in parallel).
[[nodiscard]] std::vector<Hashed> hashAll(const std::vector<CleanupItem>& candidates);

// Clusters images of equal dimensions around each not yet assigned member A (members within 8 bits of
// A, not transitively); in each cluster the oldest is kept (stable, so A wins ties) and the others are
// reported as "Similar to " + the kept file's name.
[[nodiscard]] std::vector<CleanupItem> cluster(const std::vector<Hashed>& hashed);

} // namespace SimilarImages
