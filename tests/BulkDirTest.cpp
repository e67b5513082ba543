// The bulk reader on real folders: every entry once, the entry's own type, dates only when asked.
#include "KestruneCore/Platform/BulkDir.h"
#include "tests/TestHome.h"

#include <gtest/gtest.h>
#include <sys/sysmacros.h>

#include <atomic>
#include <map>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <tuple>
#include <unistd.h>

namespace {

std::set<std::string> names(const std::vector<BulkEntry>& entries) {
    std::set<std::string> out;
    for (const auto& e : entries) {
        out.insert(e.name);
    }
    return out;
}

// Missing paths, files and empty folders have no entries; names are kept as bytes; more entries than
// one buffer holds come once each.
TEST(BulkDirRead, EveryEntryOnceWithItsNameAsBytes) {
    TestTree::TemporaryHome home;
    for (const std::string& path : {home / "missing", TestTree::makeFile(home / "file", 4096),
                                    TestTree::makeFolder(home / "empty"), std::string()}) {
        EXPECT_TRUE(BulkDir::read(path).empty()) << path;
    }
    const std::vector<std::string> odd{"bad\xFF\xFEname", "new\nline", "-rf", "--", "caf\xC3\xA9", " lead"};
    for (const auto& n : odd) {
        TestTree::makeFile(home / ("odd/" + n));
    }
    EXPECT_EQ(names(BulkDir::read(home / "odd")), std::set<std::string>(odd.begin(), odd.end()));
    constexpr std::size_t count = 25'000;
    for (std::size_t i = 0; i < count; ++i) {
        TestTree::makeFile(home / ("many/entry-with-a-longer-name-" + std::to_string(i)));
    }
    const auto entries = BulkDir::read(home / "many");
    EXPECT_EQ(entries.size(), count);
    EXPECT_EQ(names(entries).size(), count);
}

// A folder or a link reports no size of its own, however much lies behind it; dates only when asked.
TEST(BulkDirRead, ReportsKindsAndAllocatedSizeOfTheEntryItselfAndDatesOnlyWithTheOption) {
    TestTree::TemporaryHome home;
    const auto when = std::chrono::system_clock::from_time_t(1'600'000'000);
    TestTree::setModified(TestTree::makeFile(home / "dir/file", 64 * 1024), when);
    TestTree::makeFile(home / "dir/sub/inner", 128 * 1024);
    ASSERT_EQ(symlink((home / "dir/sub").c_str(), (home / "dir/link").c_str()), 0);
    ASSERT_EQ(mkfifo((home / "dir/fifo").c_str(), 0644), 0);
    const auto entries = BulkDir::read(home / "dir");
    std::map<std::string, std::tuple<bool, bool, std::int64_t>> got; // directory, link, allocated
    for (const auto& e : entries) {
        got[e.name] = {e.isDirectory, e.isSymlink, e.allocSize};
        EXPECT_FALSE(e.modified || e.accessed) << e.name;
    }
    const std::map<std::string, std::tuple<bool, bool, std::int64_t>> expected{
        {"file", {false, false, TestTree::allocated(home / "dir/file")}},
        {"sub", {true, false, 0}},
        {"link", {false, true, 0}},
        {"fifo", {false, false, 0}}};
    EXPECT_EQ(got, expected);
    ASSERT_EQ(entries.size(), 4u);
    struct stat sb {};
    ASSERT_EQ(stat(home.path().c_str(), &sb), 0);
    EXPECT_EQ(entries[0].fsid, (static_cast<std::uint64_t>(major(sb.st_dev)) << 32) | minor(sb.st_dev));
    const auto withDates = BulkDir::read(home / "dir", BulkDir::Options::dates);
    EXPECT_EQ(names(withDates), names(entries));
    for (const auto& e : withDates) {
        EXPECT_TRUE(e.modified && e.accessed && (e.name != "file" || *e.modified == when)) << e.name;
    }
}

TEST(BulkDirRead, EntriesThatVanishWhileListingAreSimplyMissing) {
    TestTree::TemporaryHome home;
    const std::string dir = TestTree::makeFolder(home / "churn");
    std::atomic<bool> stop{false};
    std::thread churn([&] {
        for (int round = 0; !stop; ++round) {
            for (int i = 0; i < 200; ++i) {
                const std::string p = dir + "/f" + std::to_string(i);
                if (round % 2 == 0) {
                    TestTree::makeFile(p, 4096);
                } else {
                    unlink(p.c_str());
                }
            }
        }
    });
    for (int i = 0; i < 300; ++i) {
        for (const auto& e : BulkDir::read(dir)) {
            EXPECT_FALSE(e.name.empty());
            EXPECT_FALSE(e.isDirectory);
        }
    }
    stop = true;
    churn.join();
}

} // namespace
