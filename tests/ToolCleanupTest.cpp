// The tool runners with real child processes: a stand-in Docker client where Docker keeps its own
// (in the temporary home) records what it was asked; the sentences follow what the tool said.
#include "KestruneCore/Maintenance/ToolCleanup.h"
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
    std::filesystem::remove(homeDocker(home));
    EXPECT_EQ(ToolCleanup::runDocker(), "Docker CLI not found. Install Docker, start it, then try again.");
}

TEST(ToolCleanup, TheSystemsDockerComesBeforeTheHomesOne) {
    TestTree::TemporaryHome home;
    SystemRoot system(home);
    installTool(homeDocker(home), "from the home", 0);
    installTool(system.path + "/usr/local/bin/docker", "from the system", 0);
    EXPECT_EQ(ToolCleanup::runDocker(), "Docker reports this space (see RECLAIMABLE):\nfrom the system");
    EXPECT_EQ(TestTree::readFile(system.path + "/usr/local/bin/docker.arguments"), "system\ndf\n");
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

} // namespace
