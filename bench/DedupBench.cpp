// Collapsing a merged scan of 21 categories x 300 items with overlapping folders.
#include "KestruneCore/Scanners/Dedup.h"

#include <benchmark/benchmark.h>
#include <random>

namespace {

std::vector<CategoryResult> sampleResults() {
    std::mt19937 random(42);
    std::vector<CategoryResult> results;
    for (std::size_t c = 0; c < CategoryKinds::count; ++c) {
        CategoryResult result{CategoryKinds::allCases()[c], {}};
        for (int i = 0; i < 300; ++i) {
            // Paths from a shared pool, so categories claim the same folders and folders inside each other.
            std::string path = "/home/u";
            const int depth = 1 + static_cast<int>(random() % 5);
            for (int d = 0; d < depth; ++d) {
                path += "/f" + std::to_string(random() % 12);
            }
            result.items.emplace_back(path, static_cast<std::int64_t>(random() % 1'000'000),
                                      Dates::distantPast);
        }
        results.push_back(std::move(result));
    }
    return results;
}

void BM_DedupCollapse(benchmark::State& state) {
    const auto results = sampleResults();
    for (auto _ : state) {
        auto collapsed = Dedup::collapse(results);
        benchmark::DoNotOptimize(collapsed.data());
    }
}
BENCHMARK(BM_DedupCollapse)->Unit(benchmark::kMillisecond);

} // namespace
