// Only paths that exist are measured, each once, in parallel; an item is always the whole folder (or
// file), never its contents. A profile folder that is missing rules out its whole row: the profile
// itself is never an item.
#include "KestruneCore/Scanners/CacheScanners.h"

#include "KestruneCore/Model/DiskMath.h"
#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/FileAccess.h"

#include <mutex>
#include <tbb/parallel_for.h>

namespace {

std::vector<CleanupItem> measured(const std::vector<std::string>& candidates, std::int64_t floorBytes) {
    std::vector<CleanupItem> items;
    if (candidates.empty()) {
        return items;
    }
    std::mutex lock;
    tbb::parallel_for(std::size_t{0}, candidates.size(), [&](std::size_t i) {
        const std::string& path = candidates[i];
        const std::int64_t bytes = DiskMath::size(path);
        if (bytes >= floorBytes) {
            CleanupItem item(path, bytes, DiskMath::modified(path));
            const std::lock_guard guard(lock);
            items.push_back(std::move(item));
        }
    });
    return items;
}

} // namespace

const std::vector<CacheSpec>& PackageCacheScanner::specs() {
    static const std::vector<CacheSpec> table{
        {"npm", {".npm/_cacache"}},
        {"pnpm", {".local/share/pnpm/store", "Library/pnpm/store"}},
        {"Yarn", {"Library/Caches/Yarn", ".yarn/berry/cache"}},
        {"Bun", {".bun/install/cache"}},
        {"pip", {"Library/Caches/pip", ".cache/pip"}},
        {"uv", {".cache/uv"}},
        {"Cargo", {".cargo/registry", ".cargo/git"}},
        {"Go", {"go/pkg/mod/cache", "Library/Caches/go-build"}},
        {"Maven", {".m2/repository"}},
        {"Gradle", {".gradle/caches"}},
        {"CocoaPods", {"Library/Caches/CocoaPods"}},
        {"SwiftPM", {"Library/Caches/org.swift.swiftpm"}},
        {"Homebrew", {"Library/Caches/Homebrew"}},
        {"Conda", {"anaconda3/pkgs", "miniconda3/pkgs", "miniforge3/pkgs"}},
        {"Composer", {".composer/cache", ".cache/composer"}},
        {"NuGet", {".nuget/packages"}},
    };
    return table;
}

const std::vector<AppCacheSpec>& AppCacheScanner::specs() {
    static const std::vector<AppCacheSpec> table{
        {"Chrome",
         "Library/Application Support/Google/Chrome",
         {"Default/Cache", "Default/Code Cache", "Default/GPUCache", "Default/Service Worker/CacheStorage",
          "ShaderCache", "GrShaderCache"}},
        {"Chrome", "Library/Caches/Google/Chrome", {""}},
        {"Brave",
         "Library/Application Support/BraveSoftware/Brave-Browser",
         {"Default/Cache", "Default/Code Cache", "Default/GPUCache"}},
        {"Firefox", "Library/Caches/Firefox", {""}},
        {"Safari", "Library/Caches/com.apple.Safari", {""}},
        {"Slack",
         "Library/Application Support/Slack",
         {"Cache", "Code Cache", "GPUCache", "Service Worker/CacheStorage"}},
        {"VS Code",
         "Library/Application Support/Code",
         {"Cache", "CachedData", "Code Cache", "GPUCache", "CachedExtensionVSIXs"}},
        {"Cursor", "Library/Application Support/Cursor", {"Cache", "CachedData", "Code Cache", "GPUCache"}},
        {"Spotify", "Library/Application Support/Spotify", {"PersistentCache"}},
        {"Discord", "Library/Application Support/discord", {"Cache", "Code Cache", "GPUCache"}},
        {"Teams", "Library/Application Support/Microsoft/Teams", {"Cache", "Code Cache", "GPUCache"}},
        {"JetBrains", "Library/Caches/JetBrains", {""}},
    };
    return table;
}

std::vector<CleanupItem> PackageCacheScanner::scan() const {
    const std::string root = home();
    std::vector<std::string> candidates;
    for (const auto& spec : specs()) {
        for (const auto& path : spec.paths) {
            std::string candidate = Paths::child(root, path);
            if (Platform::exists(candidate)) {
                candidates.push_back(std::move(candidate));
            }
        }
    }
    return measured(candidates, floorBytes);
}

std::vector<CleanupItem> AppCacheScanner::scan() const {
    const std::string root = home();
    std::vector<std::string> candidates;
    for (const auto& spec : specs()) {
        const std::string base = Paths::child(root, spec.profile);
        if (!Platform::exists(base)) {
            continue;
        }
        for (const auto& subpath : spec.subpaths) {
            std::string candidate = subpath.empty() ? base : Paths::child(base, subpath);
            if (Platform::exists(candidate)) {
                candidates.push_back(std::move(candidate));
            }
        }
    }
    return measured(candidates, floorBytes);
}
