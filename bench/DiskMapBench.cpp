// The disk map's per-redraw work: laying out a full folder of 121 tiles, and shading each of them
// through the reclaim index of a scan with 21 categories x 300 items.
#include "KestruneCore/DiskMap/Treemap.h"
#include "KestruneCore/Model/ReclaimIndex.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>

namespace {

void BM_TreemapLayout121(benchmark::State& state) {
    std::mt19937 random(7);
    std::vector<double> values;
    for (int i = 0; i < 121; ++i) {
        values.push_back(std::exp(std::uniform_real_distribution<double>(0, 12)(random)));
    }
    std::sort(values.begin(), values.end(), std::greater<>());
    for (auto _ : state) {
        auto tiles = Treemap::layout(values, {0, 0, 1200, 800});
        benchmark::DoNotOptimize(tiles.data());
    }
}
BENCHMARK(BM_TreemapLayout121)->Unit(benchmark::kMicrosecond);

std::vector<std::string> folders(std::mt19937& random, std::size_t count) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < count; ++i) {
        std::string path = "/home/u";
        const int depth = 1 + static_cast<int>(random() % 5);
        for (int d = 0; d < depth; ++d) {
            path += "/f" + std::to_string(random() % 12);
        }
        out.push_back(std::move(path));
    }
    return out;
}

void BM_ReclaimIndexFlagged121(benchmark::State& state) {
    std::mt19937 random(42);
    std::vector<CategoryResult> results;
    for (const auto kind : CategoryKinds::allCases()) {
        CategoryResult result{kind, {}};
        for (const auto& path : folders(random, 300)) {
            result.items.emplace_back(path, static_cast<std::int64_t>(random() % 1'000'000),
                                      Dates::distantPast);
        }
        results.push_back(std::move(result));
    }
    const ReclaimIndex index(results);
    const auto tiles = folders(random, 121);
    for (auto _ : state) {
        std::int64_t sum = 0;
        for (const auto& tile : tiles) {
            const auto flagged = index.flagged(tile);
            sum += flagged.safe + flagged.review;
        }
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_ReclaimIndexFlagged121)->Unit(benchmark::kMicrosecond);

void BM_ReclaimIndexBuild(benchmark::State& state) {
    std::mt19937 random(42);
    std::vector<CategoryResult> results;
    for (const auto kind : CategoryKinds::allCases()) {
        CategoryResult result{kind, {}};
        for (const auto& path : folders(random, 300)) {
            result.items.emplace_back(path, static_cast<std::int64_t>(random() % 1'000'000),
                                      Dates::distantPast);
        }
        results.push_back(std::move(result));
    }
    for (auto _ : state) {
        const ReclaimIndex index(results);
        benchmark::DoNotOptimize(index.paths().data());
    }
}
BENCHMARK(BM_ReclaimIndexBuild)->Unit(benchmark::kMicrosecond);

} // namespace
