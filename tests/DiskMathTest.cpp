// Measuring on real trees: allocated bytes, links count nothing, bad input never breaks a measurement.
#include "KestruneCore/Walk/DiskMeasure.h"
#include "tests/TestHome.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// Each file counts once however many links it has, and removing frees only files whose every link lies
// inside; links, missing paths and empty folders measure nothing, and missing files are from the distant
// past.
TEST(DiskMathSize, RemovingFreesOnlyFilesWhoseEveryLinkLiesInsideAndLinksMeasureZero) {
    TestTree::TemporaryHome home;
    EXPECT_EQ(DiskMath::modified(home / "missing"), Dates::distantPast);
    const auto when = std::chrono::system_clock::from_time_t(1'700'000'000);
    TestTree::setModified(TestTree::makeFile(home / "f"), when);
    EXPECT_EQ(DiskMath::modified(home / "f"), when);
    EXPECT_GT(DiskMath::freeSpace(), 0);
    EXPECT_LE(DiskMath::freeSpace(), DiskMath::totalSpace());
    const std::string solo = TestTree::makeFile(home / "tree/solo", 100'000);
    const std::string pair = TestTree::makeFile(home / "tree/sub/pair", 200'000);
    ASSERT_EQ(link(pair.c_str(), (home / "tree/pair-again").c_str()), 0);
    const std::string shared = TestTree::makeFile(home / "tree/sub/shared", 400'000);
    ASSERT_EQ(link(shared.c_str(), (home / "outside").c_str()), 0);
    TestTree::build(
        home.path(),
        {{"link", {}, -1, home / "tree"}, {"holder/inner-link", {}, -1, home / "tree"}, {"empty/"}});
    for (const std::string& path :
         {home / "link", home / "holder", home / "missing", home / "empty", std::string()}) {
        EXPECT_EQ(DiskMath::size(path), 0) << path;
    }
    // Far deeper than PATH_MAX: every folder is opened from its parent, so the bottom file still counts.
    const std::string deep = TestTree::makeFolder(home / "deep");
    int fd = open(deep.c_str(), O_RDONLY | O_DIRECTORY);
    for (int level = 0; level < 2000 && fd >= 0; ++level) {
        const int next = mkdirat(fd, "d", 0755) == 0 ? openat(fd, "d", O_RDONLY | O_DIRECTORY) : -1;
        close(fd);
        fd = next;
    }
    const int file = openat(fd, "bottom", O_WRONLY | O_CREAT, 0644);
    struct stat st {};
    ASSERT_EQ(posix_fallocate(file, 0, 8192) | fstat(file, &st), 0);
    close(file);
    close(fd);
    const std::int64_t a = TestTree::allocated(solo), b = TestTree::allocated(pair),
                       c = TestTree::allocated(shared), d = st.st_blocks * 512;
    const struct {
        std::string path;
        std::int64_t bytes, freed;
    } cases[] = {
        {home / "tree", a + b + c, a + b},
        {home / "tree/sub", b + c, 0},
        {solo, a, a},
        {shared, c, 0},
        {deep, d, d},
    };
    for (const auto& want : cases) {
        const auto got = DiskMath::measured(want.path);
        EXPECT_EQ(std::pair(got.bytes, got.freedByRemoving), std::pair(want.bytes, want.freed)) << want.path;
    }
}

// Twelve threads measuring at once: never more than six measurements run together, each is exact, and
// a folder replaced by a file (and back) while it is walked never breaks the measurement around it.
TEST(DiskMathSize, AtMostSixMeasurementsRunAtOnceAndAFolderSwappedMidWalkBreaksNothing) {
    TestTree::TemporaryHome home;
    for (int d = 0; d < 400; ++d) {
        TestTree::makeFile(home / ("wide/d" + std::to_string(d) + "/x/y/f"), 4096);
    }
    const std::int64_t expected = TestTree::allocatedTree(home / "wide");
    const std::int64_t keep = TestTree::allocated(TestTree::makeFile(home / "stable/keep", 4096 * 4));
    std::atomic<int> peak{0}, wrong{0};
    std::atomic<bool> done{false};
    std::thread watcher([&] {
        while (!done) {
            const int now = DiskMath::measurementsInFlight();
            for (int old = peak.load(); old < now && !peak.compare_exchange_weak(old, now);) {
            }
        }
    });
    std::thread swapper([&] {
        const std::string p = home / "stable/flip";
        for (std::error_code ec; !done;) {
            std::filesystem::remove_all(p, ec);
            TestTree::makeFile(p + "/inner/f", 4096);
            std::filesystem::remove_all(p, ec);
            TestTree::makeFile(p, 4096);
        }
    });
    std::vector<std::thread> callers;
    for (int i = 0; i < 12; ++i) {
        callers.emplace_back([&] {
            for (int k = 0; k < 3; ++k) {
                wrong += DiskMath::size(home / "wide") != expected;
            }
            for (int k = 0; k < 25; ++k) {
                const auto bytes = DiskMath::size(home / "stable");
                wrong += bytes < keep || bytes > keep + 2 * 4096;
            }
        });
    }
    for (auto& c : callers) {
        c.join();
    }
    done = true;
    watcher.join();
    swapper.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_LE(peak.load(), 6);
}

// What could not be read is said, and the figures are marked as lower bounds (run as "nobody" under root).
TEST(DiskMathSize, AnUnreadableFolderCountsNothingEvenForRoot) {
    TestTree::TemporaryHome home;
    TestTree::makeFile(home / "tree/open/file", 16384);
    TestTree::makeFile(home / "tree/locked/secret", 1 << 20);
    ASSERT_EQ(chmod((home / "tree/locked").c_str(), 0), 0);
    const auto result =
        TestTree::run({TestTree::cliPath(), "size", "--json", home / "tree", home / "tree/locked"},
                      TestTree::Privilege::unprivileged);
    chmod((home / "tree/locked").c_str(), 0755);
    EXPECT_EQ(result.status, 1) << result.output;
    EXPECT_NE(result.output.find("locked: 1 entry could not be read"), std::string::npos) << result.output;
    const auto doc = nlohmann::json::parse(result.output.substr(result.output.find('[')));
    ASSERT_EQ(doc.size(), 2u);
    EXPECT_EQ(doc[0]["bytes"].get<std::int64_t>(), TestTree::allocated(home / "tree/open/file"));
    EXPECT_EQ(doc[1]["bytes"].get<std::int64_t>(), 0);
    for (const auto& entry : doc) {
        EXPECT_EQ(entry["unreadable"].get<std::int64_t>(), 1);
    }
}

} // namespace
