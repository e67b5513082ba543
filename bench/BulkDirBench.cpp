// Listing speed of the bulk reader, with and without dates, on a folder of 5,000 files.
#include "KestruneCore/Platform/BulkDir.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

const std::string& sampleFolder() {
    static const std::string folder = [] {
        std::string path = std::filesystem::temp_directory_path().string() + "/kestrune-bench-bulkdir";
        std::filesystem::create_directories(path);
        for (int i = 0; i < 5000; ++i) {
            const std::string file = path + "/file-" + std::to_string(i);
            const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            if (fd >= 0) {
                close(fd);
            }
        }
        return path;
    }();
    return folder;
}

void BM_BulkDirRead(benchmark::State& state) {
    const auto options = state.range(0) ? BulkDir::Options::dates : BulkDir::Options::none;
    std::size_t count = 0;
    for (auto _ : state) {
        const auto entries = BulkDir::read(sampleFolder(), options);
        count = entries.size();
        benchmark::DoNotOptimize(entries.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * count));
}
BENCHMARK(BM_BulkDirRead)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace
