// The table-driven scanners of caches at known places: package managers' download caches, and the
// cache folders inside browser, chat and editor profiles, at their macOS and their Linux (XDG) places.
// Stateless; scan() runs on a runner worker thread, several at once.
#pragma once

#include "KestruneCore/Scanners/Scanner.h"

#include <string>
#include <vector>

// One package manager or toolchain and its cache folders, relative to the home folder, in the order tried.
struct CacheLocation {
    std::string tool;
    std::vector<std::string> paths;
};

// One application's profile folder (relative to the home folder) and the cache folders inside it; an
// empty subpath stands for the profile folder itself.
struct AppCacheLocation {
    std::string app;
    std::string profile;
    std::vector<std::string> subpaths;
};

class PackageCacheScanner final : public Scanner {
public:
    static constexpr std::int64_t floorBytes = 10'000'000;
    [[nodiscard]] static const std::vector<CacheLocation>& locations();
    [[nodiscard]] CategoryKind kind() const override { return CategoryKind::packageCaches; }
    [[nodiscard]] std::vector<CleanupItem> scan() const override;
};

class AppCacheScanner final : public Scanner {
public:
    static constexpr std::int64_t floorBytes = 20'000'000;
    [[nodiscard]] static const std::vector<AppCacheLocation>& locations();
    [[nodiscard]] CategoryKind kind() const override { return CategoryKind::appCaches; }
    [[nodiscard]] std::vector<CleanupItem> scan() const override;
};
