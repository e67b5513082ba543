// The uninstaller's inventory on a home with 200 applications: 120 AppImages with menu entries and
// settings, 60 programs installed by hand with desktop entries, 20 bundles in the system folder, and
// 600 unrelated entries in the settings and cache folders the support-file search lists.
#include "KestruneCore/Apps/AppInventory.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

void write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

struct AppsHome {
    fs::path root;

    AppsHome() {
        char pattern[] = "/tmp/kestrune-apps-bench-XXXXXX";
        root = mkdtemp(pattern);
        setenv("HOME", root.c_str(), 1);
        setenv("XDG_DATA_HOME", (root / ".local/share").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root / ".config").c_str(), 1);
        setenv("XDG_CACHE_HOME", (root / ".cache").c_str(), 1);
        setenv("XDG_STATE_HOME", (root / ".local/state").c_str(), 1);
        setenv("KESTRUNE_SYSTEM_ROOT", (root / "system").c_str(), 1);
        std::ifstream in("/bin/sleep", std::ios::binary);
        std::string elf((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        elf[8] = 'A';
        elf[9] = 'I';
        elf[10] = 2;
        for (int i = 0; i < 200; ++i) {
            const std::string name = "App" + std::to_string(i);
            if (i < 120) {
                const fs::path image = root / "Applications" / (name + ".AppImage");
                write(image, elf);
                write(root / ".local/share/applications" / (name + ".desktop"),
                      "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + image.string() +
                          " %U\n");
            } else if (i < 180) {
                const fs::path program = root / "opt" / name / "run.sh";
                write(program, "#!/bin/sh\n" + std::string(20'000, '#') + "\n");
                write(root / ".local/share/applications" / ("org.example." + name + ".desktop"),
                      "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + program.string() +
                          "\n");
            } else {
                const fs::path bundle = root / "system/Applications" / (name + ".app");
                write(bundle / "Contents/Info.plist",
                      "<?xml version=\"1.0\"?><plist "
                      "version=\"1.0\"><dict><key>CFBundleIdentifier</key><string>com."
                      "example." +
                          name + "</string></dict></plist>");
                for (int f = 0; f < 20; ++f) {
                    write(bundle / "Contents/Resources" / ("r" + std::to_string(f)), std::string(8192, 'r'));
                }
            }
            write(root / ".config" / name / "settings.json", "{}");
            write(root / ".cache" / name / "blob", std::string(4096, 'c'));
        }
        for (int i = 0; i < 200; ++i) {
            for (const char* folder : {".config", ".local/share", ".cache"}) {
                write(root / folder / ("other-" + std::to_string(i)) / "x", "x");
            }
        }
    }
    ~AppsHome() { fs::remove_all(root); }
};

AppsHome& home() {
    static AppsHome h;
    return h;
}

void BM_Installed200(benchmark::State& state) {
    (void)home();
    std::size_t count = 0;
    for (auto _ : state) {
        auto apps = AppInventory::installed();
        count = apps.size();
        benchmark::DoNotOptimize(apps);
    }
    state.counters["apps"] = double(count);
}
BENCHMARK(BM_Installed200)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SupportFilesOfOneApp(benchmark::State& state) {
    (void)home();
    const auto apps = AppInventory::installed();
    std::size_t count = 0;
    for (auto _ : state) {
        auto files = AppInventory::leftovers(apps.front(), apps);
        count = files.size();
        benchmark::DoNotOptimize(files);
    }
    state.counters["files"] = double(count);
}
BENCHMARK(BM_SupportFilesOfOneApp)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
