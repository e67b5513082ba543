// Hashing photos for similar-image detection against decoding them whole, over the folder that
// bench/make-images writes (KESTRUNE_BENCH_IMAGES, its home folder). Rates count the whole process's CPU
// time (libvips works on threads of its own), so they are images per second per core and do not depend
// on what else the machine runs; the scanner's own parallel path is measured beside them.
#include "KestruneCore/Images/Images.h"
#include "KestruneCore/Images/JpegLuma.h"
#include "KestruneCore/Scanners/SimilarImagesScanner.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>

namespace {

const std::vector<CleanupItem>& candidates() {
    static const std::vector<CleanupItem> found = [] {
        const char* home = std::getenv("KESTRUNE_BENCH_IMAGES");
        return home == nullptr ? std::vector<CleanupItem>{} : SimilarImages::collect(home);
    }();
    return found;
}

bool ready(benchmark::State& state) {
    if (candidates().empty()) {
        state.SkipWithError("set KESTRUNE_BENCH_IMAGES to a folder written by bench/make-images");
        return false;
    }
    return true;
}

// Runs `work` on every candidate in turn on this thread; it answers whether the file was read.
template <typename Work> void eachImage(benchmark::State& state, Work work, const char* failure) {
    if (!ready(state)) {
        return;
    }
    std::size_t failed = 0;
    for (auto _ : state) {
        for (const auto& item : candidates()) {
            failed += work(item.url) ? 0 : 1;
        }
    }
    if (failed != 0) {
        state.SkipWithError(failure);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * candidates().size()));
}

void BM_ThumbnailHashOneThread(benchmark::State& state) {
    eachImage(
        state,
        [](const std::string& path) {
            const auto grid = Images::greyGrid(path);
            if (grid) {
                benchmark::DoNotOptimize(SimilarImages::averageHash(*grid));
            }
            return grid.has_value();
        },
        "an image failed to hash");
}
BENCHMARK(BM_ThumbnailHashOneThread)->Unit(benchmark::kSecond)->Iterations(3)->MeasureProcessCPUTime();

void BM_FullDecodeOneThread(benchmark::State& state) {
    eachImage(
        state,
        [](const std::string& path) {
            const auto mean = Images::decodeFully(path);
            benchmark::DoNotOptimize(mean);
            return mean.has_value();
        },
        "an image failed to decode");
}
BENCHMARK(BM_FullDecodeOneThread)->Unit(benchmark::kSecond)->Iterations(1)->MeasureProcessCPUTime();

// libjpeg-turbo's own 1/8-scaled greyscale decode, which the hash's DC reader reproduces: the part of
// the speed-up that comes from reading the DC terms directly rather than from shrink-on-load.
void BM_LibjpegEighthScaleOneThread(benchmark::State& state) {
    eachImage(
        state,
        [](const std::string& path) {
            std::ifstream in(path, std::ios::binary | std::ios::ate);
            std::vector<std::uint8_t> file(static_cast<std::size_t>(in.tellg()));
            in.seekg(0);
            in.read(reinterpret_cast<char*>(file.data()), static_cast<std::streamsize>(file.size()));
            JpegLuma::Plane plane;
            const bool decoded =
                JpegLuma::decodeWithLibjpeg(file, plane, Images::maximumPixels) == JpegLuma::Outcome::decoded;
            if (decoded) {
                benchmark::DoNotOptimize(Images::gridFromLuma(plane));
            }
            return decoded;
        },
        "an image failed to decode");
}
BENCHMARK(BM_LibjpegEighthScaleOneThread)->Unit(benchmark::kSecond)->Iterations(1)->MeasureProcessCPUTime();

void BM_HashAllAsTheScannerDoes(benchmark::State& state) {
    if (!ready(state)) {
        return;
    }
    for (auto _ : state) {
        const auto hashed = SimilarImages::hashAll(candidates());
        if (hashed.size() != candidates().size()) {
            state.SkipWithError("an image failed to hash");
        }
        benchmark::DoNotOptimize(hashed.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * candidates().size()));
}
BENCHMARK(BM_HashAllAsTheScannerDoes)->Unit(benchmark::kSecond)->Iterations(3)->MeasureProcessCPUTime();

} // namespace
