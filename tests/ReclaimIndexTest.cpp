// The reclaim index: which items count under a folder, the safe and review split, the categories left
// out, and a comparison with a plain sum over random trees.
#include "KestruneCore/Model/ReclaimIndex.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

namespace {

CleanupItem item(const std::string& path, std::int64_t bytes) {
    return CleanupItem(path, bytes, Dates::distantPast);
}

using Flagged = ReclaimIndex::Flagged;

// "-" and "." sort before "/", so /a/b-2 and /a/b.txt lie between /a/b and /a/b/ in the index; not every
// name is UTF-8, and a last byte of 0xFF has no successor of its own; an item reported twice (with a
// trailing slash, by another category) counts once, as the first report says, everywhere. Categories
// that only advise never count, and an index of nothing else, or of empty results, is empty.
TEST(ReclaimIndex, AFolderCountsItselfAndWhatIsInsideOnceButNotItsNeighbours) {
    const ReclaimIndex index(
        {{CategoryKind::userCaches,
          {item("/a/b", 1), item("/a/b/x", 10), item("/a/b/y/z", 100), item("/a/bc", 1000),
           item("/a/b-2", 10000), item("/a/b.txt", 100000), item("/h/c", 8), item("/h/c/", 8)}},
         {CategoryKind::simulators, {item("/h/sim", 5)}},
         {CategoryKind::duplicates, {item("/h/c", 8)}},
         {CategoryKind::docker, {item("/a/b/docker.raw", 7)}},
         {CategoryKind::appLeftovers,
          {item("/h/\xff", 1), item("/h/\xff/in", 2), item("/h/\xff\xff", 4),
           item("/h/caf\xc3\xa9/x", 16)}}});
    const std::map<std::string, Flagged> expected{
        {"/a/b", {111, 0}},          {"/a/b/", {111, 0}}, {"/a/b/y", {100, 0}}, {"/a/b/x", {10, 0}},
        {"/a/bc", {1000, 0}},        {"/a", {111111, 0}}, {"/", {111119, 23}},  {"/a/b/x/deeper", {0, 0}},
        {"/elsewhere", {0, 0}},      {"/h/c", {8, 0}},    {"/h", {8, 23}},      {"/h/\xff", {0, 3}},
        {"/h/caf\xc3\xa9", {0, 16}}, {"/h/sim", {0, 0}}};
    std::map<std::string, Flagged> got;
    for (const auto& [folder, sum] : expected) {
        got[folder] = index.flagged(folder);
    }
    EXPECT_EQ(got, expected);
    EXPECT_EQ(index.paths(),
              (std::vector<std::string>{"/a/b", "/a/b-2", "/a/b.txt", "/a/b/x", "/a/b/y/z", "/a/bc", "/h/c",
                                        "/h/caf\xc3\xa9/x", "/h/\xff", "/h/\xff/in", "/h/\xff\xff"}));
    for (const auto& nothing : {std::vector<CategoryResult>{},
                                {{CategoryKind::logs, {}}, {CategoryKind::downloads, {}}},
                                {{CategoryKind::simulators, {item("/h/sim", 5)}},
                                 {CategoryKind::docker, {item("/h/docker.raw", 7)}}}}) {
        const ReclaimIndex empty(nothing);
        EXPECT_TRUE(empty.isEmpty());
        EXPECT_EQ(empty.flagged("/"), (Flagged{0, 0}));
    }
}

// The plain definition: every distinct path (first report wins) equal to the folder or below it.
Flagged bruteForce(const std::vector<CategoryResult>& results, const std::string& folder) {
    std::set<std::string> seen;
    Flagged sum;
    const std::string prefix = folder == "/" ? folder : folder + "/";
    for (const auto& result : results) {
        if (!CategoryKinds::action(result.kind).isSelectable()) {
            continue;
        }
        for (const auto& i : result.items) {
            if (seen.insert(i.url).second && (i.url == folder || i.url.starts_with(prefix))) {
                (CategoryKinds::safety(result.kind) == Safety::safe ? sum.safe : sum.review) += i.bytes;
            }
        }
    }
    return sum;
}

// Random items of random categories over names that sort around "/"; every folder on their way and
// random others agree with the plain sum.
TEST(ReclaimIndex, RandomTreesAgreeWithAPlainSum) {
    const std::vector<std::string> names{"a", "b", "ab", "b-1", "b.x", "a b", "\xff", "\xc3\xa9", "0", "~"};
    for (const unsigned seed : {7u, 1234u, 99991u}) {
        std::mt19937 random(seed);
        auto pick = [&](std::size_t n) {
            return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
        };
        auto randomPath = [&] {
            std::string path;
            for (std::size_t d = 0, depth = 1 + pick(4); d < depth; ++d) {
                path += "/" + names[pick(names.size())];
            }
            return path;
        };
        for (int round = 0; round < 40; ++round) {
            std::vector<CategoryResult> results;
            std::set<std::string> folders{"/"};
            for (const auto kind : CategoryKinds::allCases()) {
                CategoryResult& result = results.emplace_back(CategoryResult{kind, {}});
                for (std::size_t i = 0, count = pick(3) == 0 ? 0 : pick(30); i < count; ++i) {
                    const std::string path = randomPath();
                    result.items.push_back(item(path, static_cast<std::int64_t>(1 + pick(1'000'000))));
                    for (auto slash = path.rfind('/'); slash != 0; slash = path.rfind('/', slash - 1)) {
                        folders.insert(path.substr(0, slash));
                    }
                    folders.insert(path);
                }
            }
            for (int extra = 0; extra < 50; ++extra) {
                folders.insert(randomPath());
            }
            const ReclaimIndex index(results);
            for (const auto& folder : folders) {
                ASSERT_EQ(index.flagged(folder), bruteForce(results, folder)) << "folder " << folder;
            }
        }
    }
}

} // namespace
