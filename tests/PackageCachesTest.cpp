// The package-cache and application-cache scanners on real temporary homes: every table path, the two
// floors, profile rows and what an item covers.
#include "KestruneCore/Scanners/AllScanners.h"
#include "KestruneCore/Scanners/CacheScanners.h"
#include "tests/TestHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <unistd.h>

namespace {

using TestTree::atOrAbove;
using TestTree::below;
using TestTree::block;
using TestTree::urls;

// Allocations come in whole blocks, so a floor is probed with the nearest allocations either side.

TEST(PackageCaches, EveryPathOfTheTableIsFoundAsOneWholeItem) {
    TestTree::TemporaryHome home;
    const auto b = block(home);
    const std::vector<std::string> paths{".npm/_cacache",
                                         ".local/share/pnpm/store",
                                         "Library/pnpm/store",
                                         "Library/Caches/Yarn",
                                         ".yarn/berry/cache",
                                         ".bun/install/cache",
                                         "Library/Caches/pip",
                                         ".cache/pip",
                                         ".cache/uv",
                                         ".cargo/registry",
                                         ".cargo/git",
                                         "go/pkg/mod/cache",
                                         "Library/Caches/go-build",
                                         ".m2/repository",
                                         ".gradle/caches",
                                         "Library/Caches/CocoaPods",
                                         "Library/Caches/org.swift.swiftpm",
                                         "Library/Caches/Homebrew",
                                         "anaconda3/pkgs",
                                         "miniconda3/pkgs",
                                         "miniforge3/pkgs",
                                         ".composer/cache",
                                         ".cache/composer",
                                         ".nuget/packages"};
    std::set<std::string> expected;
    for (const auto& p : paths) {
        // Two files in two sub-folders: the item is the cache folder, measured whole.
        TestTree::makeFile(home / (p + "/a/blob"), atOrAbove(5'000'000, b));
        TestTree::makeFile(home / (p + "/b/blob"), atOrAbove(5'000'000, b));
        expected.insert(home / p);
    }
    // Near misses: other letter case, a sibling of a table path.
    TestTree::makeFile(home / "Library/Caches/PIP/blob", 12'000'000);
    TestTree::makeFile(home / ".cargo/bin/cargo", 12'000'000);
    const auto items = PackageCacheScanner().scan();
    EXPECT_EQ(urls(items), expected);
    EXPECT_EQ(items.size(), expected.size()); // each candidate measured once
    for (const auto& i : items) {
        EXPECT_EQ(i.bytes, TestTree::allocatedTree(i.url)) << i.url;
        // Maven's repository also holds the user's own installed artifacts: named so, and never preselected.
        const bool maven = i.url == home / ".m2/repository";
        EXPECT_EQ(i.label.has_value(), maven) << i.url;
        EXPECT_EQ(i.recommended, !maven) << i.url;
        EXPECT_GT(i.modified, Dates::distantPast);
    }
    std::size_t rows = 0;
    for (const auto& location : PackageCacheScanner::locations()) {
        rows += location.paths.size();
    }
    EXPECT_EQ(PackageCacheScanner::locations().size(), 16u);
    EXPECT_EQ(rows, paths.size());
}

TEST(PackageCaches, FloorIsTenMillionAllocatedBytes) {
    TestTree::TemporaryHome home;
    const auto b = block(home);
    TestTree::makeFile(home / "Library/Caches/pip/blob", atOrAbove(10'000'000, b));
    TestTree::makeFile(home / ".cache/pip/blob", below(10'000'000, b));
    TestTree::makeFile(home / ".cache/uv/blob", 15'000'000);
    EXPECT_EQ(urls(PackageCacheScanner().scan()),
              (std::set<std::string>{home / "Library/Caches/pip", home / ".cache/uv"}));
    // Both pip caches present and large: two separate items.
    TestTree::makeFile(home / ".cache/pip/more", 4096);
    EXPECT_EQ(urls(PackageCacheScanner().scan()),
              (std::set<std::string>{home / "Library/Caches/pip", home / ".cache/pip", home / ".cache/uv"}));
}

TEST(PackageCaches, AFileAtACachePathIsMeasuredAsAFileAndALinkIsNotFollowed) {
    TestTree::TemporaryHome home;
    TestTree::makeFile(home / ".nuget/packages", 11'000'000);
    TestTree::makeFile(home / "elsewhere/cache/blob", 30'000'000);
    TestTree::makeFolder(home / ".cargo");
    ASSERT_EQ(symlink((home / "elsewhere/cache").c_str(), (home / ".cargo/registry").c_str()), 0);
    const auto items = PackageCacheScanner().scan();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].url, home / ".nuget/packages");
    EXPECT_EQ(items[0].bytes, TestTree::allocated(home / ".nuget/packages"));
}

TEST(PackageCaches, NothingThereIsNothingFound) {
    TestTree::TemporaryHome home;
    EXPECT_TRUE(PackageCacheScanner().scan().empty());
    EXPECT_TRUE(AppCacheScanner().scan().empty());
}

TEST(AppCaches, EveryCacheFolderOfTheTableIsFoundButNeverAProfile) {
    TestTree::TemporaryHome home;
    const auto b = block(home);
    const std::vector<std::string> paths{
        "Library/Application Support/Google/Chrome/Default/Cache",
        "Library/Application Support/Google/Chrome/Default/Code Cache",
        "Library/Application Support/Google/Chrome/Default/GPUCache",
        "Library/Application Support/Google/Chrome/Default/Service Worker/CacheStorage",
        "Library/Application Support/Google/Chrome/ShaderCache",
        "Library/Application Support/Google/Chrome/GrShaderCache",
        "Library/Caches/Google/Chrome",
        "Library/Application Support/BraveSoftware/Brave-Browser/Default/Cache",
        "Library/Application Support/BraveSoftware/Brave-Browser/Default/Code Cache",
        "Library/Application Support/BraveSoftware/Brave-Browser/Default/GPUCache",
        "Library/Caches/Firefox",
        "Library/Caches/com.apple.Safari",
        "Library/Application Support/Slack/Cache",
        "Library/Application Support/Slack/Code Cache",
        "Library/Application Support/Slack/GPUCache",
        "Library/Application Support/Slack/Service Worker/CacheStorage",
        "Library/Application Support/Code/Cache",
        "Library/Application Support/Code/CachedData",
        "Library/Application Support/Code/Code Cache",
        "Library/Application Support/Code/GPUCache",
        "Library/Application Support/Code/CachedExtensionVSIXs",
        "Library/Application Support/Cursor/Cache",
        "Library/Application Support/Cursor/CachedData",
        "Library/Application Support/Cursor/Code Cache",
        "Library/Application Support/Cursor/GPUCache",
        "Library/Application Support/Spotify/PersistentCache",
        "Library/Application Support/discord/Cache",
        "Library/Application Support/discord/Code Cache",
        "Library/Application Support/discord/GPUCache",
        "Library/Application Support/Microsoft/Teams/Cache",
        "Library/Application Support/Microsoft/Teams/Code Cache",
        "Library/Application Support/Microsoft/Teams/GPUCache",
        "Library/Caches/JetBrains"};
    std::set<std::string> expected;
    for (const auto& p : paths) {
        TestTree::makeFile(home / (p + "/data_0"), atOrAbove(20'000'000, b));
        expected.insert(home / p);
    }
    // Profile contents that are not caches, and a cache name of the wrong case.
    TestTree::makeFile(home / "Library/Application Support/Google/Chrome/Default/History", 30'000'000);
    TestTree::makeFile(home / "Library/Application Support/Slack/storage/blob", 30'000'000);
    TestTree::makeFile(home / "Library/Application Support/Spotify/persistentcache/blob", 30'000'000);
    const auto items = AppCacheScanner().scan();
    EXPECT_EQ(urls(items), expected);
    EXPECT_EQ(items.size(), expected.size());
    for (const auto& i : items) {
        EXPECT_EQ(i.bytes, TestTree::allocatedTree(i.url)) << i.url;
        // Maven's repository also holds the user's own installed artifacts: named so, and never preselected.
        const bool maven = i.url == home / ".m2/repository";
        EXPECT_EQ(i.label.has_value(), maven) << i.url;
        EXPECT_EQ(i.recommended, !maven) << i.url;
    }
    EXPECT_EQ(AppCacheScanner::locations().size(), 12u);
}

TEST(AppCaches, FloorIsTwentyMillionAndHigherThanThePackageFloor) {
    TestTree::TemporaryHome home;
    const auto b = block(home);
    TestTree::makeFile(home / "Library/Caches/Firefox/f", atOrAbove(20'000'000, b));
    TestTree::makeFile(home / "Library/Caches/JetBrains/f", below(20'000'000, b));
    TestTree::makeFile(home / "Library/Application Support/Google/Chrome/Default/Cache/f", 15'000'000);
    TestTree::makeFile(home / "Library/Caches/Homebrew/f", 15'000'000);
    EXPECT_EQ(urls(AppCacheScanner().scan()), std::set<std::string>{home / "Library/Caches/Firefox"});
    EXPECT_EQ(urls(PackageCacheScanner().scan()), std::set<std::string>{home / "Library/Caches/Homebrew"});
}

TEST(AppCaches, AProfileDecidesItsRowAndTheCaseOfItsFolder) {
    TestTree::TemporaryHome home;
    // No Slack profile: none of its cache folders can be reported, whatever else exists.
    TestTree::makeFile(home / "Library/Application Support/slack/Cache/f", 30'000'000);
    TestTree::makeFile(home / "Library/Application Support/Discord/Cache/f", 30'000'000);
    EXPECT_TRUE(AppCacheScanner().scan().empty());
    // The profile with only Cache inside: that one alone.
    TestTree::makeFile(home / "Library/Application Support/Slack/Cache/f", 30'000'000);
    TestTree::makeFile(home / "Library/Application Support/Slack/Other/f", 30'000'000);
    EXPECT_EQ(urls(AppCacheScanner().scan()),
              std::set<std::string>{home / "Library/Application Support/Slack/Cache"});
    // Firefox's whole cache folder is one item, not its children.
    TestTree::makeFile(home / "Library/Caches/Firefox/Profiles/a/cache2/f", 12'500'000);
    TestTree::makeFile(home / "Library/Caches/Firefox/Profiles/b/cache2/f", 12'500'000);
    const auto items = AppCacheScanner().scan();
    EXPECT_EQ(urls(items), (std::set<std::string>{home / "Library/Application Support/Slack/Cache",
                                                  home / "Library/Caches/Firefox"}));
}

TEST(CacheRegistry, PackageAndAppCachesComeFirstAndInThatOrder) {
    const auto& registry = AllScanners::all();
    std::vector<CategoryKind> kinds;
    for (const auto& s : registry) {
        kinds.push_back(s->kind());
    }
    ASSERT_GE(kinds.size(), 3u);
    EXPECT_EQ(kinds[0], CategoryKind::packageCaches);
    EXPECT_EQ(kinds[1], CategoryKind::appCaches);
    EXPECT_EQ(kinds[2], CategoryKind::xcode);
}

TEST(CacheRegistry, APackageCacheInsideTheCachesFolderBelongsToPackageCaches) {
    TestTree::TemporaryHome home;
    TestTree::makeFile(home / "Library/Caches/Homebrew/downloads/f", 12'000'000);
    TestTree::makeFile(home / "Library/Caches/Firefox/f", 21'000'000);
    TestTree::makeFile(home / "Library/Caches/other/f", 2'000'000);
    const auto results = AllScanners::runAll();
    std::map<CategoryKind, std::set<std::string>> found;
    for (const auto& r : results) {
        found[r.kind] = urls(r.items);
    }
    EXPECT_EQ(found[CategoryKind::packageCaches], std::set<std::string>{home / "Library/Caches/Homebrew"});
    EXPECT_EQ(found[CategoryKind::appCaches], std::set<std::string>{home / "Library/Caches/Firefox"});
    EXPECT_EQ(found[CategoryKind::userCaches], std::set<std::string>{home / "Library/Caches/other"});
}

} // namespace
