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

// Each result's kind and paths, in order.
using Summary = std::vector<std::pair<CategoryKind, std::vector<std::string>>>;
Summary summary(const std::vector<CategoryResult>& results) {
    Summary out;
    for (const auto& r : results) {
        out.emplace_back(r.kind, std::vector<std::string>{});
        for (const auto& i : r.items) {
            out.back().second.push_back(i.url);
        }
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

// Paths the same after standardizing, inside one another, or siblings sharing a prefix (b, bc, b-, b.c),
// in up to six categories, some empty.
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
        EXPECT_EQ(summary(Dedup::collapse(input)), summary(plainCollapse(input))) << "round " << round;
    }
}

} // namespace
