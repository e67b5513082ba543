// Simulators and container engines. The scanners on real temporary homes: floors, preference order,
// dates. The tool runners with real child processes: a stand-in Docker client where Docker keeps its own
// (in the temporary home) records what it was asked; the sentences follow what the tool said.
#include "KestruneCore/Maintenance/ToolCleanup.h"
#include "KestruneCore/Scanners/ToolOwnedScanners.h"
#include "KestruneCore/Walk/DiskMeasure.h"
#include "tests/TestHome.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// The tools' system places below the temporary home, so that a client installed on this machine is
// never run.
struct SystemRoot {
    explicit SystemRoot(const TestTree::TemporaryHome& home) : path(TestTree::makeFolder(home / "system")) {
        setenv("KESTRUNE_SYSTEM_ROOT", path.c_str(), 1); // the home puts the old value back
    }
    std::string path;
};

// A stand-in tool at `path`: writes its arguments one per line to `path`.arguments, prints `output`, exits
// with `status`.
void installTool(const std::string& path, const std::string& output, int status) {
    TestTree::writeFile(path,
                        "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > \"$0.arguments\"\nprintf '%s' '" +
                            output + "'\nexit " + std::to_string(status) + "\n");
    ASSERT_EQ(chmod(path.c_str(), 0755), 0);
}

// Docker where it keeps its own client, in the home.
std::string homeDocker(const TestTree::TemporaryHome& home) {
    return home / ".docker/bin/docker";
}

// What a stand-in tool prints and its exit status, and the sentence the user reads then.
struct Said {
    const char* output;
    int status;
    const char* sentence;
};

TEST(ToolCleanup, OnlySimulatorsAndDockerHaveARunnerAndOthersStartNothing) {
    TestTree::TemporaryHome home;
    SystemRoot system(home);
    installTool(homeDocker(home), "", 0);
    for (const CategoryKind kind : CategoryKinds::allCases()) {
        const bool runnable = kind == CategoryKind::simulators || kind == CategoryKind::docker;
        EXPECT_EQ(ToolCleanup::isRunnable(kind), runnable);
        EXPECT_EQ(ToolCleanup::command(kind).empty(), !runnable);
        if (!runnable) {
            EXPECT_EQ(ToolCleanup::run(kind), "This category has no in-app runner.");
        }
    }
    EXPECT_FALSE(TestTree::exists(homeDocker(home) + ".arguments"));
}

TEST(ToolCleanup, DockerIsOnlyAskedWhatItCouldReclaimAndFailuresBecomeTheirSentences) {
    TestTree::TemporaryHome home;
    SystemRoot system(home);
    EXPECT_EQ(ToolCleanup::runDocker(), "Docker CLI not found. Install Docker, start it, then try again.");
    const Said cases[] = {
        {"TYPE  TOTAL  RECLAIMABLE\nImages  3  1.2GB (60%)", 0,
         "Docker reports this space (see RECLAIMABLE):\nTYPE  TOTAL  RECLAIMABLE\nImages  3  1.2GB (60%)"},
        {"Cannot connect to the Docker daemon at unix:///var/run/docker.sock.", 1,
         "Docker doesn't look like it's running. Start it, wait until it's idle, then try again."},
        {"", 1, "Docker query failed."},
        {"  unknown flag: --weird  ", 3, "Docker query failed: unknown flag: --weird"},
        {"", 0, "Docker reports nothing to reclaim."}};
    for (const auto& c : cases) {
        installTool(homeDocker(home), c.output, c.status);
        EXPECT_EQ(ToolCleanup::run(CategoryKind::docker), c.sentence);
        EXPECT_EQ(TestTree::readFile(homeDocker(home) + ".arguments"), "system\ndf\n") << c.sentence;
    }
    EXPECT_EQ(ToolCleanup::command(CategoryKind::docker).find("--privileged"), std::string::npos);
    // The system's client comes before the home's.
    installTool(system.path + "/usr/local/bin/docker", "from the system", 0);
    std::filesystem::remove(homeDocker(home) + ".arguments");
    EXPECT_EQ(ToolCleanup::runDocker(), "Docker reports this space (see RECLAIMABLE):\nfrom the system");
    EXPECT_FALSE(TestTree::exists(homeDocker(home) + ".arguments"));
}

TEST(ToolCleanup, SimulatorSentencesFollowWhatSimctlSaid) {
    TestTree::TemporaryHome home;
    SystemRoot system(home);
    EXPECT_EQ(ToolCleanup::run(CategoryKind::simulators),
              "Xcode command-line tools not found. Install them, then try again.");
    const std::string xcrun = system.path + "/usr/bin/xcrun";
    const Said cases[] = {
        {"", 0, "Unavailable simulators deleted."},
        {"  Deleted: iPhone 8 (A1B2)\n", 0, "Unavailable simulators deleted.\nDeleted: iPhone 8 (A1B2)"},
        {"error: tool requires XCODE to be selected", 1,
         "Couldn't talk to simctl. Open Xcode once (or run xcode-select) and try again."},
        {"", 72, "simctl failed."},
        {"device busy", 1, "simctl failed: device busy"}};
    for (const auto& c : cases) {
        installTool(xcrun, c.output, c.status);
        EXPECT_EQ(ToolCleanup::runSimulators(), c.sentence);
        EXPECT_EQ(TestTree::readFile(xcrun + ".arguments"), "simctl\ndelete\nunavailable\n") << c.sentence;
    }
}

// --- the scanners ------------------------------------------------------------------------------

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
    const TestTree::TemporaryHome probe; // each case has a home of its own inside it
    const auto b = block(probe);
    const std::int64_t at = atOrAbove(100'000'000, b);
    const std::int64_t under = below(100'000'000, b);
    const struct {
        const char* name;
        std::vector<TestTree::Entry> files;
        std::string expected; // empty: nothing
    } cases[] = {
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
