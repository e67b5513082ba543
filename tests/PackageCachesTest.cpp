// The package-cache and application-cache scanners on real temporary homes: every table path, the two
// floors, profile rows and what an item covers.
#include "KestruneCore/Scanners/CacheScanners.h"
#include "tests/TestHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace {

using TestTree::atOrAbove;
using TestTree::below;
using TestTree::block;
using TestTree::urls;

TEST(PackageCaches, EveryPathOfTheTableIsFoundAsOneWholeItem) {
    TestTree::TemporaryHome home;
    const auto b = block(home);
    std::set<std::string> expected;
    for (const auto& location : PackageCacheScanner::locations()) {
        for (const auto& p : location.paths) {
            // Two files in two sub-folders: the item is the cache folder, measured whole.
            TestTree::makeFile(home / (p + "/a/blob"), atOrAbove(5'000'000, b));
            TestTree::makeFile(home / (p + "/b/blob"), atOrAbove(5'000'000, b));
            expected.insert(home / p);
        }
    }
    TestTree::makeFile(home / "Library/Caches/PIP/blob", 12'000'000); // other letter case
    const auto items = PackageCacheScanner().scan();
    EXPECT_EQ(urls(items), expected);
    EXPECT_EQ(items.size(), expected.size()); // each candidate measured once
}

// Package caches from ten million allocated bytes, app caches from twenty; a file at a cache path is
// measured as a file, and a link there is not followed.
TEST(PackageCaches, FloorsFilesAndLinks) {
    TestTree::TemporaryHome home;
    const auto b = block(home);
    TestTree::build(home.path(), {{"Library/Caches/pip/blob", atOrAbove(10'000'000, b)},
                                  {".cache/pip/blob", below(10'000'000, b)},
                                  {".nuget/packages", 11'000'000},
                                  {"elsewhere/cache/blob", 30'000'000},
                                  {".cargo/registry", {}, -1, home / "elsewhere/cache"},
                                  {"Library/Caches/Firefox/f", atOrAbove(20'000'000, b)},
                                  {"Library/Caches/JetBrains/f", below(20'000'000, b)}});
    EXPECT_EQ(urls(PackageCacheScanner().scan()),
              (std::set<std::string>{home / "Library/Caches/pip", home / ".nuget/packages"}));
    EXPECT_EQ(urls(AppCacheScanner().scan()), std::set<std::string>{home / "Library/Caches/Firefox"});
}

TEST(AppCaches, EveryCacheFolderOfTheTableIsFoundButNeverAProfile) {
    TestTree::TemporaryHome home;
    const auto b = block(home);
    std::set<std::string> expected;
    for (const auto& location : AppCacheScanner::locations()) {
        for (const auto& sub : location.subpaths) {
            const std::string p = sub.empty() ? location.profile : location.profile + "/" + sub;
            TestTree::makeFile(home / (p + "/data_0"), atOrAbove(20'000'000, b));
            expected.insert(home / p);
        }
    }
    // Profile contents that are not caches, and profiles and cache names of the wrong case.
    TestTree::build(home.path(), {{"Library/Application Support/Google/Chrome/Default/History", 30'000'000},
                                  {"Library/Application Support/Slack/storage/blob", 30'000'000},
                                  {"Library/Application Support/Spotify/persistentcache/blob", 30'000'000},
                                  {"Library/Application Support/slack/Cache/f", 30'000'000},
                                  {"Library/Application Support/Discord/Cache/f", 30'000'000}});
    const auto items = AppCacheScanner().scan();
    EXPECT_EQ(urls(items), expected);
    EXPECT_EQ(items.size(), expected.size());
    for (const auto& i : items) {
        EXPECT_FALSE(i.label.has_value()) << i.url;
        EXPECT_TRUE(i.recommended) << i.url;
    }
}

TEST(PackageCaches, CargoAndGoCachesFollowTheirVariables) {
    TestTree::TemporaryHome home;
    const std::string tools = home / "tools";
    for (const std::string place :
         {".cargo/registry", "tools/cargo/registry", "tools/cargo/git", "tools/mods/cache",
          "tools/gopath/pkg/mod/cache", "tools/build", "tools/real/registry"}) {
        TestTree::makeFile(home / (place + "/blob"), 12'000'000);
    }
    ASSERT_EQ(symlink((tools + "/real").c_str(), (tools + "/linked").c_str()), 0);
    const auto found = [&](std::initializer_list<std::pair<const char*, std::string>> variables) {
        for (const auto& [name, value] : variables) {
            setenv(name, value.c_str(), 1);
        }
        auto result = urls(PackageCacheScanner().scan());
        for (const auto& [name, value] : variables) {
            unsetenv(name);
        }
        return result;
    };
    using Set = std::set<std::string>;
    const std::string dotCargo = home / ".cargo/registry";
    EXPECT_EQ(
        found({{"CARGO_HOME", tools + "/cargo"}, {"GOPATH", tools + "/gopath:/elsewhere"}}),
        (Set{dotCargo, tools + "/cargo/registry", tools + "/cargo/git", tools + "/gopath/pkg/mod/cache"}));
    // GOMODCACHE wins over GOPATH; GOCACHE names the build cache itself; the default folder is one item.
    EXPECT_EQ(found({{"GOMODCACHE", tools + "/mods"},
                     {"GOPATH", tools + "/gopath"},
                     {"GOCACHE", tools + "/build"},
                     {"CARGO_HOME", home / ".cargo"}}),
              (Set{dotCargo, tools + "/mods/cache", tools + "/build"}));
    // A variable may name a link to the folder; relative values are ignored.
    EXPECT_EQ(found({{"CARGO_HOME", tools + "/linked"}}), (Set{dotCargo, tools + "/linked/registry"}));
    EXPECT_EQ(found({{"CARGO_HOME", "tools/cargo"}, {"GOPATH", "tools/gopath"}}), Set{dotCargo});
}

} // namespace
