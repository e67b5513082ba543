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
// trailing slash, by another category) counts once, as the first report says, everywhere.
TEST(ReclaimIndex, AFolderCountsItselfAndWhatIsInsideOnceButNotItsNeighbours) {
    const ReclaimIndex index(
        {{CategoryKind::userCaches,
          {item("/a/b", 1), item("/a/b/x", 10), item("/a/b/y/z", 100), item("/a/bc", 1000),
           item("/a/b-2", 10000), item("/a/b.txt", 100000), item("/h/c", 8), item("/h/c/", 8)}},
         {CategoryKind::duplicates, {item("/h/c", 8)}},
         {CategoryKind::appLeftovers,
          {item("/h/\xff", 1), item("/h/\xff/in", 2), item("/h/\xff\xff", 4),
           item("/h/caf\xc3\xa9/x", 16)}}});
    const std::map<std::string, Flagged> expected{
        {"/a/b", {111, 0}},         {"/a/b/", {111, 0}}, {"/a/b/y", {100, 0}}, {"/a/b/x", {10, 0}},
        {"/a/bc", {1000, 0}},       {"/a", {111111, 0}}, {"/", {111119, 23}},  {"/a/b/x/deeper", {0, 0}},
        {"/elsewhere", {0, 0}},     {"/h/c", {8, 0}},    {"/h", {8, 23}},      {"/h/\xff", {0, 3}},
        {"/h/caf\xc3\xa9", {0, 16}}};
    std::map<std::string, Flagged> got;
    for (const auto& [folder, sum] : expected) {
        got[folder] = index.flagged(folder);
    }
    EXPECT_EQ(got, expected);
    EXPECT_EQ(index.paths().size(), 11u);
}

// Categories that only advise never count; an index of nothing but them, or of empty results, is empty.
TEST(ReclaimIndex, AdviseOnlyCategoriesAndEmptyResultsNeverCount) {
    const ReclaimIndex none(std::vector<CategoryResult>{});
    EXPECT_TRUE(none.isEmpty());
    EXPECT_EQ(none.flagged("/"), (Flagged{0, 0}));
    const ReclaimIndex emptyResults({{CategoryKind::logs, {}}, {CategoryKind::downloads, {}}});
    EXPECT_TRUE(emptyResults.isEmpty());
    EXPECT_EQ(emptyResults.safeSums().size(), 1u);
    const ReclaimIndex onlyAdvice({{CategoryKind::simulators, {item("/h/sim", 5)}},
                                   {CategoryKind::docker, {item("/h/docker.raw", 7)}}});
    EXPECT_TRUE(onlyAdvice.isEmpty());
    const ReclaimIndex mixed({{CategoryKind::simulators, {item("/h/sim", 5)}},
                              {CategoryKind::cloudClutter, {item("/h/doc", 3)}},
                              {CategoryKind::logs, {item("/h/Library/Logs/app", 40)}}});
    EXPECT_EQ(mixed.flagged("/h"), (Flagged{40, 3})); // safe first, review second
    EXPECT_EQ(mixed.paths(), (std::vector<std::string>{"/h/Library/Logs/app", "/h/doc"}));
}

// The plain definition: every distinct path (first report wins) equal to the folder or below it.
Flagged bruteForce(const std::vector<CategoryResult>& results, const std::string& folder) {
    std::set<std::string> seen;
    Flagged sum;
    const std::string prefix = folder == "/" ? folder : folder + "/";
    for (const auto& result : results) {
        if (CategoryKinds::action(result.kind).isSelectable() == false) {
            continue;
        }
        for (const auto& i : result.items) {
            if (!seen.insert(i.url).second) {
                continue;
            }
            if (i.url == folder || i.url.starts_with(prefix)) {
                (CategoryKinds::safety(result.kind) == Safety::safe ? sum.safe : sum.review) += i.bytes;
            }
        }
    }
    return sum;
}

TEST(ReclaimIndex, RandomTreesAgreeWithAPlainSum) {
    const std::vector<std::string> names{"a", "b", "ab", "b-1", "b.x", "a b", "\xff", "\xc3\xa9", "0", "~"};
    for (const unsigned seed : {7u, 1234u, 99991u}) {
        std::mt19937 random(seed);
        auto pick = [&](std::size_t n) {
            return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
        };
        auto randomPath = [&] {
            std::string path;
            const std::size_t depth = 1 + pick(4);
            for (std::size_t d = 0; d < depth; ++d) {
                path += "/" + names[pick(names.size())];
            }
            return path;
        };
        for (int round = 0; round < 40; ++round) {
            std::vector<CategoryResult> results;
            std::set<std::string> folders{"/"};
            for (const auto kind : CategoryKinds::allCases()) {
                if (pick(3) == 0) {
                    continue;
                }
                CategoryResult result{kind, {}};
                const std::size_t count = pick(30);
                for (std::size_t i = 0; i < count; ++i) {
                    const std::string path = randomPath();
                    result.items.push_back(item(path, static_cast<std::int64_t>(1 + pick(1'000'000))));
                    for (auto slash = path.rfind('/'); slash != 0 && slash != std::string::npos;
                         slash = path.rfind('/', slash - 1)) {
                        folders.insert(path.substr(0, slash));
                    }
                    folders.insert(path);
                }
                results.push_back(std::move(result));
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
