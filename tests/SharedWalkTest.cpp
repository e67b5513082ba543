// One walk of the home serves the large-and-old files and the duplicates in a scan, and finds what each
// scanner's own rules find: on a real home with files at every depth, in hidden, excluded and "Public"
// folders, behind links and hard links.
#include "KestruneCore/Scanners/AllScanners.h"
#include "KestruneCore/Scanners/DuplicateScanner.h"
#include "KestruneCore/Scanners/ForgottenFilesScanners.h"
#include "KestruneCore/Walk/HomeFiles.h"
#include "tests/TestHome.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

using Clock = std::chrono::system_clock;

std::vector<std::string> described(const std::vector<CleanupItem>& items) {
    std::vector<std::string> out;
    for (const auto& item : items) {
        out.push_back(item.url + " " + std::to_string(item.bytes) + " " + item.keptCopy.value_or(""));
    }
    std::sort(out.begin(), out.end());
    return out;
}

TEST(SharedWalk, OneWalkServesBothScannersWithTheirOwnRules) {
    const TestTree::TemporaryHome home;
    // Large old files and pairs of equal copies wherever each rule has a say.
    const std::vector<std::string> places{
        "Movies",  "a/b/c/d/e/f", "a/b/c/d/e/f/g", "Public",           "x/Public/y",
        ".hidden", "Library/z",   "node_modules",  "Documents/.git/o", "Documents/Public"};
    std::vector<TestTree::Entry> entries;
    for (std::size_t n = 0; n < places.size(); ++n) {
        // Sizes of their own: no two large files are copies of each other; the older copy is kept.
        const std::string contents(1'100'000 + 8192 * n, 'c');
        entries.push_back({places[n] + "/big.bin", std::int64_t(210'000'000 + 1'000'000 * n), 300});
        entries.push_back({places[n] + "/one.dat", contents, 300});
        entries.push_back({places[n] + "/two.dat", contents});
    }
    TestTree::build(home.path(), entries);
    ASSERT_EQ(link((home / "Movies/one.dat").c_str(), (home / "Movies/hard.dat").c_str()), 0);
    ASSERT_EQ(symlink((home / "Movies").c_str(), (home / "linked").c_str()), 0);

    // Each scanner alone, and the plain walk the large-and-old scanner is defined by.
    const auto oldAlone = LargeOldFilesScanner().scan();
    const auto copiesAlone = DuplicateScanner().scan();
    std::vector<CleanupItem> walked;
    LargeOldFilesScanner::walk(home.path(), 0, Clock::now() - LargeOldFilesScanner::age, walked);
    EXPECT_EQ(described(oldAlone), described(walked));
    EXPECT_EQ(TestTree::urls(oldAlone),
              (std::set<std::string>{home / "Movies/big.bin", home / "a/b/c/d/e/f/big.bin"}));
    std::set<std::string> copyUrls;
    for (const char* place : {"Movies", "a/b/c/d/e/f", "Public", "x/Public/y", "Documents/Public"}) {
        copyUrls.insert(home / (std::string(place) + "/two.dat"));
    }
    EXPECT_EQ(TestTree::urls(copiesAlone), copyUrls);

    const int before = HomeFiles::walksMade();
    const ScannerList both{std::make_shared<LargeOldFilesScanner>(), std::make_shared<DuplicateScanner>()};
    std::vector<CleanupItem> copies;
    const auto results = AllScanners::runAll(both, {}, nullptr, &copies);
    EXPECT_EQ(HomeFiles::walksMade() - before, 1);
    EXPECT_EQ(described(copies), described(copiesAlone));
    ASSERT_FALSE(results.empty());
    EXPECT_EQ(results.front().kind, CategoryKind::largeOldFiles);
    EXPECT_EQ(described(results.front().items), described(oldAlone));
    // Outside a scan every call walks again: nothing is remembered from the last one.
    const int after = HomeFiles::walksMade();
    (void)HomeFiles::of(home.path());
    EXPECT_EQ(HomeFiles::walksMade() - after, 1);
}

} // namespace
