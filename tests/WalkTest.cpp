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

TEST(PrunedWalkFind, TargetsWinOverExclusionsAndHiddenNamesButNestingAndLinksAreNotReported) {
    TestTree::TemporaryHome home;
    TestTree::makeFile(home / "proj/node_modules/x/node_modules/y", 4096);
    TestTree::makeFile(home / "proj/.build/out", 4096);
    TestTree::makeFile(home / "Library/app/node_modules/z", 4096);
    TestTree::makeFile(home / ".hidden/node_modules/z", 4096);
    TestTree::makeFolder(home / "empty/node_modules");
    TestTree::makeFolder(home / "linked");
    ASSERT_EQ(symlink((home / "proj/node_modules").c_str(), (home / "linked/node_modules").c_str()), 0);
    const auto found = PrunedWalk::find({"node_modules", ".build"}, home.path(), 5);
    EXPECT_EQ(urls(found), (std::set<std::string>{home / "proj/node_modules", home / "proj/.build"}));
    // Library is searched when it is itself a target.
    EXPECT_EQ(urls(PrunedWalk::find({"Library"}, home.path(), 0)), std::set<std::string>{home / "Library"});
}

TEST(PrunedWalkFind, DepthCountsFoldersBetweenRootAndTarget) {
    TestTree::TemporaryHome home;
    TestTree::makeFile(home / "a/b/c/node_modules/f", 4096);
    EXPECT_TRUE(PrunedWalk::find({"node_modules"}, home.path(), 2).empty());
    EXPECT_EQ(PrunedWalk::find({"node_modules"}, home.path(), 3).size(), 1u);
    TestTree::makeFile(home / "node_modules/f", 4096);
    EXPECT_EQ(urls(PrunedWalk::find({"node_modules"}, home.path(), 0)),
              std::set<std::string>{home / "node_modules"});
}

} // namespace
