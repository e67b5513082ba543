// The location scanners and kestrune-cli scan on real temporary homes, hostile ones included.
#include "KestruneCore/Scanners/LocationScanners.h"
#include "KestruneCore/Platform/TrashFolder.h"
#include "KestruneCore/Walk/PrunedWalk.h"
#include "KestruneCore/Walk/ScannerHelpers.h"
#include "tests/TestHome.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <filesystem>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using TestTree::atOrAbove;
using TestTree::below;
using TestTree::block;
using TestTree::urls;

using namespace std::chrono_literals;

TEST(HelperEdges, LinksAreNeverChildrenEvenWithNoFloor) {
    TestTree::TemporaryHome home;
    TestTree::makeFile(home / "big", 1 << 20);
    TestTree::makeFile(home / "root/plain", 0);
    ASSERT_EQ(symlink((home / "big").c_str(), (home / "root/toFile").c_str()), 0);
    ASSERT_EQ(symlink("/nowhere", (home / "root/dangling").c_str()), 0);
    EXPECT_EQ(urls(ScannerHelpers::children(home / "root", 0)), std::set<std::string>{home / "root/plain"});
}

TEST(HelperEdges, ALinkNamedLikeATargetIsNotFound) {
    TestTree::TemporaryHome home;
    TestTree::makeFile(home / "real/node_modules/x", 4096);
    TestTree::makeFolder(home / "proj");
    ASSERT_EQ(symlink((home / "real/node_modules").c_str(), (home / "proj/node_modules").c_str()), 0);
    EXPECT_EQ(urls(PrunedWalk::find({"node_modules"}, home.path(), 3)),
              std::set<std::string>{home / "real/node_modules"});
}

TEST(Caches, FloorIsOneMillionAllocatedBytes) {
    TestTree::TemporaryHome home;
    const auto b = block(home);
    TestTree::makeFile(home / "Library/Caches/under/f", below(1'000'000, b));
    TestTree::makeFile(home / "Library/Caches/over/f", atOrAbove(1'000'000, b));
    TestTree::makeFile(home / "Library/Caches/logsized/f", atOrAbove(200'000, b));
    const auto items = UserCachesScanner().scan();
    EXPECT_EQ(urls(items), std::set<std::string>{home / "Library/Caches/over"});
}

TEST(Caches, SystemFoldersAreKeptButTheirLowerCaseTwinsAreNot) {
    TestTree::TemporaryHome home;
    for (const std::string name :
         {"CloudKit", "com.apple.containermanagerd", "cloudkit", "Com.Apple.ContainerManagerd"}) {
        TestTree::makeFile(home / ("Library/Caches/" + name + "/f"), 3'000'000);
    }
    EXPECT_EQ(urls(UserCachesScanner().scan()),
              (std::set<std::string>{home / "Library/Caches/cloudkit",
                                     home / "Library/Caches/Com.Apple.ContainerManagerd"}));
}

TEST(Logs, FloorIsTwoHundredThousandAllocatedBytes) {
    TestTree::TemporaryHome home;
    const auto b = block(home);
    TestTree::makeFile(home / "Library/Logs/under", below(200'000, b));
    TestTree::makeFile(home / "Library/Logs/over/x.log", atOrAbove(200'000, b));
    EXPECT_EQ(urls(LogsScanner().scan()), std::set<std::string>{home / "Library/Logs/over"});
}

TEST(Xcode, ItemsAreInsideTheFoldersAndAMissingFolderChangesNothingElse) {
    TestTree::TemporaryHome home;
    TestTree::makeFile(home / "Library/Developer/Xcode/DerivedData/App-abc/f", 2'000'000);
    TestTree::makeFile(home / "Library/Developer/Xcode/iOS DeviceSupport/17.0/f", 2'000'000);
    TestTree::makeFile(home / "Library/Developer/Xcode/watchOS DeviceSupport/10.0/f", 2'000'000);
    TestTree::makeFile(home / "Library/Developer/CoreSimulator/Caches/dyld/f", 2'000'000);
    TestTree::makeFile(home / "Library/Developer/Xcode/DerivedData/small/f", 4096);
    EXPECT_EQ(urls(XcodeScanner().scan()),
              (std::set<std::string>{home / "Library/Developer/Xcode/DerivedData/App-abc",
                                     home / "Library/Developer/Xcode/iOS DeviceSupport/17.0",
                                     home / "Library/Developer/Xcode/watchOS DeviceSupport/10.0",
                                     home / "Library/Developer/CoreSimulator/Caches/dyld"}));
}

TEST(NodeModules, NineLevelsDownIsFoundButNotInsideLibraryHiddenOrAnotherTree) {
    TestTree::TemporaryHome home;
    const std::string deep = "1/2/3/4/5/6/7/8/node_modules";
    TestTree::makeFile(home / (deep + "/a/index.js"), 4096);
    TestTree::makeFile(home / "1/2/3/4/5/6/7/8/9/node_modules/a/index.js", 4096);
    TestTree::makeFile(home / "Library/app/node_modules/a/index.js", 4096);
    TestTree::makeFile(home / ".config/tool/node_modules/a/index.js", 4096);
    TestTree::makeFile(home / "web/node_modules/b/node_modules/c/index.js", 4096);
    TestTree::makeFolder(home / "empty/node_modules");
    const auto items = NodeModulesScanner().scan();
    EXPECT_EQ(urls(items), (std::set<std::string>{home / deep, home / "web/node_modules"}));
    for (const auto& i : items) {
        EXPECT_EQ(i.bytes, TestTree::allocatedTree(i.url));
    }
}

TEST(Downloads, OnlyOldLargeInstallersByTheirLastExtension) {
    TestTree::TemporaryHome home;
    const auto now = std::chrono::system_clock::now();
    const auto days = [&](int n) { return now - std::chrono::hours(24 * n); };
    const auto plant = [&](const std::string& name, std::int64_t bytes, int age) {
        TestTree::setModified(TestTree::makeFile(home / ("Downloads/" + name), bytes), days(age));
    };
    plant("Setup.DMG", 6'000'000, 31);
    plant("Recent.dmg", 6'000'000, 29);
    plant("notes.txt", 6'000'000, 365);
    plant("old.dmg", 4'000'000, 365);
    plant("archive.tar.gz", 6'000'000, 40);
    plant("README", 6'000'000, 365);
    TestTree::makeFile(home / "Downloads/Tool.pkg/Contents/Payload", 6'000'000);
    TestTree::setModified(home / "Downloads/Tool.pkg", days(60));
    EXPECT_EQ(urls(DownloadsScanner().scan()),
              (std::set<std::string>{home / "Downloads/Setup.DMG", home / "Downloads/archive.tar.gz",
                                     home / "Downloads/Tool.pkg"}));
}

TEST(Trash, ListsThePlatformTrashWithEmptyFilesAndWithoutHiddenOnes) {
    TestTree::TemporaryHome home;
    EXPECT_EQ(Platform::trashFilesFolder(), home / ".local/share/Trash/files");
    EXPECT_FALSE(TestTree::exists(home / ".local/share/Trash"));
    EXPECT_TRUE(TrashScanner().scan().empty());
    TestTree::makeFolder(home / ".local/share/Trash/files");
    EXPECT_TRUE(TrashScanner().scan().empty());
    TestTree::makeFile(home / ".local/share/Trash/files/.hidden", 8192);
    EXPECT_TRUE(TrashScanner().scan().empty());
    TestTree::makeFile(home / ".local/share/Trash/files/zero", 0);
    TestTree::makeFile(home / ".Trash/macos-style", 8192);
    const auto items = TrashScanner().scan();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].url, home / ".local/share/Trash/files/zero");
    EXPECT_EQ(items[0].bytes, 0);
}

TEST(Trash, FollowsXdgDataHomeWhenItIsAbsolute) {
    TestTree::TemporaryHome home;
    setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    EXPECT_EQ(Platform::trashFilesFolder(), home / "data/Trash/files");
    setenv("XDG_DATA_HOME", "relative/data", 1);
    EXPECT_EQ(Platform::trashFilesFolder(), home / ".local/share/Trash/files");
}

// --- kestrune-cli scan -------------------------------------------------------------------------

nlohmann::json parse(const std::string& text) {
    return nlohmann::json::parse(text, nullptr, false);
}

TEST(ScanCommand, JsonDocumentHoldsExactlyThePlantedItems) {
    TestTree::TemporaryHome home;
    std::map<std::string, std::set<std::pair<std::string, std::int64_t>>> planted;
    const auto plant = [&](const std::string& kind, const std::string& item, const std::string& file,
                           std::int64_t bytes) {
        TestTree::makeFile(home / (item + file), bytes);
        planted[kind].insert({home / item, TestTree::allocatedTree(home / item)});
    };
    for (int i = 0; i < 12; ++i) {
        plant("userCaches", "Library/Caches/app" + std::to_string(i), "/blob", 1'500'000 + i * 4096);
    }
    TestTree::makeFile(home / "Library/Caches/small/blob", 4096);
    plant("logs", "Library/Logs/a.log", "", 300'000);
    plant("xcode", "Library/Developer/Xcode/Archives/v1", "/x", 2'000'000);
    plant("nodeModules", "src/app/node_modules", "/p/index.js", 8192);
    plant("trash", ".local/share/Trash/files/gone.txt", "", 0);
    TestTree::setModified(TestTree::makeFile(home / "Downloads/Setup.dmg", 6'000'000),
                          std::chrono::system_clock::now() - std::chrono::hours(24 * 40));
    planted["downloads"].insert(
        {home / "Downloads/Setup.dmg", TestTree::allocated(home / "Downloads/Setup.dmg")});

    const auto r =
        TestTree::run({TestTree::cliPath(), "scan", "--json", "--only", "userCaches", "--only", "logs",
                       "--only", "xcode", "--only", "nodeModules", "--only", "downloads", "--only", "trash"});
    ASSERT_EQ(r.status, 0) << r.output;
    const auto doc = parse(r.output);
    ASSERT_FALSE(doc.is_discarded()) << r.output;
    EXPECT_EQ(doc["home"], home.path());
    EXPECT_TRUE(doc["seconds"].is_number());
    std::map<std::string, std::set<std::pair<std::string, std::int64_t>>> found;
    std::vector<std::string> order;
    std::int64_t total = 0;
    for (const auto& c : doc["categories"]) {
        order.push_back(c["kind"].get<std::string>());
        EXPECT_EQ(c["action"], "trash");
        std::int64_t sum = 0;
        std::int64_t previous = INT64_MAX;
        for (const auto& i : c["items"]) {
            found[c["kind"].get<std::string>()].insert(
                {i["path"].get<std::string>(), i["bytes"].get<std::int64_t>()});
            EXPECT_LE(i["bytes"].get<std::int64_t>(), previous);
            previous = i["bytes"].get<std::int64_t>();
            sum += i["bytes"].get<std::int64_t>();
            EXPECT_FALSE(i.contains("label"));
            EXPECT_EQ(i["modified"].get<std::string>().size(), 20u);
        }
        EXPECT_EQ(c["bytes"], sum);
        total += sum;
    }
    EXPECT_EQ(found, planted);
    EXPECT_EQ(doc["totalBytes"], total);
    // Registry order: Xcode, node_modules, caches, logs, installers, Trash.
    EXPECT_EQ(order,
              (std::vector<std::string>{"xcode", "nodeModules", "userCaches", "logs", "downloads", "trash"}));
    const auto& cache = doc["categories"][2];
    EXPECT_EQ(cache["title"], "Caches");
    EXPECT_EQ(cache["safety"], "safe");
    EXPECT_EQ(cache["items"][0]["location"], "~/Library/Caches");
    EXPECT_EQ(cache["items"][0]["name"], "app11");
    EXPECT_EQ(doc["categories"][4]["safety"], "review");

    // Text: at most ten items per category unless --all, a total line last.
    const auto text = TestTree::run({TestTree::cliPath(), "scan", "--quiet", "--only", "userCaches"});
    EXPECT_EQ(text.status, 0);
    EXPECT_EQ(text.output.find("app1 "), std::string::npos) << text.output; // the two smallest are not listed
    EXPECT_NE(text.output.find("12 items"), std::string::npos) << text.output;
    EXPECT_NE(text.output.rfind("Total"), std::string::npos);
    const auto all = TestTree::run({TestTree::cliPath(), "scan", "--quiet", "--all", "--only", "userCaches"});
    EXPECT_NE(all.output.find("app1 "), std::string::npos) << all.output;
}

TEST(ScanCommand, ProgressAndTimingsGoToStandardErrorOnRequest) {
    TestTree::TemporaryHome home;
    const auto r = TestTree::run(
        {TestTree::cliPath(), "scan", "--progress", "--timings", "--only", "xcode", "--only", "logs"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.output.find("Scanning Xcode Junk\u2026 ("), std::string::npos) << r.output;
    EXPECT_NE(r.output.find(" of 2)"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("xcode "), std::string::npos) << r.output;
    const auto quiet = TestTree::run({TestTree::cliPath(), "scan", "--quiet", "--only", "logs"});
    EXPECT_EQ(quiet.output.find("Scanning"), std::string::npos) << quiet.output;
}

TEST(ScanCommand, BadUsageIsExitTwoWithOneLine) {
    TestTree::TemporaryHome home;
    const auto r = TestTree::run({TestTree::cliPath(), "scan", "--only", "noSuchKind"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.output.find("noSuchKind"), std::string::npos);
    EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << r.output;
    EXPECT_EQ(TestTree::run({TestTree::cliPath(), "scan", "--bogus"}).status, 2);
}

TEST(ScanCommand, HostileHomeStillGivesValidJson) {
    TestTree::TemporaryHome home;
    TestTree::makeFile(home / "Library/Caches/readable/f", 2'000'000);
    TestTree::makeFile(home / "Library/Caches/locked/f", 2'000'000);
    TestTree::makeFile(home / "Library/Caches/bad\xff\xfename/f", 2'000'000);
    TestTree::makeFile(home / "loop/node_modules/a", 4096);
    ASSERT_EQ(symlink((home / "loop").c_str(), (home / "loop/again").c_str()), 0);
    ASSERT_EQ(mkfifo((home / "Library/Caches/fifo").c_str(), 0644), 0);
    TestTree::makeFolder(home / ".local/share/Trash/files");
    ASSERT_EQ(mkfifo((home / ".local/share/Trash/files/pipe").c_str(), 0644), 0);
    chmod((home / "Library/Caches/locked").c_str(), 0);
    // A folder that comes and goes while the scan runs.
    std::atomic<bool> stop{false};
    std::thread churn([&] {
        while (!stop) {
            TestTree::makeFile(home / "Library/Caches/vanishing/deep/f", 2'000'000);
            std::filesystem::remove_all(home / "Library/Caches/vanishing");
        }
    });
    const auto r =
        TestTree::run({TestTree::cliPath(), "scan", "--json", "--quiet"}, TestTree::Privilege::unprivileged);
    stop = true;
    churn.join();
    ASSERT_EQ(r.status, 0) << r.output;
    const auto doc = parse(r.output);
    ASSERT_FALSE(doc.is_discarded()) << r.output;
    std::set<std::string> paths;
    for (const auto& c : doc["categories"]) {
        for (const auto& i : c["items"]) {
            paths.insert(i["path"]);
        }
    }
    EXPECT_TRUE(paths.contains(home / "Library/Caches/readable"));
    EXPECT_TRUE(paths.contains(home / "Library/Caches/bad\uFFFD\uFFFDname"));
    EXPECT_TRUE(paths.contains(home / "loop/node_modules"));
    EXPECT_TRUE(paths.contains(home / ".local/share/Trash/files/pipe"));
    EXPECT_FALSE(paths.contains(home / "Library/Caches/locked")); // unreadable: measures 0, below the floor
}

} // namespace
