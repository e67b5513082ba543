// Simulators and container engines. The scanners on real temporary homes: floors each side, preference
// order, dates (the Linux engines' places and labels are checked on the whole Linux home). The tool
// runners with real child processes: stand-in tools record what they were asked; the sentences follow
// what the tool said.
#include "KestruneCore/Maintenance/ToolCleanup.h"
#include "KestruneCore/Scanners/ToolOwnedScanners.h"
#include "KestruneCore/Walk/DiskMeasure.h"
#include "tests/TestHome.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// A stand-in tool at `path`: writes its arguments one per line to `path`.arguments, prints `output`, exits
// with `status`.
void installTool(const std::string& path, const std::string& output, int status) {
    TestTree::writeFile(path,
                        "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > \"$0.arguments\"\nprintf '%s' '" +
                            output + "'\nexit " + std::to_string(status) + "\n");
    ASSERT_EQ(chmod(path.c_str(), 0755), 0);
}

// Only simulators and Docker have a runner; each runner says when its tool is missing, asks the tool only
// what it is meant to (Docker: what it could reclaim, never a prune), and turns what the tool said into
// its sentence. The tools' system places lie below the home, so a client of this machine never runs.
TEST(ToolCleanup, RunnersAskTheirToolAndSayWhatItSaid) {
    TestTree::TemporaryHome home;
    const std::string system = TestTree::makeFolder(home / "system");
    setenv("KESTRUNE_SYSTEM_ROOT", system.c_str(), 1);      // the home puts the old value back
    const std::string docker = home / ".docker/bin/docker"; // where Docker keeps its own client
    const std::string xcrun = system + "/usr/bin/xcrun";
    EXPECT_EQ(ToolCleanup::run(CategoryKind::docker),
              "Docker CLI not found. Install Docker, start it, then try again.");
    EXPECT_EQ(ToolCleanup::run(CategoryKind::simulators),
              "Xcode command-line tools not found. Install them, then try again.");
    installTool(docker, "", 0);
    for (const CategoryKind kind : CategoryKinds::allCases()) {
        const bool runnable = kind == CategoryKind::simulators || kind == CategoryKind::docker;
        EXPECT_EQ(ToolCleanup::isRunnable(kind), runnable);
        EXPECT_EQ(ToolCleanup::command(kind).empty(), !runnable);
        if (!runnable) {
            EXPECT_EQ(ToolCleanup::run(kind), "This category has no in-app runner.");
        }
    }
    EXPECT_FALSE(TestTree::exists(docker + ".arguments"));
    EXPECT_EQ(ToolCleanup::command(CategoryKind::docker).find("--privileged"), std::string::npos);

    const struct {
        CategoryKind kind;
        const char* output;
        int status;
        const char* sentence;
    } cases[] = {
        {CategoryKind::docker, "TYPE  TOTAL  RECLAIMABLE\nImages  3  1.2GB (60%)", 0,
         "Docker reports this space (see RECLAIMABLE):\nTYPE  TOTAL  RECLAIMABLE\nImages  3  1.2GB (60%)"},
        {CategoryKind::docker, "Cannot connect to the Docker daemon at unix:///var/run/docker.sock.", 1,
         "Docker doesn't look like it's running. Start it, wait until it's idle, then try again."},
        {CategoryKind::docker, "", 1, "Docker query failed."},
        {CategoryKind::docker, "  unknown flag: --weird  ", 3, "Docker query failed: unknown flag: --weird"},
        {CategoryKind::docker, "", 0, "Docker reports nothing to reclaim."},
        {CategoryKind::simulators, "", 0, "Unavailable simulators deleted."},
        {CategoryKind::simulators, "  Deleted: iPhone 8 (A1B2)\n", 0,
         "Unavailable simulators deleted.\nDeleted: iPhone 8 (A1B2)"},
        {CategoryKind::simulators, "error: tool requires XCODE to be selected", 1,
         "Couldn't talk to simctl. Open Xcode once (or run xcode-select) and try again."},
        {CategoryKind::simulators, "", 72, "simctl failed."},
        {CategoryKind::simulators, "device busy", 1, "simctl failed: device busy"}};
    for (const auto& c : cases) {
        const bool isDocker = c.kind == CategoryKind::docker;
        const std::string tool = isDocker ? docker : xcrun;
        installTool(tool, c.output, c.status);
        EXPECT_EQ(ToolCleanup::run(c.kind), c.sentence);
        EXPECT_EQ(TestTree::readFile(tool + ".arguments"),
                  isDocker ? "system\ndf\n" : "simctl\ndelete\nunavailable\n")
            << c.sentence;
    }
    // The system's client comes before the home's.
    installTool(system + "/usr/local/bin/docker", "from the system", 0);
    std::filesystem::remove(docker + ".arguments");
    EXPECT_EQ(ToolCleanup::runDocker(), "Docker reports this space (see RECLAIMABLE):\nfrom the system");
    EXPECT_FALSE(TestTree::exists(docker + ".arguments"));
}

// Simulators: the devices folder whole, then the caches, each from the floor. Docker: the first
// candidate from the floor is the one item: Docker's image, its older place, its data folder, Colima,
// Lima.
TEST(ToolOwnedScanners, ItemsInTheirOrderFromTheFloor) {
    const TestTree::TemporaryHome probe; // each case has a home of its own inside it
    const auto b = TestTree::block(probe);
    const std::int64_t at = TestTree::atOrAbove(100'000'000, b);
    const std::int64_t under = TestTree::below(100'000'000, b);
    const std::string devices = "Library/Developer/CoreSimulator/Devices";
    const std::string caches = "Library/Developer/CoreSimulator/Caches";
    const std::string data = "Library/Containers/com.docker.docker/Data";
    const std::string image = data + "/vms/0/data/Docker.raw";
    const std::string oldImage = data + "/vms/0/Docker.raw";
    const std::function<std::vector<CleanupItem>()> simulators = [] { return SimulatorScanner().scan(); };
    const std::function<std::vector<CleanupItem>()> engines = [] { return DockerScanner().scan(); };
    const struct {
        const char* name;
        std::function<std::vector<CleanupItem>()> scan;
        std::vector<TestTree::Entry> files;
        std::vector<std::string> expected;
    } cases[] = {
        {"devices together at the floor, caches one block below",
         simulators,
         {{devices + "/A1B2/data/disk.img", at - b},
          {devices + "/C3D4/data/small", b},
          {caches + "/c", under}},
         {devices}},
        {"devices, then caches",
         simulators,
         {{caches + "/c", at}, {devices + "/A1B2/d", at}},
         {devices, caches}},
        {"the image before everything",
         engines,
         {{image, 1'000'000'000}, {".colima/default/disk", 400'000'000}},
         {image}},
        {"an image under the floor gives way to the data folder",
         engines,
         {{image, 80'000'000}, {data + "/log/big", at}},
         {data}},
        {"the older image path", engines, {{oldImage, at}}, {oldImage}},
        {"under the floor neither the image nor its data folder", engines, {{oldImage, under}}, {}},
        {"Colima before Lima",
         engines,
         {{".lima/vm/disk", 3 * at}, {".colima/vm/disk", 3 * at}},
         {".colima"}},
        {"Lima", engines, {{".lima/vm/disk", at}}, {".lima"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestTree::TemporaryHome home;
        TestTree::build(home.path(), c.files);
        std::vector<std::string> expected;
        for (const auto& relative : c.expected) {
            expected.push_back(home / relative);
            TestTree::setModified(expected.back(), TestTree::daysAgo(3));
        }
        std::vector<std::string> found;
        for (const auto& item : c.scan()) {
            found.push_back(item.url);
            EXPECT_EQ(item.modified, DiskMath::modified(item.url));
        }
        EXPECT_EQ(found, expected);
    }
    // A linked image does not count as the image.
    TestTree::TemporaryHome home;
    TestTree::build(home.path(),
                    {{"elsewhere/Docker.raw", 500'000'000}, {image, {}, -1, home / "elsewhere/Docker.raw"}});
    EXPECT_TRUE(DockerScanner().scan().empty());
}

} // namespace
