// The scanner runner with scanners that block, sleep and overlap: concurrency, callbacks, ordering.
#include "KestruneCore/Scanners/AllScanners.h"
#include "tests/TestHome.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <numeric>
#include <set>
#include <thread>
#include <tuple>

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

// Every scanner reports once, the counts arriving in order although the odd reports dawdle to give a
// later one the chance to overtake. The result lists categories in registry order, each largest first
// with equal sizes in the scanner's order; the earlier position keeps what it shares with a later one
// even when it finishes last; the last report holds the result.
TEST(Runner, ReportsArriveInOrderAndTheEarlierPositionWinsInAnOrderedResult) {
    EXPECT_TRUE(AllScanners::runAll(ScannerList{}, [](int, int, CategoryKind, const auto&) {
                    ADD_FAILURE() << "a report without a scanner";
                }).empty());
    using Listed = std::vector<std::tuple<CategoryKind, std::string, std::int64_t>>;
    const auto listed = [](const std::vector<CategoryResult>& results) {
        Listed out;
        for (const auto& r : results) {
            for (const auto& i : r.items) {
                out.emplace_back(r.kind, i.url, i.bytes);
            }
        }
        return out;
    };
    ScannerList registry{std::make_shared<FakeScanner>(CategoryKinds::allCases()[0],
                                                       std::vector{item("/h/shared", 5)},
                                                       [] { std::this_thread::sleep_for(50ms); })};
    Listed expected{{CategoryKinds::allCases()[0], "/h/shared", 5}};
    for (std::size_t i = 1; i < CategoryKinds::count; ++i) {
        const CategoryKind kind = CategoryKinds::allCases()[i];
        const auto name = [&](int k) { return "/c" + std::to_string(i) + "/item" + std::to_string(k); };
        // The next seven claim the shared path or a path inside it, then list twenty items of five
        // sizes; the others find nothing.
        std::vector<CleanupItem> items;
        if (i < 8) {
            items.push_back(item(i % 2 == 0 ? "/h/shared" : "/h/shared/inner", 9));
            for (int k = 0; k < 20; ++k) {
                items.push_back(item(name(k), (k * 37) % 5));
            }
            for (std::int64_t bytes = 4; bytes >= 0; --bytes) {
                for (int k = 0; k < 20; ++k) {
                    if ((k * 37) % 5 == bytes) {
                        expected.emplace_back(kind, name(k), bytes);
                    }
                }
            }
        }
        const auto delay = std::chrono::milliseconds((i * 7) % 5);
        registry.push_back(
            std::make_shared<FakeScanner>(kind, items, [delay] { std::this_thread::sleep_for(delay); }));
    }
    std::mutex m;
    std::vector<int> finishedValues;
    std::multiset<CategoryKind> kinds;
    std::vector<CategoryResult> last;
    const auto final = AllScanners::runAll(registry, [&](int finished, int total, CategoryKind kind,
                                                         const std::vector<CategoryResult>& results) {
        if (finished % 2 == 1) {
            std::this_thread::sleep_for(2ms);
        }
        const std::lock_guard guard(m);
        EXPECT_EQ(total, 21);
        finishedValues.push_back(finished);
        kinds.insert(kind);
        if (finished == total) {
            last = results;
        }
    });
    std::vector<int> inOrder(21);
    std::iota(inOrder.begin(), inOrder.end(), 1);
    EXPECT_EQ(finishedValues, inOrder);
    EXPECT_EQ(kinds, std::multiset<CategoryKind>(CategoryKinds::allCases().begin(),
                                                 CategoryKinds::allCases().end()));
    EXPECT_EQ(listed(final), expected);
    EXPECT_EQ(listed(last), expected);
}

} // namespace
