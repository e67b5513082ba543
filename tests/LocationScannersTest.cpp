// The location scanners and kestrune-cli scan on real temporary homes, hostile ones included.
#include "KestruneCore/Scanners/LocationScanners.h"
#include "KestruneCore/Platform/TrashFolder.h"
#include "tests/TestHome.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <filesystem>
#include <functional>
#include <set>
#include <sys/stat.h>
#include <thread>

namespace {

using TestTree::atOrAbove;
using TestTree::below;
using TestTree::urls;

TEST(LocationScanners, EachReportsExactlyWhatItsRuleAdmits) {
    const TestTree::TemporaryHome probe; // each case has a home of its own inside it
    const auto b = TestTree::block(probe);
    const std::string xcode = "Library/Developer/Xcode/";
    const struct {
        const char* name;
        std::function<std::vector<CleanupItem>()> scan;
        std::vector<TestTree::Entry> plants;
        std::set<std::string> expected;
    } cases[] = {
        {"caches: floor, system folders kept but not their lower-case twins",
         [] { return UserCachesScanner().scan(); },
         {{"Library/Caches/under/f", below(1'000'000, b)},
          {"Library/Caches/over/f", atOrAbove(1'000'000, b)},
          {"Library/Caches/CloudKit/f", 3'000'000},
          {"Library/Caches/com.apple.containermanagerd/f", 3'000'000},
          {"Library/Caches/cloudkit/f", 3'000'000}},
         {"Library/Caches/over", "Library/Caches/cloudkit"}},
        {"logs: floor",
         [] { return LogsScanner().scan(); },
         {{"Library/Logs/under", below(200'000, b)}, {"Library/Logs/over/x.log", atOrAbove(200'000, b)}},
         {"Library/Logs/over"}},
        {"xcode: entries inside the five folders from the floor",
         [] { return XcodeScanner().scan(); },
         {{xcode + "DerivedData/App-abc/f", 2'000'000},
          {xcode + "iOS DeviceSupport/17.0/f", 2'000'000},
          {xcode + "watchOS DeviceSupport/10.0/f", 2'000'000},
          {"Library/Developer/CoreSimulator/Caches/dyld/f", 2'000'000},
          {xcode + "DerivedData/small/f", below(1'000'000, b)},
          {xcode + "Products/App/f", 2'000'000}},
         {xcode + "DerivedData/App-abc", xcode + "iOS DeviceSupport/17.0",
          xcode + "watchOS DeviceSupport/10.0", "Library/Developer/CoreSimulator/Caches/dyld"}},
        {"node_modules: nine levels down, not in media folders",
         [] { return NodeModulesScanner().scan(); },
         {{"1/2/3/4/5/6/7/8/node_modules/a/index.js", 4096},
          {"1/2/3/4/5/6/7/8/9/node_modules/a/index.js", 4096},
          {"Music/player/node_modules/a/index.js", 4096}},
         {"1/2/3/4/5/6/7/8/node_modules"}},
        {"installers: old, large, by their last extension",
         [] { return DownloadsScanner().scan(); },
         {{"Downloads/Setup.DMG", 6'000'000, 31},
          {"Downloads/Recent.dmg", 6'000'000, 29},
          {"Downloads/notes.txt", 6'000'000, 365},
          {"Downloads/old.dmg", below(5'000'000, b), 365},
          {"Downloads/archive.tar.gz", 6'000'000, 40},
          {"Downloads/README", 6'000'000, 365},
          {"Downloads/Tool.pkg/Contents/Payload", 6'000'000},
          {"Downloads/Tool.pkg/", {}, 60}},
         {"Downloads/Setup.DMG", "Downloads/archive.tar.gz", "Downloads/Tool.pkg"}},
        {"trash: the platform's, empty files too, not a Mac-style one",
         [] { return TrashScanner().scan(); },
         {{".local/share/Trash/files/zero", 0}, {".Trash/macos-style", 8192}},
         {".local/share/Trash/files/zero"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestTree::TemporaryHome home;
        TestTree::build(home.path(), c.plants);
        std::set<std::string> expected;
        for (const auto& relative : c.expected) {
            expected.insert(home / relative);
        }
        EXPECT_EQ(urls(c.scan()), expected);
    }
    // XDG_DATA_HOME moves the Trash only when absolute.
    setenv("XDG_DATA_HOME", (probe / "data").c_str(), 1);
    EXPECT_EQ(Platform::trashFilesFolder(), probe / "data/Trash/files");
    setenv("XDG_DATA_HOME", "relative/data", 1);
    EXPECT_EQ(Platform::trashFilesFolder(), probe / ".local/share/Trash/files");
}

// --- kestrune-cli scan -------------------------------------------------------------------------

nlohmann::json parse(const std::string& text) {
    return nlohmann::json::parse(text, nullptr, false);
}

// What each item and category says in JSON is checked on the whole home (LinuxHome); here what the
// command adds: the chosen categories only, at most ten items of each in text unless --all, progress on
// request, and bad usage as exit status 2 with one line.
TEST(ScanCommand, ChosenCategoriesTenItemsProgressAndBadUsage) {
    TestTree::TemporaryHome home;
    for (int i = 0; i < 12; ++i) {
        TestTree::makeFile(home / ("Library/Caches/app" + std::to_string(i) + "/blob"), 1'500'000 + i * 4096);
    }
    TestTree::build(home.path(), {{"Library/Logs/a.log", 300'000},
                                  {".local/share/Trash/files/gone.txt", 0},
                                  {"Library/Developer/Xcode/DerivedData/App/x", 2'000'000}}); // not chosen
    const auto cli = [](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), TestTree::cliPath());
        return TestTree::run(arguments);
    };
    const auto r = cli({"scan", "--json", "--only", "trash", "--only", "userCaches", "--only", "logs"});
    ASSERT_EQ(r.status, 0) << r.output;
    const auto doc = parse(r.output);
    ASSERT_FALSE(doc.is_discarded()) << r.output;
    std::vector<std::pair<std::string, std::size_t>> counts;
    for (const auto& c : doc["categories"]) {
        counts.emplace_back(c["kind"].get<std::string>(), c["items"].size());
    }
    EXPECT_EQ(counts, (std::vector<std::pair<std::string, std::size_t>>{
                          {"userCaches", 12}, {"logs", 1}, {"trash", 1}}))
        << "every item of the chosen ones, in registry order";

    const auto text = cli({"scan", "--quiet", "--only", "userCaches"});
    EXPECT_EQ(text.status, 0);
    EXPECT_EQ(text.output.find("app1 "), std::string::npos) << text.output; // the two smallest are not listed
    EXPECT_NE(text.output.find("12 items"), std::string::npos) << text.output;
    EXPECT_NE(text.output.rfind("Total"), std::string::npos);
    EXPECT_EQ(text.output.find("Scanning"), std::string::npos) << text.output;
    EXPECT_NE(cli({"scan", "--quiet", "--all", "--only", "userCaches"}).output.find("app1 "),
              std::string::npos);

    const auto progress = cli({"scan", "--progress", "--timings", "--only", "xcode", "--only", "logs"});
    EXPECT_EQ(progress.status, 0);
    for (const char* said : {"Scanning Xcode Junk\u2026 (", " of 2)", "xcode "}) {
        EXPECT_NE(progress.output.find(said), std::string::npos) << progress.output;
    }
    const auto bad = cli({"scan", "--only", "noSuchKind"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.output.find("noSuchKind"), std::string::npos);
    EXPECT_EQ(std::count(bad.output.begin(), bad.output.end(), '\n'), 1) << bad.output;
    EXPECT_EQ(cli({"scan", "--bogus"}).status, 2);
}

TEST(ScanCommand, HostileHomeStillGivesValidJson) {
    TestTree::TemporaryHome home;
    TestTree::build(home.path(), {{"Library/Caches/readable/f", 2'000'000},
                                  {"Library/Caches/locked/f", 2'000'000},
                                  {"loop/node_modules/a", 4096},
                                  {"loop/again", {}, -1, home / "loop"},
                                  {".local/share/Trash/files/"}});
    ASSERT_EQ(mkfifo((home / "Library/Caches/fifo").c_str(), 0644), 0);
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
    for (const char* found :
         {"Library/Caches/readable", "loop/node_modules", ".local/share/Trash/files/pipe"}) {
        EXPECT_TRUE(paths.contains(home / found)) << found;
    }
    EXPECT_FALSE(paths.contains(home / "Library/Caches/locked")); // unreadable: measures 0, below the floor
}

} // namespace
