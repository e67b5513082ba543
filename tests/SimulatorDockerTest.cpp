// Simulator and container-engine scanners on real temporary homes: floors, preference order, dates.
#include "KestruneCore/Scanners/ToolOwnedScanners.h"
#include "KestruneCore/Walk/DiskMeasure.h"
#include "tests/TestHome.h"

#include <gtest/gtest.h>

namespace {

using TestTree::atOrAbove;
using TestTree::below;
using TestTree::block;

std::vector<std::string> urls(const std::vector<CleanupItem>& items) {
    std::vector<std::string> out;
    for (const auto& i : items) {
        out.push_back(i.url);
    }
    return out;
}

const std::string devices = "Library/Developer/CoreSimulator/Devices";
const std::string caches = "Library/Developer/CoreSimulator/Caches";
const std::string image = "Library/Containers/com.docker.docker/Data/vms/0/data/Docker.raw";
const std::string oldImage = "Library/Containers/com.docker.docker/Data/vms/0/Docker.raw";
const std::string data = "Library/Containers/com.docker.docker/Data";

TEST(Simulators, DevicesAreOneItemAndBothFoldersComeInOrderFromTheirFloor) {
    TestTree::TemporaryHome home;
    const auto b = block(home);
    EXPECT_TRUE(SimulatorScanner().scan().empty());
    TestTree::makeFolder(home / devices);
    EXPECT_TRUE(SimulatorScanner().scan().empty());
    TestTree::makeFile(home / (devices + "/A1B2/data/disk.img"), atOrAbove(100'000'000, b));
    TestTree::makeFile(home / (devices + "/C3D4/data/small"), 4096);
    TestTree::makeFile(home / (caches + "/dyld/cache"), below(100'000'000, b));
    const auto when = std::chrono::system_clock::now() - std::chrono::hours(24 * 3);
    TestTree::setModified(home / devices, when);
    const auto items = SimulatorScanner().scan();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].url, home / devices);
    EXPECT_EQ(std::chrono::time_point_cast<std::chrono::seconds>(items[0].modified),
              std::chrono::time_point_cast<std::chrono::seconds>(when));
    TestTree::makeFile(home / (caches + "/dyld/cache"), atOrAbove(100'000'000, b));
    EXPECT_EQ(urls(SimulatorScanner().scan()), (std::vector<std::string>{home / devices, home / caches}));
}

// Docker's image first, then its older place, its data folder, Colima, Lima; each from the floor.
TEST(Docker, TheFirstCandidateAtItsFloorIsTheOneItem) {
    std::int64_t b = 0;
    {
        TestTree::TemporaryHome probe;
        b = block(probe);
    }
    const std::int64_t at = atOrAbove(100'000'000, b);
    const std::int64_t under = below(100'000'000, b);
    const struct {
        const char* name;
        std::vector<TestTree::Entry> files;
        std::string expected; // empty: nothing
    } cases[] = {
        {"no engine", {}, ""},
        {"the image before everything",
         {{image, 1'000'000'000}, {".colima/default/disk", 400'000'000}},
         image},
        {"an image under the floor gives way to the data folder",
         {{image, 80'000'000}, {data + "/log/big", at}},
         data},
        {"the older image path", {{oldImage, at}}, oldImage},
        {"under the floor neither the image nor its data folder", {{oldImage, under}}, ""},
        {"Colima before Lima", {{".lima/vm/disk", 300'000'000}, {".colima/vm/disk", 300'000'000}}, ".colima"},
        {"Lima", {{".lima/vm/disk", at}}, ".lima"},
        {"Colima under the floor", {{".colima/default/disk", under}}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestTree::TemporaryHome home;
        TestTree::build(home.path(), c.files);
        const auto items = DockerScanner().scan();
        if (c.expected.empty()) {
            EXPECT_TRUE(items.empty());
            continue;
        }
        ASSERT_EQ(items.size(), 1u);
        EXPECT_EQ(items[0].url, home / c.expected);
        EXPECT_EQ(items[0].modified, DiskMath::modified(home / c.expected));
    }
    // A linked image does not count as the image.
    TestTree::TemporaryHome home;
    TestTree::build(home.path(),
                    {{"elsewhere/Docker.raw", 500'000'000}, {image, {}, -1, home / "elsewhere/Docker.raw"}});
    EXPECT_TRUE(DockerScanner().scan().empty());
}

} // namespace
