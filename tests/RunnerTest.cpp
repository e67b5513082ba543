// The scanner runner with scanners that block, sleep and overlap: concurrency, callbacks, ordering.
#include "KestruneCore/Scanners/AllScanners.h"
#include "tests/TestHome.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <numeric>
#include <set>
#include <thread>

namespace {

using namespace std::chrono_literals;

class FakeScanner : public Scanner {
public:
    FakeScanner(CategoryKind kind, std::vector<CleanupItem> items, std::function<void()> during = {})
        : category(kind), found(std::move(items)), during(std::move(during)) {}
    CategoryKind kind() const override { return category; }
    std::vector<CleanupItem> scan() const override {
        if (during) {
            during();
        }
        return found;
    }

private:
    CategoryKind category;
    std::vector<CleanupItem> found;
    std::function<void()> during;
};

CleanupItem item(const std::string& path, std::int64_t bytes) {
    return {path, bytes, Dates::distantPast};
}

TEST(Runner, FourScannersReallyRunAtOnceAndNeverMore) {
    std::mutex m;
    std::condition_variable cv;
    int arrived = 0, running = 0, peak = 0;
    ScannerList registry;
    for (std::size_t i = 0; i < 12; ++i) {
        registry.push_back(
            std::make_shared<FakeScanner>(CategoryKinds::allCases()[i], std::vector<CleanupItem>{}, [&] {
                {
                    // The first four wait for each other: this only finishes if four run together.
                    std::unique_lock lock(m);
                    peak = std::max(peak, ++running);
                    ++arrived;
                    cv.notify_all();
                    cv.wait_for(lock, 10s, [&] { return arrived >= 4; });
                }
                std::this_thread::sleep_for(5ms);
                const std::lock_guard lock(m);
                --running;
            }));
    }
    (void)AllScanners::runAll(registry);
    EXPECT_EQ(peak, 4);
}

TEST(Runner, EveryScannerReportsOnceAndReportsArriveInOrder) {
    int emptyCalls = 0;
    const auto count = [&](int, int, CategoryKind, const auto&) { ++emptyCalls; };
    EXPECT_TRUE(AllScanners::runAll(ScannerList{}, count).empty());
    EXPECT_EQ(emptyCalls, 0);
    ScannerList registry;
    for (std::size_t i = 0; i < CategoryKinds::count; ++i) {
        const auto delay = std::chrono::milliseconds((i * 7) % 5);
        registry.push_back(std::make_shared<FakeScanner>(CategoryKinds::allCases()[i],
                                                         std::vector<CleanupItem>{},
                                                         [delay] { std::this_thread::sleep_for(delay); }));
    }
    // A listener that keeps the last report must end on the final count, so a report counted earlier
    // may never arrive later: the odd reports dawdle to give a later one the chance to overtake.
    std::mutex m;
    std::vector<int> finishedValues;
    std::multiset<CategoryKind> kinds;
    const auto final = AllScanners::runAll(registry, [&](int finished, int total, CategoryKind kind,
                                                         const std::vector<CategoryResult>& results) {
        if (finished % 2 == 1) {
            std::this_thread::sleep_for(2ms);
        }
        const std::lock_guard guard(m);
        EXPECT_EQ(total, 21);
        EXPECT_TRUE(results.empty());
        finishedValues.push_back(finished);
        kinds.insert(kind);
    });
    EXPECT_TRUE(final.empty());
    std::vector<int> inOrder(21);
    std::iota(inOrder.begin(), inOrder.end(), 1);
    EXPECT_EQ(finishedValues, inOrder);
    EXPECT_EQ(kinds, std::multiset<CategoryKind>(CategoryKinds::allCases().begin(),
                                                 CategoryKinds::allCases().end()));
}

TEST(Runner, EarlierPositionWinsWhateverTheFinishOrder) {
    // Position 0 finishes last but still keeps the shared folder.
    ScannerList registry{
        std::make_shared<FakeScanner>(CategoryKind::packageCaches, std::vector{item("/h/shared", 5)},
                                      [] { std::this_thread::sleep_for(50ms); }),
        std::make_shared<FakeScanner>(CategoryKind::appCaches, std::vector{item("/h/shared/inner", 3)}),
        std::make_shared<FakeScanner>(CategoryKind::logs,
                                      std::vector{item("/h/shared", 9), item("/h/other", 1)}),
    };
    const auto final = AllScanners::runAll(registry);
    ASSERT_EQ(final.size(), 2u);
    EXPECT_EQ(std::pair(final[0].kind, final[1].kind),
              std::pair(CategoryKind::packageCaches, CategoryKind::logs));
    EXPECT_EQ(TestTree::urls(final[0].items), std::set<std::string>{"/h/shared"});
    EXPECT_EQ(TestTree::urls(final[1].items), std::set<std::string>{"/h/other"});
}

TEST(Runner, SnapshotsAreLargestFirstStableAndTheLastEqualsTheResult) {
    ScannerList registry;
    for (std::size_t i = 0; i < 8; ++i) {
        std::vector<CleanupItem> items;
        for (int k = 0; k < 20; ++k) {
            items.push_back(item("/c" + std::to_string(i) + "/item" + std::to_string(k), (k * 37) % 5));
        }
        registry.push_back(std::make_shared<FakeScanner>(CategoryKinds::allCases()[i], items));
    }
    std::mutex m;
    std::vector<CategoryResult> lastSnapshot;
    const auto final = AllScanners::runAll(
        registry, [&](int finished, int, CategoryKind, const std::vector<CategoryResult>& results) {
            const std::lock_guard guard(m);
            for (const auto& r : results) {
                for (std::size_t k = 1; k < r.items.size(); ++k) {
                    const auto& a = r.items[k - 1];
                    const auto& b = r.items[k];
                    EXPECT_GE(a.bytes, b.bytes);
                    if (a.bytes == b.bytes) {
                        // Equal sizes keep the scanner's order (item numbers ascending).
                        EXPECT_LT(std::stoi(a.url.substr(a.url.rfind("item") + 4)),
                                  std::stoi(b.url.substr(b.url.rfind("item") + 4)));
                    }
                }
            }
            if (finished == 8) {
                lastSnapshot = results;
            }
        });
    const auto urls = [](const std::vector<CategoryResult>& results) {
        std::vector<std::pair<CategoryKind, std::string>> out;
        for (const auto& r : results) {
            for (const auto& i : r.items) {
                out.emplace_back(r.kind, i.url);
            }
        }
        return out;
    };
    EXPECT_EQ(urls(final), urls(lastSnapshot));
    ASSERT_EQ(final.size(), 8u);
    for (std::size_t i = 0; i < final.size(); ++i) {
        EXPECT_EQ(final[i].kind, CategoryKinds::allCases()[i]); // registry order
    }
}

} // namespace
