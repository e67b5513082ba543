// Privacy-trace and media-leftover tables on real temporary homes: every row's floor, label and order.
#include "KestruneCore/Scanners/PrivacyMediaScanners.h"
#include "KestruneCore/Walk/DiskMeasure.h"
#include "tests/TestHome.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

using TestTree::atOrAbove;
using TestTree::below;
using TestTree::block;

// Plants `bytes` at the row's location: a cookie store is a file, everything else a folder.
void plant(const TestTree::TemporaryHome& home, std::string_view relative, std::int64_t bytes) {
    const std::string path = home / std::string(relative);
    if (relative.ends_with("Cookies.binarycookies") || relative.ends_with("/Cookies")) {
        TestTree::makeFile(path, bytes);
    } else {
        TestTree::makeFile(path + "/data_1", bytes);
    }
}

TEST(PrivacyTraces, TheTableHoldsFourteenRowsWithTheirFloors) {
    const auto rows = PrivacyTraceScanner::targets();
    ASSERT_EQ(rows.size(), 14u);
    EXPECT_EQ(rows[0].label, "Safari Caches");
    EXPECT_EQ(rows[1].relativePath, "Library/Cookies/Cookies.binarycookies");
    EXPECT_EQ(rows[1].minBytes, 100'000);
    EXPECT_EQ(rows[11].label, "Slack Cache");
    EXPECT_EQ(rows[11].minBytes, 20'000'000);
    EXPECT_EQ(rows[13].relativePath, "Library/Caches/com.apple.QuickLook.thumbnailcache");
}

TEST(PrivacyTraces, EveryRowIsReportedAtItsFloorAndNotOneBlockBelow) {
    TestTree::TemporaryHome home;
    const auto b = block(home);
    for (const auto& row : PrivacyTraceScanner::targets()) {
        plant(home, row.relativePath, below(row.minBytes, b));
    }
    EXPECT_TRUE(PrivacyTraceScanner().scan().empty());

    for (const auto& row : PrivacyTraceScanner::targets()) {
        plant(home, row.relativePath, atOrAbove(row.minBytes, b));
    }
    const auto items = PrivacyTraceScanner().scan();
    const auto rows = PrivacyTraceScanner::targets();
    ASSERT_EQ(items.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(items[i].url, home / std::string(rows[i].relativePath));
        EXPECT_EQ(items[i].label, std::string(rows[i].label));
        EXPECT_EQ(items[i].name(), std::string(rows[i].label));
        EXPECT_EQ(items[i].bytes, TestTree::allocatedTree(items[i].url));
        EXPECT_EQ(items[i].modified, DiskMath::modified(items[i].url));
    }
}

TEST(PrivacyTraces, CookiesSlackAndChromeFloors) {
    TestTree::TemporaryHome home;
    TestTree::makeFile(home / "Library/Cookies/Cookies.binarycookies", 150'000);
    TestTree::makeFile(home / "Library/Application Support/Slack/Cache/data_0", 10'000'000);
    TestTree::makeFile(home / "Library/Application Support/Google/Chrome/Default/Cache/data_0", 10'000'000);
    TestTree::makeFile(home / "Library/Application Support/Google/Chrome/Default/Cookies", 90'000);
    const auto items = PrivacyTraceScanner().scan();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].label, "Safari Cookies");
    EXPECT_EQ(items[0].bytes, TestTree::allocated(home / "Library/Cookies/Cookies.binarycookies"));
    EXPECT_EQ(items[1].label, "Chrome Cache");
}

TEST(PrivacyTraces, NoBrowsersAndLinkedOrMisspelledLocationsGiveNothing) {
    TestTree::TemporaryHome home;
    EXPECT_TRUE(PrivacyTraceScanner().scan().empty());
    // Paths are case-sensitive, and a link is not the location it points to.
    TestTree::makeFile(home / "Library/caches/Firefox/big", 30'000'000);
    TestTree::makeFile(home / "elsewhere/big", 30'000'000);
    TestTree::makeFolder(home / "Library/Application Support/discord");
    ASSERT_EQ(
        symlink((home / "elsewhere").c_str(), (home / "Library/Application Support/discord/Cache").c_str()),
        0);
    EXPECT_TRUE(PrivacyTraceScanner().scan().empty());
}

TEST(MediaLeftovers, EveryRowAtItsFloorInTableOrderWithItsLabel) {
    TestTree::TemporaryHome home;
    const auto b = block(home);
    for (const auto& [label, path, floor] : MediaLeftoversScanner::rows()) {
        plant(home, path, below(floor, b));
    }
    EXPECT_TRUE(MediaLeftoversScanner().scan().empty());
    for (const auto& [label, path, floor] : MediaLeftoversScanner::rows()) {
        plant(home, path, atOrAbove(floor, b));
    }
    const auto items = MediaLeftoversScanner().scan();
    const auto rows = MediaLeftoversScanner::rows();
    ASSERT_EQ(rows.size(), 7u);
    ASSERT_EQ(items.size(), 7u);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(items[i].url, home / std::string(std::get<1>(rows[i])));
        EXPECT_EQ(items[i].label, std::string(std::get<0>(rows[i])));
        EXPECT_EQ(items[i].bytes, TestTree::allocatedTree(items[i].url));
    }
}

TEST(MediaLeftovers, PreviousLibrariesNeedFiftyMillionBytes) {
    TestTree::TemporaryHome home;
    const std::string previous = home / "Music/Previous Libraries.localized";
    TestTree::makeFile(previous + "/Music Library 2023.musiclibrary", 40'000'000);
    EXPECT_TRUE(MediaLeftoversScanner().scan().empty());
    TestTree::makeFile(previous + "/Music Library 2023.musiclibrary", 60'000'000);
    const auto items = MediaLeftoversScanner().scan();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].url, previous);
    EXPECT_EQ(items[0].name(), "Previous Music Library");
    EXPECT_EQ(std::get<2>(MediaLeftoversScanner::rows()[5]), 50'000'000);
}

} // namespace
