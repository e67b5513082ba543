// kestrune-cli reclaim as a user runs it: the plan, the refusal without a terminal, a dry run that
// changes nothing, and a real reclaim of the Trash recorded in the audit log.
#include "KestruneCore/Activity/ActivityStore.h"
#include "KestruneCore/Platform/Trash.h"
#include "tests/TestHome.h"

#include <gtest/gtest.h>

namespace {

void plantHome(const TestTree::TemporaryHome& home) {
    TestTree::makeFile(home / "Library/Caches/app/blob", 2'000'000);
    TestTree::writeFile(home / "Documents/thesis.tex", "precious");
    for (int i = 0; i < 50; ++i) {
        TestTree::writeFile(Trash::filesFolder() + "/file" + std::to_string(i),
                            "trashed " + std::to_string(i));
    }
}

TEST(ReclaimCommand, ADryRunShowsThePlanAndChangesNothing) {
    TestTree::TemporaryHome home;
    plantHome(home);
    const auto before = TestTree::snapshot(home.path());
    const auto r = TestTree::run({TestTree::cliPath(), "reclaim", "--dry-run", "--quiet"});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("Caches "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("50 items"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Total                            51 items"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Then what this reclaim moves to the Trash is deleted from it permanently"),
              std::string::npos);
    auto after = TestTree::snapshot(home.path());
    // Only the program's own files are new: the audit log's scan event and the hash cache.
    const auto own = [](const auto& entry) {
        return entry.first.starts_with(".local/share/Kestrune") ||
               entry.first.starts_with(".cache/kestrune") || entry.first == ".cache";
    };
    std::erase_if(after, own);
    EXPECT_EQ(after, before);
    // Without a terminal and without --yes nothing happens either.
    const auto refused = TestTree::run({TestTree::cliPath(), "reclaim", "--quiet"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.output.find("pass --yes"), std::string::npos);
    after = TestTree::snapshot(home.path());
    std::erase_if(after, own);
    EXPECT_EQ(after, before);
}

TEST(ReclaimCommand, ReclaimingTheTrashEmptiesItAndRecordsEveryPath) {
    TestTree::TemporaryHome home;
    plantHome(home);
    const auto r = TestTree::run({TestTree::cliPath(), "reclaim", "--yes", "--quiet", "--category", "trash"});
    ASSERT_EQ(r.status, 0) << r.output;
    for (int i = 0; i < 50; ++i) {
        EXPECT_FALSE(TestTree::exists(Trash::filesFolder() + "/file" + std::to_string(i)));
    }
    EXPECT_TRUE(TestTree::exists(home / "Library/Caches/app/blob")); // not chosen
    EXPECT_EQ(TestTree::readFile(home / "Documents/thesis.tex"), "precious");
    const auto history = TestTree::run({TestTree::cliPath(), "history", "--json"});
    const auto document = ActivityJson::read(history.output);
    ASSERT_TRUE(document) << history.output;
    int reclaims = 0;
    for (const auto& event : document->events) {
        if (event.kind != ActivityKind::reclaim) {
            continue;
        }
        ++reclaims;
        ASSERT_EQ(event.paths.size(), 50u);
        for (const auto& p : event.paths) {
            EXPECT_EQ(p.disposition, PathDisposition::removed);
            EXPECT_TRUE(p.path.starts_with("~/.local/share/Trash/files/file")) << p.path;
        }
    }
    EXPECT_EQ(reclaims, 1); // the emptying afterwards found nothing left to record
    EXPECT_EQ(document->events.front().kind, ActivityKind::reclaim);
}

TEST(ReclaimCommand, AFailedItemIsReportedWithExitStatusOne) {
    TestTree::TemporaryHome home;
    TestTree::makeFile(home / "Library/Caches/stuck/blob", 2'000'000);
    const std::string stuck = home / "Library/Caches/stuck"; // an immutable folder cannot be renamed
    TestTree::makeFile(home / "Library/Caches/free/blob", 2'000'000);
    if (TestTree::run({"/usr/bin/chattr", "+i", stuck}).status != 0) {
        GTEST_SKIP() << "chattr +i is not possible here";
    }
    const auto r = TestTree::run({TestTree::cliPath(), "reclaim", "--yes", "--quiet", "--no-empty"});
    TestTree::run({"/usr/bin/chattr", "-i", stuck});
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("stuck: "), std::string::npos) << r.output;
    EXPECT_TRUE(TestTree::exists(stuck));
    EXPECT_FALSE(TestTree::exists(home / "Library/Caches/free"));
    EXPECT_TRUE(TestTree::exists(Trash::filesFolder() + "/free/blob")); // --no-empty: still in the Trash
}

} // namespace
