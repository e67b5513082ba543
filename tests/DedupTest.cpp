// Collapsing double claims: first claimant wins; the fast claim set agrees with the plain list.
#include "KestruneCore/Scanners/Dedup.h"
#include "KestruneCore/Model/Paths.h"

#include <algorithm>
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
            if (std::none_of(claimed.begin(), claimed.end(), [&](const std::string& c) {
                    return p == c || p.starts_with(c + "/") || c.starts_with(p + "/");
                })) {
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

TEST(Collapse, FirstClaimantWinsAFolderAndWhatLiesInsideItButNotASiblingWithACommonPrefix) {
    auto out = Dedup::collapse({{CategoryKind::userCaches, {item("/u/Library/Caches/x")}},
                                {CategoryKind::privacyTraces, {item("/u/Library/Caches/x")}}});
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].kind, CategoryKind::userCaches);
    out = Dedup::collapse(
        {{CategoryKind::logs, {item("/a/b"), item("/a/bc")}},
         {CategoryKind::xcode, {item("/a/b/c"), item("/z"), item("/a/b/"), item("/a/x/../b/c")}}});
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(paths(out[0]), (std::vector<std::string>{"/a/b", "/a/bc"}));
    EXPECT_EQ(paths(out[1]), std::vector<std::string>{"/z"});
    out = Dedup::collapse({{CategoryKind::logs, {}},
                           {CategoryKind::xcode, {item("/a/b/c"), item("/1")}},
                           {CategoryKind::trash, {item("/a/./b")}}});
    ASSERT_EQ(out.size(), 1u) << "an empty result disappears";
    EXPECT_EQ(paths(out[0]), (std::vector<std::string>{"/a/b/c", "/1"}));
}

TEST(Collapse, AgreesWithThePlainAlgorithmOnRandomOverlaps) {
    std::mt19937 random(7);
    const std::vector<std::string> parts{"a", "b", "bc", "b.c", "a b", ".", "..", "", "node_modules", "b-"};
    for (int round = 0; round < 300; ++round) {
        std::vector<CategoryResult> input;
        const int categories = 1 + static_cast<int>(random() % 6);
        for (int c = 0; c < categories; ++c) {
            CategoryResult r{CategoryKinds::allCases()[static_cast<std::size_t>(c)], {}};
            for (int i = static_cast<int>(random() % 30); i > 0; --i) {
                std::string p;
                for (int d = static_cast<int>(random() % 5); d > 0; --d) {
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
