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
// one buffer holds come once each. A folder or a link reports no size of its own, however much lies
// behind it; dates only when asked.
TEST(BulkDirRead, EveryEntryOnceWithItsNameKindAndOwnSizeAndDatesOnlyWithTheOption) {
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
    const auto many = BulkDir::read(home / "many");
    EXPECT_EQ(std::pair(many.size(), names(many).size()), std::pair(count, count));

    const auto when = std::chrono::system_clock::from_time_t(1'600'000'000);
    TestTree::build(home / "dir", {{"file", 64 * 1024}, {"sub/inner", 128 * 1024}, {"link", {}, -1, "sub"}});
    TestTree::setModified(home / "dir/file", when);
    ASSERT_EQ(mkfifo((home / "dir/fifo").c_str(), 0644), 0);
    struct stat sb {};
    ASSERT_EQ(stat(home.path().c_str(), &sb), 0);
    const std::uint64_t fsid = (static_cast<std::uint64_t>(major(sb.st_dev)) << 32) | minor(sb.st_dev);
    using Seen =
        std::tuple<bool, bool, std::int64_t, std::uint64_t, bool>; // directory, link, size, fs, dates
    std::map<std::string, Seen> got, dated;
    for (const auto& e : BulkDir::read(home / "dir")) {
        got[e.name] = {e.isDirectory, e.isSymlink, e.allocSize, e.fsid, e.modified || e.accessed};
    }
    const std::map<std::string, Seen> expected{
        {"file", {false, false, TestTree::allocated(home / "dir/file"), fsid, false}},
        {"sub", {true, false, 0, fsid, false}},
        {"link", {false, true, 0, fsid, false}},
        {"fifo", {false, false, 0, fsid, false}}};
    EXPECT_EQ(got, expected);
    for (const auto& e : BulkDir::read(home / "dir", BulkDir::Options::dates)) {
        dated[e.name] = {e.isDirectory, e.isSymlink, e.allocSize, e.fsid, e.modified && e.accessed};
        EXPECT_TRUE(e.name != "file" || e.modified == when);
    }
    for (auto& [name, seen] : got) {
        std::get<4>(seen) = true;
    }
    EXPECT_EQ(dated, got);
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
