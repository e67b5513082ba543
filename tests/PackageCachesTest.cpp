// The package-cache and application-cache scanners on real temporary homes: every path of their tables
// (the Linux places, labels and in-use owners are checked on the whole Linux home), the two floors each
// side, what an item covers, and the variables that move Cargo's and Go's caches.
#include "KestruneCore/Scanners/CacheScanners.h"
#include "tests/TestHome.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

namespace {

using TestTree::atOrAbove;
using TestTree::below;
using TestTree::urls;

// One home holding every table path, each exactly at its floor in two halves that are each below it (so
// the item is the whole folder, measured once); then one path of each table one block below its floor, a
// cache path that is a file, one that is a link, and profile contents and names of the wrong case.
TEST(CacheTables, EveryPathIsOneWholeItemFromItsFloorAndNothingElse) {
    TestTree::TemporaryHome home;
    const auto b = TestTree::block(home);
    const auto plant = [&](const std::string& path, std::int64_t floor) {
        const std::int64_t half = atOrAbove(floor / 2, b);
        TestTree::makeFile(home / (path + "/a/blob"), half);
        TestTree::makeFile(home / (path + "/b/blob"), atOrAbove(floor, b) - half);
        return home / path;
    };
    std::set<std::string> packages;
    for (const auto& location : PackageCacheScanner::locations()) {
        for (const auto& path : location.paths) {
            packages.insert(plant(path, 10'000'000));
        }
    }
    std::set<std::string> apps;
    for (const auto& location : AppCacheScanner::locations()) {
        for (const auto& sub : location.subpaths) {
            apps.insert(plant(sub.empty() ? location.profile : location.profile + "/" + sub, 20'000'000));
        }
    }
    for (const std::string gone : {".cache/pip", ".nuget/packages", ".cargo/registry"}) {
        std::filesystem::remove_all(home / gone);
        packages.erase(home / gone);
    }
    std::filesystem::remove_all(home / "Library/Caches/JetBrains");
    apps.erase(home / "Library/Caches/JetBrains");
    const std::string nuget = TestTree::makeFile(home / ".nuget/packages", 11'000'000);
    packages.insert(nuget);
    TestTree::build(home.path(), {{".cache/pip/blob", below(10'000'000, b)},
                                  {"elsewhere/cache/blob", 30'000'000},
                                  {".cargo/registry", {}, -1, home / "elsewhere/cache"},
                                  {"Library/Caches/PIP/blob", 12'000'000},
                                  {"Library/Caches/JetBrains/f", below(20'000'000, b)},
                                  {"Library/Application Support/Google/Chrome/Default/History", 30'000'000},
                                  {"Library/Application Support/Slack/storage/blob", 30'000'000},
                                  {"Library/Application Support/Spotify/persistentcache/blob", 30'000'000},
                                  {"Library/Application Support/slack/Cache/f", 30'000'000},
                                  {"Library/Application Support/Discord/Cache/f", 30'000'000}});

    const auto packageItems = PackageCacheScanner().scan();
    EXPECT_EQ(urls(packageItems), packages);
    EXPECT_EQ(packageItems.size(), packages.size()); // each candidate measured once
    const auto appItems = AppCacheScanner().scan();
    EXPECT_EQ(urls(appItems), apps);
    EXPECT_EQ(appItems.size(), apps.size());
    for (const auto& item : appItems) {
        EXPECT_FALSE(item.label.has_value()) << item.url;
        EXPECT_TRUE(item.recommended) << item.url;
        EXPECT_EQ(item.bytes, TestTree::allocatedTree(item.url)) << item.url;
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
    using Set = std::set<std::string>;
    const std::string dotCargo = home / ".cargo/registry";
    const std::vector<std::pair<std::map<std::string, std::string>, Set>> cases{
        {{{"CARGO_HOME", tools + "/cargo"}, {"GOPATH", tools + "/gopath:/elsewhere"}},
         {dotCargo, tools + "/cargo/registry", tools + "/cargo/git", tools + "/gopath/pkg/mod/cache"}},
        // GOMODCACHE wins over GOPATH; GOCACHE names the build cache itself; the default folder is one item.
        {{{"GOMODCACHE", tools + "/mods"},
          {"GOPATH", tools + "/gopath"},
          {"GOCACHE", tools + "/build"},
          {"CARGO_HOME", home / ".cargo"}},
         {dotCargo, tools + "/mods/cache", tools + "/build"}},
        // A variable may name a link to the folder; relative values are ignored.
        {{{"CARGO_HOME", tools + "/linked"}}, {dotCargo, tools + "/linked/registry"}},
        {{{"CARGO_HOME", "tools/cargo"}, {"GOPATH", "tools/gopath"}}, {dotCargo}}};
    for (const auto& [variables, expected] : cases) {
        for (const char* name : {"CARGO_HOME", "GOPATH", "GOMODCACHE", "GOCACHE"}) {
            unsetenv(name);
        }
        for (const auto& [name, value] : variables) {
            setenv(name.c_str(), value.c_str(), 1);
        }
        EXPECT_EQ(urls(PackageCacheScanner().scan()), expected) << variables.begin()->second;
    }
    for (const char* name : {"CARGO_HOME", "GOPATH", "GOMODCACHE", "GOCACHE"}) {
        unsetenv(name);
    }
}

} // namespace
