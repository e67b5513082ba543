// Collection walks the three roots with the bulk reader. Decoding, the only expensive step, runs on TBB
// tasks over the candidates; results are put back in candidate order before clustering, so what is
// reported does not depend on how the work was split.
#include "KestruneCore/Scanners/SimilarImagesScanner.h"

#include "KestruneCore/Images/Images.h"
#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/BulkDir.h"
#include "KestruneCore/Platform/Home.h"
#include "KestruneCore/Scanners/HashCache.h"

#include <tbb/parallel_for.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <map>

namespace {

const std::unordered_set<std::string>& skippedFolders() {
    static const std::unordered_set<std::string> names{"Library", "node_modules", ".Trash", "Caches"};
    return names;
}

// The text after the last dot of the name, lower-cased; empty when there is none.
std::string lowerExtension(std::string_view name) {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) {
        return {};
    }
    std::string extension(name.substr(dot + 1));
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return extension;
}

void collectImages(const std::string& folder, int depth, std::vector<CleanupItem>& into) {
    if (depth > SimilarImagesScanner::depthLimit || into.size() >= SimilarImagesScanner::maximumCandidates) {
        return;
    }
    for (const BulkEntry& entry : BulkDir::read(folder, BulkDir::Options::dates)) {
        if (into.size() >= SimilarImagesScanner::maximumCandidates) {
            return;
        }
        if (entry.isSymlink || entry.name.starts_with('.')) {
            continue;
        }
        if (entry.isDirectory) {
            if (!skippedFolders().contains(entry.name)) {
                collectImages(Paths::child(folder, entry.name), depth + 1, into);
            }
            continue;
        }
        if (entry.allocSize >= SimilarImagesScanner::minimumBytes &&
            SimilarImagesScanner::extensions().contains(lowerExtension(entry.name))) {
            into.emplace_back(Paths::child(folder, entry.name), entry.allocSize,
                              entry.modified.value_or(Dates::distantPast));
        }
    }
}

} // namespace

const std::unordered_set<std::string>& SimilarImagesScanner::extensions() {
    static const std::unordered_set<std::string> set{"jpg",  "jpeg", "png",  "heic", "heif",
                                                     "tiff", "tif",  "webp", "gif"};
    return set;
}

namespace SimilarImages {

std::vector<CleanupItem> collect(const std::string& home) {
    std::vector<CleanupItem> candidates;
    for (const char* root : {"Pictures", "Desktop", "Downloads"}) {
        if (candidates.size() >= SimilarImagesScanner::maximumCandidates) {
            break;
        }
        collectImages(Paths::child(home, root), 0, candidates);
    }
    return candidates;
}

std::uint64_t averageHash(const std::array<std::uint8_t, 64>& grid) {
    unsigned sum = 0;
    for (const std::uint8_t value : grid) {
        sum += value;
    }
    const unsigned mean = sum / 64;
    std::uint64_t hash = 0;
    for (unsigned i = 0; i < 64; ++i) {
        if (grid[i] >= mean) {
            hash |= std::uint64_t{1} << i;
        }
    }
    return hash;
}

std::vector<Hashed> hashAll(const std::vector<CleanupItem>& candidates) {
    const auto cache = HashCache::shared();
    std::vector<std::optional<Hashed>> slots(candidates.size());
    tbb::parallel_for(std::size_t{0}, candidates.size(), [&](std::size_t index) {
        const CleanupItem& candidate = candidates[index];
        // Cached as "WIDTH HEIGHT HASH", or "-" for an image that does not decode.
        const auto value = HashCache::through(cache.get(), HashCache::Kind::imageHash, candidate.url, [&] {
            const auto examined = Images::examine(candidate.url);
            return std::optional<std::string>(examined ? std::to_string(examined->size.width) + ' ' +
                                                             std::to_string(examined->size.height) + ' ' +
                                                             std::to_string(averageHash(examined->grid))
                                                       : std::string("-"));
        });
        if (!value) {
            return;
        }
        Hashed hashed{candidate, 0, 0, 0};
        const char* at = value->data();
        const char* end = at + value->size();
        for (auto* field : {&hashed.width, &hashed.height}) {
            const auto parsed = std::from_chars(at, end, *field);
            if (parsed.ec != std::errc() || parsed.ptr == end) {
                return; // "-": it does not decode
            }
            at = parsed.ptr + 1;
        }
        if (std::from_chars(at, end, hashed.hash).ec == std::errc()) {
            slots[index] = std::move(hashed);
        }
    });
    if (cache) {
        cache->flush({HashCache::Kind::imageHash});
    }
    std::vector<Hashed> hashed;
    hashed.reserve(candidates.size());
    for (auto& slot : slots) {
        if (slot) {
            hashed.push_back(std::move(*slot));
        }
    }
    return hashed;
}

std::vector<CleanupItem> cluster(const std::vector<Hashed>& hashed) {
    std::map<std::pair<int, int>, std::vector<const Hashed*>> buckets;
    for (const Hashed& member : hashed) {
        buckets[{member.width, member.height}].push_back(&member);
    }
    std::unordered_set<std::string> assigned;
    std::vector<CleanupItem> items;
    for (const auto& [dimensions, bucket] : buckets) {
        if (bucket.size() < 2) {
            continue;
        }
        for (const Hashed* a : bucket) {
            if (assigned.contains(a->candidate.url)) {
                continue;
            }
            std::vector<const Hashed*> members{a};
            for (const Hashed* b : bucket) {
                if (b->candidate.url != a->candidate.url && !assigned.contains(b->candidate.url) &&
                    std::popcount(a->hash ^ b->hash) <= SimilarImagesScanner::similarBits) {
                    members.push_back(b);
                }
            }
            if (members.size() < 2) {
                continue;
            }
            std::stable_sort(members.begin(), members.end(), [](const Hashed* left, const Hashed* right) {
                return left->candidate.modified < right->candidate.modified;
            });
            const std::string kept(Paths::lastComponent(members.front()->candidate.url));
            for (auto member = members.begin() + 1; member != members.end(); ++member) {
                const CleanupItem& m = (*member)->candidate;
                if (assigned.insert(m.url).second) {
                    items.emplace_back(m.url, m.bytes, m.modified, "Similar to " + kept);
                    items.back().keptCopy = members.front()->candidate.url;
                }
            }
            assigned.insert(members.front()->candidate.url);
        }
    }
    return items;
}

} // namespace SimilarImages

std::vector<CleanupItem> SimilarImagesScanner::scan() const {
    const auto candidates = SimilarImages::collect(Platform::homeFolder());
    if (candidates.size() < 2) {
        return {};
    }
    return SimilarImages::cluster(SimilarImages::hashAll(candidates));
}
