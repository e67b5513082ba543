// Scanner helpers and the pruned walk on real trees.
#include "KestruneCore/Walk/PrunedWalk.h"
#include "KestruneCore/Walk/ScannerHelpers.h"
#include "tests/TestHome.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace {

using TestTree::urls;

TEST(Children, FloorIsInclusiveFoldersAreMeasuredWholeAndLinksAndHiddenEntriesAreNever) {
    TestTree::TemporaryHome home;
    TestTree::makeFile(home / "root/exact", 8192);
    TestTree::makeFile(home / "root/small", 4096);
    TestTree::makeFile(home / "root/folder/a/b", 8192);
    TestTree::makeFile(home / "root/.hidden", 1 << 20);
    ASSERT_EQ(symlink((home / "root/folder").c_str(), (home / "root/link").c_str()), 0);
    ASSERT_EQ(symlink("/nowhere", (home / "root/dangling").c_str()), 0);
    const std::int64_t floor = TestTree::allocated(home / "root/exact");
    const auto items = ScannerHelpers::children(home / "root", floor);
    EXPECT_EQ(urls(items), (std::set<std::string>{home / "root/exact", home / "root/folder"}));
    for (const auto& i : items) {
        EXPECT_EQ(i.bytes, TestTree::allocatedTree(i.url));
        EXPECT_NE(i.modified, Dates::distantPast);
    }
    EXPECT_EQ(ScannerHelpers::children(home / "root", floor + 1).size(), 0u);
    // With no floor a link, measuring nothing, would pass it: still never a child.
    EXPECT_EQ(urls(ScannerHelpers::children(home / "root", 0)),
              (std::set<std::string>{home / "root/exact", home / "root/small", home / "root/folder"}));
}

// Targets win over exclusions and hidden names, but nesting and links are not reported; depth counts
// the folders between root and target.
TEST(PrunedWalkFind, TargetsAtTheirDepthButNotNestedOrLinked) {
    TestTree::TemporaryHome home;
    TestTree::makeFile(home / "proj/node_modules/x/node_modules/y", 4096);
    TestTree::makeFile(home / "proj/.build/out", 4096);
    TestTree::makeFile(home / "Library/app/node_modules/z", 4096);
    TestTree::makeFile(home / ".hidden/node_modules/z", 4096);
    TestTree::makeFile(home / "a/b/c/node_modules/f", 4096);
    TestTree::makeFolder(home / "empty/node_modules");
    TestTree::makeFolder(home / "linked");
    ASSERT_EQ(symlink((home / "proj/node_modules").c_str(), (home / "linked/node_modules").c_str()), 0);
    const std::set<std::string> targets{home / "proj/node_modules", home / "proj/.build",
                                        home / "a/b/c/node_modules"};
    EXPECT_EQ(urls(PrunedWalk::find({"node_modules", ".build"}, home.path(), 5)), targets);
    // Library is searched when it is itself a target.
    EXPECT_EQ(urls(PrunedWalk::find({"Library"}, home.path(), 0)), std::set<std::string>{home / "Library"});
    EXPECT_TRUE(PrunedWalk::find({"node_modules"}, home / "a", 1).empty());
    EXPECT_EQ(urls(PrunedWalk::find({"node_modules"}, home / "a", 2)),
              std::set<std::string>{home / "a/b/c/node_modules"});
    EXPECT_EQ(urls(PrunedWalk::find({"node_modules"}, home / "proj", 0)),
              std::set<std::string>{home / "proj/node_modules"});
}

} // namespace
