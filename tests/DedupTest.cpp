// Collapsing double claims: first claimant wins; the fast claim set agrees with the plain list.
#include "KestruneCore/Scanners/Dedup.h"
#include "KestruneCore/Model/Paths.h"

#include <gtest/gtest.h>
#include <random>

namespace {

CleanupItem item(const std::string& path, std::int64_t bytes = 1) {
    return {path, bytes, Dates::distantPast};
}

std::vector<std::string> paths(const CategoryResult& r) {
    std::vector<std::string> out;
    for (const auto& i : r.items) {
        out.push_back(i.url);
    }
    return out;
}

// The straightforward algorithm: a plain list of claimed paths, each compared in turn.
std::vector<CategoryResult> plainCollapse(const std::vector<CategoryResult>& results) {
    std::vector<std::string> claimed;
    std::vector<CategoryResult> out;
    for (const auto& result : results) {
        CategoryResult kept{result.kind, {}};
        for (const auto& i : result.items) {
            const std::string p = Paths::standardized(i.url);
            bool conflict = false;
            for (const auto& c : claimed) {
                if (p == c || p.starts_with(c + "/") || c.starts_with(p + "/")) {
                    conflict = true;
                    break;
                }
            }
            if (!conflict) {
                claimed.push_back(p);
                kept.items.push_back(i);
            }
        }
        if (!kept.items.empty()) {
            out.push_back(kept);
        }
    }
    return out;
}

TEST(Collapse, TheEarlierCategoryKeepsASharedPath) {
    const auto out = Dedup::collapse({{CategoryKind::userCaches, {item("/u/Library/Caches/x")}},
                                      {CategoryKind::privacyTraces, {item("/u/Library/Caches/x")}}});
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].kind, CategoryKind::userCaches);
}

TEST(Collapse, AFolderBeatsWhatLiesInsideItAndViceVersa) {
    auto out = Dedup::collapse(
        {{CategoryKind::logs, {item("/a/b")}}, {CategoryKind::xcode, {item("/a/b/c"), item("/z")}}});
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(paths(out[1]), std::vector<std::string>{"/z"});
    out = Dedup::collapse({{CategoryKind::logs, {item("/a/b/c")}}, {CategoryKind::xcode, {item("/a/b")}}});
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(paths(out[0]), std::vector<std::string>{"/a/b/c"});
}

TEST(Collapse, SiblingsWithACommonPrefixAreBothKept) {
    const auto out = Dedup::collapse({{CategoryKind::logs, {item("/a/b"), item("/a/bc")}}});
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].items.size(), 2u);
}

TEST(Collapse, TrailingSlashesAndDotsCollapseWithTheirStandardForm) {
    const auto out =
        Dedup::collapse({{CategoryKind::logs, {item("/a/b")}},
                         {CategoryKind::xcode, {item("/a/b/"), item("/a/./b"), item("/a/x/../b/c")}}});
    ASSERT_EQ(out.size(), 1u);
}

TEST(Collapse, EmptyResultsDisappearAndOrderIsKept) {
    const auto out = Dedup::collapse({{CategoryKind::logs, {}},
                                      {CategoryKind::xcode, {item("/2"), item("/1")}},
                                      {CategoryKind::trash, {item("/3")}}});
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].kind, CategoryKind::xcode);
    EXPECT_EQ(paths(out[0]), (std::vector<std::string>{"/2", "/1"}));
    EXPECT_EQ(out[1].kind, CategoryKind::trash);
}

TEST(Collapse, AgreesWithThePlainAlgorithmOnRandomOverlaps) {
    std::mt19937 random(7);
    const std::vector<std::string> parts{"a", "b", "bc", "b.c", "a b", ".", "..", "", "node_modules", "b-"};
    for (int round = 0; round < 300; ++round) {
        std::vector<CategoryResult> input;
        const int categories = 1 + static_cast<int>(random() % 6);
        for (int c = 0; c < categories; ++c) {
            CategoryResult r{CategoryKinds::allCases()[static_cast<std::size_t>(c)], {}};
            const int count = static_cast<int>(random() % 30);
            for (int i = 0; i < count; ++i) {
                std::string p;
                const int depth = static_cast<int>(random() % 5);
                for (int d = 0; d < depth; ++d) {
                    p += "/" + parts[random() % parts.size()];
                }
                if (random() % 7 == 0) {
                    p += "/";
                }
                r.items.push_back(item(p.empty() ? "/" : p, static_cast<std::int64_t>(random() % 100)));
            }
            input.push_back(r);
        }
        const auto expected = plainCollapse(input);
        const auto actual = Dedup::collapse(input);
        ASSERT_EQ(actual.size(), expected.size()) << "round " << round;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(actual[i].kind, expected[i].kind);
            EXPECT_EQ(paths(actual[i]), paths(expected[i])) << "round " << round;
        }
    }
}

} // namespace
