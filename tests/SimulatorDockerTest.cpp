// Simulator and container-engine scanners on real temporary homes: floors, preference order, dates.
#include "KestruneCore/Scanners/AllScanners.h"
#include "KestruneCore/Scanners/ToolOwnedScanners.h"
#include "KestruneCore/Walk/DiskMeasure.h"
#include "tests/TestHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <unistd.h>

namespace {

using TestTree::atOrAbove;
using TestTree::below;
using TestTree::block;

const std::string devices = "Library/Developer/CoreSimulator/Devices";
const std::string caches = "Library/Developer/CoreSimulator/Caches";
const std::string image = "Library/Containers/com.docker.docker/Data/vms/0/data/Docker.raw";
const std::string oldImage = "Library/Containers/com.docker.docker/Data/vms/0/Docker.raw";
const std::string data = "Library/Containers/com.docker.docker/Data";

TEST(Simulators, DevicesAreReportedAndCachesBelowTheFloorAreNot) {
    TestTree::TemporaryHome home;
    TestTree::makeFile(home / (devices + "/A1B2/data/disk.img"), 400'000'000);
    TestTree::makeFile(home / (devices + "/C3D4/data/small"), 4096);
    TestTree::makeFile(home / (caches + "/dyld/cache"), 50'000'000);
    const auto when = std::chrono::system_clock::now() - std::chrono::hours(24 * 3);
    TestTree::setModified(home / devices, when);
    const auto items = SimulatorScanner().scan();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].url, home / devices);
    EXPECT_EQ(items[0].bytes, TestTree::allocatedTree(home / devices));
    EXPECT_GE(items[0].bytes, 400'000'000);
    EXPECT_EQ(std::chrono::time_point_cast<std::chrono::seconds>(items[0].modified),
              std::chrono::time_point_cast<std::chrono::seconds>(when));
    EXPECT_FALSE(items[0].label.has_value());
}

TEST(Simulators, BothFoldersInOrderAndTheFloorIsOneHundredMillionBytes) {
    TestTree::TemporaryHome home;
    const auto b = block(home);
    TestTree::makeFile(home / (devices + "/X/f"), atOrAbove(100'000'000, b));
    TestTree::makeFile(home / (caches + "/Y/f"), atOrAbove(100'000'000, b));
    auto items = SimulatorScanner().scan();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].url, home / devices);
    EXPECT_EQ(items[1].url, home / caches);

    TestTree::makeFile(home / (caches + "/Y/f"), below(100'000'000, b));
    items = SimulatorScanner().scan();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].url, home / devices);
}

TEST(Simulators, NothingInstalledGivesNothing) {
    TestTree::TemporaryHome home;
    EXPECT_TRUE(SimulatorScanner().scan().empty());
    TestTree::makeFolder(home / devices);
    EXPECT_TRUE(SimulatorScanner().scan().empty());
}

TEST(Docker, TheImageIsPreferredToEveryOtherCandidate) {
    TestTree::TemporaryHome home;
    TestTree::makeFile(home / image, 1'000'000'000);
    TestTree::makeFile(home / ".colima/default/disk", 400'000'000);
    const auto items = DockerScanner().scan();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].url, home / image);
    EXPECT_EQ(items[0].bytes, TestTree::allocated(home / image));
    EXPECT_EQ(items[0].modified, DiskMath::modified(home / image));
}

TEST(Docker, AnImageBelowTheFloorGivesWayToTheDataFolder) {
    TestTree::TemporaryHome home;
    TestTree::makeFile(home / image, 80'000'000);
    TestTree::makeFile(home / (data + "/log/big"), 400'000'000);
    const auto items = DockerScanner().scan();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].url, home / data);
    EXPECT_EQ(items[0].bytes, TestTree::allocatedTree(home / data));
}

TEST(Docker, TheOlderImagePathIsSecondAndTheFloorIsExact) {
    TestTree::TemporaryHome home;
    const auto b = block(home);
    TestTree::makeFile(home / oldImage, atOrAbove(100'000'000, b));
    auto items = DockerScanner().scan();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].url, home / oldImage);
    EXPECT_EQ(items[0].bytes, atOrAbove(100'000'000, b));

    // Below the floor the image does not qualify, and neither does the data folder that holds just it.
    TestTree::makeFile(home / oldImage, below(100'000'000, b));
    EXPECT_TRUE(DockerScanner().scan().empty());
}

TEST(Docker, ColimaBeforeLimaAndNothingWithoutAnEngine) {
    TestTree::TemporaryHome home;
    EXPECT_TRUE(DockerScanner().scan().empty());
    TestTree::makeFile(home / ".lima/vm/disk", 300'000'000);
    auto items = DockerScanner().scan();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].url, home / ".lima");
    TestTree::makeFile(home / ".colima/vm/disk", 300'000'000);
    items = DockerScanner().scan();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].url, home / ".colima");
}

TEST(Docker, ALinkedImageDoesNotCountAsTheImage) {
    TestTree::TemporaryHome home;
    TestTree::makeFile(home / "elsewhere/Docker.raw", 500'000'000);
    TestTree::makeFolder(home / "Library/Containers/com.docker.docker/Data/vms/0/data");
    ASSERT_EQ(symlink((home / "elsewhere/Docker.raw").c_str(), (home / image).c_str()), 0);
    EXPECT_TRUE(DockerScanner().scan().empty());
}

// Each scanner stands at its position, so an earlier category keeps what it shares with a later one.
TEST(Registry, ScannersStandInTheirPositions) {
    using K = CategoryKind;
    const std::vector<K> positions{K::packageCaches, K::appCaches,     K::xcode,           K::nodeModules,
                                   K::screenshots,   K::simulators,    K::docker,          K::userCaches,
                                   K::logs,          K::downloads,     K::trash,           K::appLeftovers,
                                   K::languageFiles, K::largeOldFiles, K::mailAttachments, K::iosBackups,
                                   K::cloudClutter,  K::privacyTraces, K::mediaLeftovers,  K::similarImages,
                                   K::duplicates};
    std::vector<std::ptrdiff_t> seen;
    for (const auto& scanner : AllScanners::all()) {
        const auto at = std::find(positions.begin(), positions.end(), scanner->kind());
        ASSERT_NE(at, positions.end());
        seen.push_back(at - positions.begin());
    }
    // Every one of the 21 categories, each once, in position order.
    std::vector<std::ptrdiff_t> expected(positions.size());
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(seen, expected);
}

} // namespace
