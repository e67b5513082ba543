// Privacy-trace and media-leftover tables on real temporary homes: every row's floor, label and order.
#include "KestruneCore/Scanners/PrivacyMediaScanners.h"
#include "KestruneCore/Walk/DiskMeasure.h"
#include "tests/TestHome.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

using TestTree::atOrAbove;
using TestTree::below;

struct Row {
    std::string label;
    std::string path;
    std::int64_t floor;
};

// Plants `bytes` at each row's location (a cookie store is a file, everything else a folder), and
// returns what the scanner then reports.
template <typename Scanner>
std::vector<CleanupItem> plantAndScan(const TestTree::TemporaryHome& home, const std::vector<Row>& rows,
                                      bool reachFloor) {
    const auto b = TestTree::block(home);
    for (const auto& row : rows) {
        const auto bytes = reachFloor ? atOrAbove(row.floor, b) : below(row.floor, b);
        const bool file = row.path.ends_with("Cookies.binarycookies") || row.path.ends_with("/Cookies");
        TestTree::makeFile(home / (file ? row.path : row.path + "/data_1"), bytes);
    }
    return Scanner().scan();
}

template <typename Scanner> void everyRowAtItsFloorInTableOrder(const std::vector<Row>& rows) {
    TestTree::TemporaryHome home;
    ASSERT_FALSE(rows.empty());
    TestTree::makeFile(home / "Music/Music/Media.localized/song.m4a", 60'000'000); // the library: never
    EXPECT_TRUE(plantAndScan<Scanner>(home, rows, false).empty()) << "one block below every floor";
    const auto items = plantAndScan<Scanner>(home, rows, true);
    ASSERT_EQ(items.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(items[i].url, home / rows[i].path);
        EXPECT_EQ(items[i].label, rows[i].label);
        EXPECT_EQ(items[i].modified, DiskMath::modified(items[i].url));
    }
}

TEST(PrivacyTraces, EveryRowIsReportedAtItsFloorAndNotOneBlockBelow) {
    std::vector<Row> rows;
    for (const auto& row : PrivacyTraceScanner::targets()) {
        rows.push_back({std::string(row.label), std::string(row.relativePath), row.minBytes});
    }
    everyRowAtItsFloorInTableOrder<PrivacyTraceScanner>(rows);
}

TEST(MediaLeftovers, EveryRowIsReportedAtItsFloorAndNotOneBlockBelow) {
    std::vector<Row> rows;
    for (const auto& [label, path, floor] : MediaLeftoversScanner::rows()) {
        rows.push_back({std::string(label), std::string(path), floor});
    }
    everyRowAtItsFloorInTableOrder<MediaLeftoversScanner>(rows);
}

TEST(PrivacyTraces, ALinkIsNotTheLocationItPointsTo) {
    TestTree::TemporaryHome home;
    TestTree::makeFile(home / "elsewhere/big", 30'000'000);
    TestTree::makeFolder(home / "Library/Application Support/discord");
    ASSERT_EQ(
        symlink((home / "elsewhere").c_str(), (home / "Library/Application Support/discord/Cache").c_str()),
        0);
    EXPECT_TRUE(PrivacyTraceScanner().scan().empty());
}

} // namespace
