// The disk map's size tree on real temporary folders: totals against the files' allocations,
// folding into "Other", the depth limit, links, other file systems, cancellation and progress.
#include "KestruneCore/DiskMap/VolumeTree.h"
#include "KestruneCore/Walk/DiskMeasure.h"
#include "tests/TrashFixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <set>
#include <tuple>

namespace {

using namespace TestTree;

using NodePtr = std::shared_ptr<const DiskNode>;

constexpr std::int64_t MB = 1'000'000;

VolumeTree::Options standardOptions(int threads = 2, std::int64_t minBytes = 2 * MB) {
    return VolumeTree::Options{minBytes, 7, 120, threads};
}

NodePtr build(const std::string& root, const VolumeTree::Options& options = standardOptions()) {
    return VolumeTree::build(root, options, {}, {});
}

void forEachNode(const NodePtr& node, const std::function<void(const DiskNode&)>& visit) {
    visit(*node);
    for (const auto& child : node->children) {
        forEachNode(child, visit);
    }
}

// The paths of the nodes other than "Other", relative to `root` ("" for the root itself).
std::set<std::string> paths(const NodePtr& tree, const std::string& root) {
    std::set<std::string> out;
    forEachNode(tree, [&](const DiskNode& node) {
        if (!node.isAggregate) {
            out.insert(node.url == root ? "" : node.url.substr(root.size() + 1));
        }
    });
    return out;
}

// The sizes of a node's children in order, "Other" as a negative number.
std::vector<std::int64_t> sizes(const DiskNode& node) {
    std::vector<std::int64_t> out;
    for (const auto& child : node.children) {
        out.push_back(child->isAggregate ? -child->bytes : child->bytes);
    }
    return out;
}

// A deterministic bushy tree: nine levels, files from 0 bytes to 7 MB, some folders empty.
void plantTree(const std::string& root) {
    std::uint64_t state = 12345;
    const auto next = [&] {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::int64_t>(state >> 33);
    };
    std::vector<std::string> folders{root};
    const auto pick = [&] {
        return folders[static_cast<std::size_t>(next() % std::int64_t(folders.size()))];
    };
    for (int i = 1; i < 120; ++i) {
        const auto parent = pick();
        if (std::count(parent.begin(), parent.end(), '/') - std::count(root.begin(), root.end(), '/') < 9) {
            folders.push_back(makeFolder(parent + "/d" + std::to_string(i)));
        }
    }
    for (int i = 0; i < 400; ++i) {
        const auto folder = pick();
        makeFile(folder + "/f" + std::to_string(i), (i % 9 == 0) ? 0 : (next() % 7) * MB + next() % 200'000);
    }
}

// Every node in walk order with its size, kinds and number of children: equal shapes are equal trees.
using Shape = std::vector<std::tuple<std::string, std::int64_t, bool, bool, std::size_t>>;
Shape shape(const NodePtr& tree) {
    Shape out;
    if (tree) {
        forEachNode(tree, [&](const DiskNode& n) {
            out.emplace_back(n.url, n.bytes, n.isDirectory, n.isAggregate, n.children.size());
        });
    }
    return out;
}

// Every folder is the sum of its children, largest first with "Other" last, under the folder and above
// the floor; with a trailing slash and with any number of threads the tree is the same, its total the
// files' allocations.
TEST(VolumeTree, TheTotalIsTheSumOfTheFilesAllocations) {
    TemporaryHome home;
    plantTree(home / "tree");
    const auto tree = build(home / "tree");
    ASSERT_TRUE(tree);
    EXPECT_EQ(tree->bytes, allocatedTree(home / "tree"));
    for (const auto& [path, threads] :
         {std::pair{home / "tree", 1}, {home / "tree", 8}, {home / "tree/", 2}, {home / "tree///", 2}}) {
        EXPECT_EQ(shape(build(path, standardOptions(threads))), shape(tree)) << path << ", " << threads;
    }
    forEachNode(tree, [&](const DiskNode& node) {
        if (!node.isDirectory || node.children.empty()) {
            return;
        }
        std::int64_t sum = 0;
        for (std::size_t i = 0; i < node.children.size(); ++i) {
            const auto& child = *node.children[i];
            sum += child.bytes;
            if (child.isAggregate) {
                EXPECT_EQ(i + 1, node.children.size()) << "Other is last in " << node.url;
                EXPECT_FALSE(child.isDirectory);
            } else {
                EXPECT_GE(child.bytes, 2 * MB) << child.url;
                EXPECT_TRUE(child.url.starts_with(node.url + "/")) << child.url << " under " << node.url;
                EXPECT_TRUE(i == 0 || child.bytes <= node.children[i - 1]->bytes) << node.url;
            }
        }
        EXPECT_EQ(sum, node.bytes) << node.url;
    });
}

TEST(VolumeTree, SmallItemsAndThoseBeyond120FoldIntoOneOther) {
    TemporaryHome home;
    std::int64_t small = 0;
    for (int i = 0; i < 30; ++i) {
        small += allocated(makeFile(home / ("small/f" + std::to_string(i)), 300'000));
    }
    small += allocated(makeFile(home / "small/sub/tiny", 100'000));
    const auto tree = build(home / "small");
    ASSERT_TRUE(tree);
    EXPECT_EQ(sizes(*tree), std::vector<std::int64_t>{-small});

    // 200 files of 10 MB in one folder beside 200 alike folders of one 3 MB file each.
    std::int64_t each = 0, folder = 0;
    for (int i = 0; i < 200; ++i) {
        each = allocated(makeFile(home / ("root/many/f" + std::to_string(i)), 10 * MB));
        folder = allocated(makeFile(home / ("root/d" + std::to_string(i) + "/file"), 3 * MB));
    }
    const auto root = build(home / "root");
    ASSERT_TRUE(root);
    std::vector<std::int64_t> inMany(120, each), inRoot(120, folder);
    inMany.push_back(-80 * each);
    inRoot[0] = 200 * each;
    inRoot.push_back(-81 * folder);
    EXPECT_EQ(sizes(*root), inRoot);
    EXPECT_EQ(root->children[0]->url, home / "root/many");
    EXPECT_EQ(sizes(*root->children[0]), inMany);
}

TEST(VolumeTree, AFolderAtTheDepthLimitIsALeafOfItsFullSize) {
    TemporaryHome home;
    std::string path = home / "deep";
    std::vector<std::string> levels{path};
    for (int depth = 1; depth <= 12; ++depth) {
        path += "/l" + std::to_string(depth);
        levels.push_back(path);
        makeFile(path + "/file", 3 * MB);
    }
    const std::int64_t each = allocated(levels[1] + "/file");
    // Level 7 is measured as one block; each level above it holds the next level and its own file.
    Shape expected{{levels[0], 12 * each, true, false, 1}};
    for (int depth = 1; depth <= 7; ++depth) {
        expected.emplace_back(levels[depth], (13 - depth) * each, true, false, depth == 7 ? 0 : 2);
    }
    for (int depth = 6; depth >= 1; --depth) {
        expected.emplace_back(levels[depth] + "/file", each, false, false, 0);
    }
    EXPECT_EQ(shape(build(home / "deep")), expected);
}

// Progress never decreases and ends at 1.0 with every folder and byte counted, also for a root of files
// only; a cancelled build returns nothing, whether cancelled from the start or in the middle of the
// walk, and reports nothing after it returned.
TEST(VolumeTree, ProgressNeverDecreasesAndEndsAtOneAndCancellationReturnsNothing) {
    TemporaryHome home;
    // Wide and deep enough for many folders to be queued while others are listed: 6 + 120 + 1,440.
    for (int i = 0; i < 6 * 20 * 12; ++i) {
        makeFile(home / ("tree/a" + std::to_string(i / 240) + "/b" + std::to_string(i / 12 % 20) + "/c" +
                         std::to_string(i % 12) + "/f"),
                 4096);
    }
    std::mutex lock;
    std::vector<VolumeTree::Progress> reports;
    const auto tree = VolumeTree::build(
        home / "tree", standardOptions(4),
        [&](const VolumeTree::Progress& p) {
            const std::lock_guard guard(lock);
            reports.push_back(p);
        },
        [] { return false; });
    ASSERT_TRUE(tree);
    ASSERT_FALSE(reports.empty());
    const std::set<std::string> tops{"a0", "a1", "a2", "a3", "a4", "a5"};
    for (std::size_t i = 0; i < reports.size(); ++i) {
        EXPECT_EQ(tops.count(reports[i].area), 1u) << reports[i].area;
        if (i > 0) {
            EXPECT_GE(reports[i].fraction, reports[i - 1].fraction) << i;
            EXPECT_GE(reports[i].directories, reports[i - 1].directories) << i;
            EXPECT_GE(reports[i].bytes, reports[i - 1].bytes) << i;
        }
    }
    EXPECT_EQ(std::tuple(reports.back().fraction, reports.back().directories, reports.back().bytes),
              std::tuple(1.0, 6 + 120 + 1440, tree->bytes));
    makeFile(home / "flat/one", 3 * MB);
    std::vector<VolumeTree::Progress> flat;
    ASSERT_TRUE(VolumeTree::build(home / "flat", standardOptions(),
                                  [&](const VolumeTree::Progress& p) { flat.push_back(p); }, {}));
    ASSERT_EQ(flat.size(), 1u);
    EXPECT_EQ(std::pair(flat.back().fraction, flat.back().bytes),
              std::pair(1.0, allocated(home / "flat/one")));

    EXPECT_FALSE(VolumeTree::build(home / "tree", standardOptions(), {}, [] { return true; }));
    EXPECT_FALSE(VolumeTree::build(home / "flat", standardOptions(), {}, [] { return true; }));
    std::atomic<int> polls{0};
    std::atomic<int> reportsAfterReturn{0};
    std::atomic<bool> returned{false};
    const auto cancelled = VolumeTree::build(
        home / "tree", standardOptions(),
        [&](const VolumeTree::Progress&) { reportsAfterReturn += returned ? 1 : 0; },
        [&] { return ++polls > 20; });
    returned = true;
    EXPECT_FALSE(cancelled);
    EXPECT_EQ(reportsAfterReturn.load(), 0);
}

// Zero-size files and empty folders get no node; links are never followed, not even at the top; a
// folder named like a system tree below the top is an ordinary folder.
TEST(VolumeTree, WhatHoldsNothingVanishesAndLinksAreNeverFollowed) {
    TemporaryHome home;
    const std::string measured = "real/a/b/c/d/e/f";
    const std::string tree =
        TestTree::build(home / "tree", {{"kept/data", 64 * 1024},
                                        {"kept/2/3/4/5/6/7/8/9/"}, // deeper than the limit
                                        {"zeros/a", 0},
                                        {"empty/inner/nothing", 0},
                                        {"empty/inner/innermost/"},
                                        {"top-zero", 0},
                                        {measured + "/g/x", MB},
                                        {"proc/file", 3 * MB},
                                        {"sys/file", 3 * MB},
                                        {"dev/file", 3 * MB},
                                        {"run/file", 3 * MB}});
    const std::int64_t total = allocatedTree(tree);
    TestTree::build(home.path(), {{"outside/huge", 50 * MB},
                                  {"tree/to-folder", {}, -1, home / "outside"},
                                  {"tree/real/to-file", {}, -1, home / "outside/huge"},
                                  {"tree/real/loop", {}, -1, tree},
                                  {"tree/" + measured + "/g/measured-to-link", {}, -1, home / "outside"},
                                  {"empty/"},
                                  {"links/file", {}, -1, home / "outside/huge"},
                                  {"links/folder", {}, -1, home / "outside"}});
    const auto node = build(tree, standardOptions(2, 0)); // everything of size gets a node
    ASSERT_TRUE(node);
    EXPECT_EQ(node->bytes, total);
    EXPECT_EQ(paths(node, tree),
              (std::set<std::string>{"", "kept", "kept/data", "real", "real/a", "real/a/b", "real/a/b/c",
                                     "real/a/b/c/d", "real/a/b/c/d/e", measured, "proc", "proc/file", "sys",
                                     "sys/file", "dev", "dev/file", "run", "run/file"}));
    EXPECT_FALSE(build(tree + "/zeros")); // a root holding nothing of size has no tree at all
    // A root with nothing to list, a folder of links among them, is one node of its own size.
    for (const char* root : {"empty", "links", "missing"}) {
        const auto top = build(home / root);
        ASSERT_TRUE(top) << root;
        EXPECT_EQ(top->bytes, 0) << root;
        EXPECT_TRUE(top->children.empty()) << root;
    }
    // A file given as the root is measured, and is not called a folder.
    const auto file = build(home / "outside/huge");
    ASSERT_TRUE(file);
    EXPECT_EQ(file->bytes, allocated(home / "outside/huge"));
    EXPECT_FALSE(file->isDirectory);
}

// A file of several links is counted once, wherever its links lie (at the top, listed or measured
// levels).
TEST(VolumeTree, AFileOfSeveralHardLinksCountsOnce) {
    TemporaryHome home;
    const std::string tree = TestTree::build(
        home / "tree", {{"top", 4 * MB}, {"a/b/c/d/e/f/g/deep", 3 * MB}, {"a/other", 2 * MB}, {"x/"}});
    const std::int64_t once = allocatedTree(tree);
    makeFolder(tree + "/a/b/c/d/e/f/g/h");
    for (const auto& [from, to] :
         std::vector<std::pair<std::string, std::string>>{{"top", "a/top-again"},
                                                          {"top", "a/b/c/d/e/f/g/h/top-deep"},
                                                          {"a/b/c/d/e/f/g/deep", "deep-at-top"},
                                                          {"a/b/c/d/e/f/g/deep", "x/deep-listed"}}) {
        ASSERT_EQ(link((tree + "/" + from).c_str(), (tree + "/" + to).c_str()), 0);
    }
    const auto node = build(tree);
    ASSERT_TRUE(node);
    EXPECT_EQ(node->bytes, once);
}

TEST(VolumeTree, AnotherFileSystemBelowTheRootIsSkipped) {
    TemporaryHome home;
    makeFile(home / "tree/a/b/file", 3 * MB);
    const std::string measuredLevel = home / "tree/a/b/c/d/e/f";
    makeFile(measuredLevel + "/g/h/deep", 2 * MB);
    const std::vector<std::string> points{home / "tree/mnt", home / "tree/a/b/mnt",
                                          measuredLevel + "/g/mnt"}; // the last below the depth limit
    TrashFixture::Mount top(points[0]), middle(points[1]), measured(points[2]);
    if (!top.mounted || !middle.mounted || !measured.mounted) {
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root and CAP_SYS_ADMIN)";
    }
    for (const std::string& at : points) {
        makeFile(at + "/inside/blob", 8 * MB);
    }
    const auto tree = build(home / "tree");
    ASSERT_TRUE(tree);
    EXPECT_EQ(tree->bytes, allocated(home / "tree/a/b/file") + allocated(measuredLevel + "/g/h/deep"));
    EXPECT_EQ(DiskMath::size(home / "tree"), tree->bytes); // a folder's size stays on its file system too
    // The root itself may be the mount point: then that file system is the one walked.
    const auto inside = build(home / "tree/mnt");
    ASSERT_TRUE(inside);
    EXPECT_EQ(inside->bytes, allocated(home / "tree/mnt/inside/blob"));
}

} // namespace
