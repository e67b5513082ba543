// What a hostile JPEG of the largest size read whole (64 MiB) costs the JPEG reader: each file is
// written to a temporary folder and examined as the similar-images scanner does. Run one case per
// process (--benchmark_filter) to read its peak resident memory: the counters give the process's
// resident memory before the file is examined and its peak after (both including the benchmark
// library), so their difference is what examining the file took, its own 64 MiB in memory included.
#include "KestruneCore/Images/Images.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t fileSize = 64 * 1024 * 1024;

// Every block of a file with these tables is two bits, the fewest there can be: a one-bit DC code of
// size 0 and a one-bit end-of-block. With `longBlocks` the AC table's one code is a coefficient of
// size 1 instead, so a block of zero bits runs to its 63rd coefficient: 127 bits.
Bytes header(int width, int height, int restartInterval, bool longBlocks) {
    Bytes b = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43, 0x00};
    b.insert(b.end(), 64, 1);
    const Bytes frame = {0xFF,
                         0xC0,
                         0x00,
                         0x0B,
                         0x08,
                         static_cast<std::uint8_t>(height >> 8),
                         static_cast<std::uint8_t>(height),
                         static_cast<std::uint8_t>(width >> 8),
                         static_cast<std::uint8_t>(width),
                         0x01,
                         0x01,
                         0x11,
                         0x00};
    b.insert(b.end(), frame.begin(), frame.end());
    for (const std::uint8_t table : {0x00, 0x10}) {
        const Bytes dht = {0xFF, 0xC4, 0x00, 0x14, table, 0x01};
        b.insert(b.end(), dht.begin(), dht.end());
        b.insert(b.end(), 15, 0);
        b.push_back(table == 0x10 && longBlocks ? 0x01 : 0x00);
    }
    if (restartInterval != 0) {
        const Bytes dri = {0xFF,
                           0xDD,
                           0x00,
                           0x04,
                           static_cast<std::uint8_t>(restartInterval >> 8),
                           static_cast<std::uint8_t>(restartInterval)};
        b.insert(b.end(), dri.begin(), dri.end());
    }
    const Bytes scan = {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00};
    b.insert(b.end(), scan.begin(), scan.end());
    return b;
}

// Appends `pattern` over and over, then the end-of-image marker, to make a file of exactly fileSize
// bytes (a whole number of patterns, the rest zero bytes before the marker).
void fill(Bytes& file, const Bytes& pattern) {
    while (file.size() + pattern.size() <= fileSize - 2) {
        file.insert(file.end(), pattern.begin(), pattern.end());
    }
    file.resize(fileSize - 2, 0);
}

void finish(Bytes& file) {
    file.push_back(0xFF);
    file.push_back(0xD9);
}

// The largest picture the scanner reads: 65,500 x 3,816 is just under 250 million pixels.
constexpr int hugeWidth = 65500;
constexpr int hugeHeight = 3816;

enum Case {
    restartMarkers,  // nothing but restart markers after the header
    stuffedZeros,    // nothing but FF 00: every bit is a code no table holds
    hugeButTiny,     // the largest picture in 4 KiB of data
    manyIntervals,   // an interval of four MCUs in every three bytes, far more than the picture holds
    halfThenStuffed, // good data to halfway, where the second run starts, then FF 00
    smallestBlocks,  // two-bit blocks, far more than the picture holds
    noEndMarker,     // the largest picture in 127-bit blocks, the data ending with the file's last bit
};

Bytes hostile(Case kind) {
    Bytes file;
    switch (kind) {
    case restartMarkers:
        file = header(4032, 3024, 1, false);
        fill(file, {0xFF, 0xD0, 0xFF, 0xD1, 0xFF, 0xD2, 0xFF, 0xD3, 0xFF, 0xD4, 0xFF, 0xD5, 0xFF, 0xD6, 0xFF,
                    0xD7});
        break;
    case stuffedZeros:
        file = header(4032, 3024, 0, false);
        fill(file, {0xFF, 0x00});
        break;
    case hugeButTiny:
        file = header(hugeWidth, hugeHeight, 0, false);
        file.resize(file.size() + 4096, 0);
        finish(file);
        return file;
    case manyIntervals:
        file = header(hugeWidth, hugeHeight, 4, false);
        fill(file, {0x00, 0xFF, 0xD0, 0x00, 0xFF, 0xD1, 0x00, 0xFF, 0xD2, 0x00, 0xFF, 0xD3,
                    0x00, 0xFF, 0xD4, 0x00, 0xFF, 0xD5, 0x00, 0xFF, 0xD6, 0x00, 0xFF, 0xD7});
        break;
    case halfThenStuffed:
        file = header(hugeWidth, hugeHeight, 0, true);
        file.resize(file.size() + fileSize / 2, 0);
        fill(file, {0xFF, 0x00});
        break;
    case smallestBlocks:
        file = header(hugeWidth, hugeHeight, 0, false);
        fill(file, {0x00});
        break;
    case noEndMarker: {
        // Where the last block ends decides the outcome only by how far libjpeg-turbo reads ahead, which
        // the reader then follows code by code over all the data.
        file = header(hugeWidth, hugeHeight, 0, true);
        const std::uint64_t blocks = std::uint64_t{(hugeWidth + 7) / 8} * ((hugeHeight + 7) / 8);
        file.resize(file.size() + (blocks * 127 + 7) / 8, 0);
        return file;
    }
    }
    finish(file);
    return file;
}

std::int64_t residentKiB() {
    std::ifstream statm("/proc/self/statm");
    std::int64_t size = 0;
    std::int64_t resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

void BM_HostileJpeg(benchmark::State& state) {
    char folder[] = "/tmp/kestrune-hostile-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::string path = std::string(folder) + "/hostile.jpg";
    {
        const Bytes file = hostile(static_cast<Case>(state.range(0)));
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    }
    const std::int64_t before = residentKiB();
    bool read = false;
    for (auto _ : state) {
        read = Images::examine(path).has_value();
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["read"] = read ? 1 : 0;
    state.counters["rss_before_MiB"] = static_cast<double>(before) / 1024;
    state.counters["peak_rss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024;
    std::remove(path.c_str());
    rmdir(folder);
}
BENCHMARK(BM_HostileJpeg)
    ->ArgName("case")
    ->DenseRange(restartMarkers, noEndMarker)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

} // namespace
