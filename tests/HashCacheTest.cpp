// The hash cache on real SQLite files: scans with it find what scans without it find, on changing homes;
// only changed files are hashed again; damaged or foreign files are set aside; the bound; concurrent scans.
#include "KestruneCore/Scanners/HashCache.h"
#include "KestruneCore/Scanners/DuplicateScanner.h"
#include "KestruneCore/Scanners/SimilarImagesScanner.h"
#include "tests/Photos.h"
#include "tests/TestHome.h"
#include "tests/TrashFixture.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using Kind = HashCache::Kind;

// Waits past the cache's settling time, so that files just written are remembered by the next scan.
void settle() {
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
}

// Everything both scanners report, as comparable text.
std::vector<std::string> results() {
    std::vector<std::string> out;
    for (const auto& scanner : {std::shared_ptr<Scanner>(new DuplicateScanner),
                                std::shared_ptr<Scanner>(new SimilarImagesScanner)}) {
        for (const auto& item : scanner->scan()) {
            out.push_back(item.url + " " + std::to_string(item.bytes) + " " + item.keptCopy.value_or("") +
                          " " + item.label.value_or(""));
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::string> resultsWithoutCache() {
    HashCache::setEnabled(false);
    auto out = results();
    HashCache::setEnabled(true);
    return out;
}

// A home of duplicate groups (files of 1 to 3 MB, two to five copies each, some of equal size but other
// contents) and photos (some copied), all chosen by `seed`.
struct Home {
    explicit Home(unsigned seed) : random(seed) {
        for (int g = 0; g < 6; ++g) {
            const std::string contents =
                TrashFixture::randomBytes(1'000'000 + 1'000'000 * (g % 3) + 4096 * g, random());
            const int copies = 2 + static_cast<int>(random() % 4);
            for (int c = 0; c < copies; ++c) {
                files.push_back(TestTree::writeFile(
                    home / ("Documents/g" + std::to_string(g) + "/c" + std::to_string(c) + ".bin"),
                    contents));
            }
        }
        for (int p = 0; p < 8; ++p) {
            // p5..p7 repeat p0..p2
            const std::string path = home / ("Pictures/p" + std::to_string(p) + ".jpg");
            TestPhotos::photo(path, 1200, 900, seed * 100 + static_cast<unsigned>(p % 5), 95);
            photos.push_back(path);
        }
    }
    TestTree::TemporaryHome home;
    std::mt19937 random;
    std::vector<std::string> files;
    std::vector<std::string> photos;
};

void rewrite(const std::string& path, std::mt19937& random) {
    TestTree::writeFile(path, TrashFixture::randomBytes(std::filesystem::file_size(path), random()));
}

// Another file of the same size and times, with new contents, renamed over `path`: a new inode only.
void replace(const std::string& path, std::mt19937& random) {
    struct stat before {};
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    const std::string temporary = path + ".new";
    TestTree::writeFile(temporary,
                        TrashFixture::randomBytes(static_cast<std::size_t>(before.st_size), random()));
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, temporary.c_str(), times, 0), 0);
    ASSERT_EQ(rename(temporary.c_str(), path.c_str()), 0);
}

// The first column of the first row `query` gives on the SQLite file, as text; a blob binds `path`.
std::string queryOne(const std::string& file, const char* query, const std::string& path = {}) {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* statement = nullptr;
    std::string result = "no answer";
    if (sqlite3_prepare_v2(db, query, -1, &statement, nullptr) == SQLITE_OK) {
        sqlite3_bind_blob(statement, 1, path.data(), static_cast<int>(path.size()), SQLITE_STATIC);
        if (sqlite3_step(statement) == SQLITE_ROW) {
            result = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        }
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return result;
}

std::string rowsFor(const std::string& path) {
    return queryOne(HashCache::defaultFile(), "SELECT count(*) FROM entries WHERE path=?", path);
}

void sql(const std::string& file, const std::string& statement) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, statement.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);
}

TEST(HashCache, ResultsEqualThoseWithoutCacheAcrossChangedHomes) {
    for (const unsigned seed : {1u, 2u, 3u}) {
        SCOPED_TRACE(seed);
        Home h(seed);
        settle();
        EXPECT_EQ(results(), resultsWithoutCache()); // fills the cache

        // Rewritten, replaced under the same size and times, removed and merely touched files.
        std::shuffle(h.files.begin(), h.files.end(), h.random);
        rewrite(h.files[0], h.random);
        replace(h.files[1], h.random);
        std::filesystem::remove(h.files[2]);
        rewrite(h.photos[0], h.random);
        replace(h.photos[6], h.random);
        std::filesystem::remove(h.photos[5]);
        TestTree::setModified(h.files[3], std::chrono::system_clock::now());
        std::filesystem::copy_file(h.photos[1], h.home / "Pictures/copy.jpg");
        settle();
        EXPECT_EQ(results(), resultsWithoutCache());
        // The removed files' rows went with the scan that no longer found them.
        EXPECT_EQ(rowsFor(h.files[2]), "0");
        EXPECT_EQ(rowsFor(h.photos[5]), "0");
        EXPECT_EQ(rowsFor(h.photos[2]), "1");
    }
}

TEST(HashCache, OnlyChangedFilesAreHashedAgain) {
    Home h(7);
    settle();
    const auto first = results();
    const auto cache = HashCache::shared();
    ASSERT_TRUE(cache);
    cache->resetCounts();
    EXPECT_EQ(results(), first);
    for (const Kind kind : {Kind::headTail, Kind::full, Kind::imageHash}) {
        EXPECT_EQ(cache->counts(kind).misses, 0) << static_cast<int>(kind);
    }
    EXPECT_EQ(cache->counts(Kind::imageHash).hits, static_cast<std::int64_t>(h.photos.size()));
    EXPECT_EQ(cache->counts(Kind::headTail).hits, static_cast<std::int64_t>(h.files.size()));

    // Three photos and two large files touched: those, and only those, are read again.
    for (const std::string* path : {&h.photos[0], &h.photos[3], &h.photos[7], &h.files[0], &h.files[5]}) {
        TestTree::setModified(*path, std::chrono::system_clock::now());
    }
    settle();
    // New dates may change which copy is the oldest: the reference is a scan without the cache.
    const auto touched = resultsWithoutCache();
    const auto reopened = HashCache::shared();
    ASSERT_TRUE(reopened);
    EXPECT_EQ(results(), touched);
    EXPECT_EQ(reopened->counts(Kind::imageHash).misses, 3);
    EXPECT_EQ(reopened->counts(Kind::headTail).misses, 2);
    EXPECT_EQ(reopened->counts(Kind::full).misses, 2);
    EXPECT_EQ(reopened->counts(Kind::imageHash).hits, static_cast<std::int64_t>(h.photos.size()) - 3);
}

TEST(HashCache, DamagedForeignOrOutdatedFilesGiveCorrectScansAndAFreshCache) {
    for (const std::string setup : {"truncated", "garbage", "zeroed header", "empty", "foreign",
                                    "other layout", "other hash version"}) {
        SCOPED_TRACE(setup);
        Home h(11);
        settle();
        const auto expected = resultsWithoutCache();
        EXPECT_EQ(results(), expected);
        const std::string file = HashCache::defaultFile();
        HashCache::setEnabled(false); // closes it
        HashCache::setEnabled(true);
        const auto size = std::filesystem::file_size(file);
        if (setup == "truncated" || setup == "empty") {
            std::filesystem::resize_file(file, setup == "empty" ? 0 : size / 2);
        } else if (setup == "garbage" || setup == "zeroed header") {
            std::fstream out(file, std::ios::in | std::ios::out | std::ios::binary);
            out.seekp(setup == "garbage" ? static_cast<std::streamoff>(size / 3) : 0);
            out << (setup == "garbage" ? TrashFixture::randomBytes(size / 3, h.random())
                                       : std::string(100, '\0'));
        } else if (setup == "foreign") {
            std::filesystem::remove(file);
            sql(file, "CREATE TABLE notes(text); INSERT INTO notes VALUES('mine')");
        } else {
            sql(file, setup == "other layout" ? "PRAGMA user_version=99"
                                              : "UPDATE meta SET version=99 WHERE kind=2");
        }
        EXPECT_EQ(results(), expected);
        const auto cache = HashCache::shared();
        ASSERT_TRUE(cache);
        if (setup == "other hash version") {
            EXPECT_EQ(cache->counts(Kind::imageHash).misses, static_cast<std::int64_t>(h.photos.size()));
            EXPECT_EQ(cache->counts(Kind::headTail).misses, 0); // the other kinds are still good
        }
        if (setup == "foreign") {
            EXPECT_TRUE(TestTree::exists(file + ".corrupt")); // the user's own file is kept, aside
        }
        // Whatever was there, the next scan is served entirely from the rebuilt cache.
        cache->resetCounts();
        EXPECT_EQ(results(), expected);
        for (const Kind kind : {Kind::headTail, Kind::full, Kind::imageHash}) {
            EXPECT_EQ(cache->counts(kind).misses, 0) << static_cast<int>(kind);
        }
        EXPECT_EQ(queryOne(file, "PRAGMA integrity_check"), "ok");
    }
}

TEST(HashCache, KeepsTheRowsUsedLatestWithinItsBound) {
    const TestTree::TemporaryHome home;
    const std::string file = home / "bound.sqlite";
    auto cache = HashCache::openFile(file);
    ASSERT_TRUE(cache);
    const auto key = [](std::uint64_t inode) { return FileKey{1, inode, 10, 20, 30}; };
    for (std::uint64_t i = 0; i < 10; ++i) {
        cache->store(Kind::full, "/old", key(i), "old");
    }
    cache->flush({});
    for (std::uint64_t i = 0; i < static_cast<std::uint64_t>(HashCache::maximumEntries); ++i) {
        cache->store(Kind::full, "/new", key(1000 + i), "new");
    }
    cache->flush({});
    EXPECT_EQ(cache->entries(), HashCache::maximumEntries);
    EXPECT_FALSE(cache->lookup(Kind::full, key(3)));
    EXPECT_EQ(cache->lookup(Kind::full, key(1000)), "new");
    // Any difference in the key is a miss.
    for (const FileKey& other : {FileKey{2, 1000, 10, 20, 30}, FileKey{1, 1000, 11, 20, 30},
                                 FileKey{1, 1000, 10, 21, 30}, FileKey{1, 1000, 10, 20, 31}}) {
        EXPECT_FALSE(cache->lookup(Kind::full, other));
    }
    EXPECT_FALSE(cache->lookup(Kind::headTail, key(1000)));
}

// --no-cache neither reads nor writes the cache; a CLI scan and in-process scans at the same time leave
// an intact one.
TEST(HashCache, CliNoCacheAndConcurrentScans) {
    Home h(21);
    settle();
    const std::string file = HashCache::defaultFile();
    EXPECT_EQ(file, h.home / ".cache/kestrune/hashes.sqlite");
    HashCache::setEnabled(false);
    const auto without = TestTree::run({TestTree::cliPath(), "scan", "--quiet", "--no-cache", "--timings",
                                        "--only", "duplicates", "--only", "similarImages"});
    EXPECT_EQ(without.status, 0) << without.output;
    EXPECT_FALSE(TestTree::exists(file));
    EXPECT_EQ(without.output.find("cache "), std::string::npos);
    for (int run = 0; run < 2; ++run) {
        const auto with = TestTree::run({TestTree::cliPath(), "scan", "--quiet", "--timings", "--only",
                                         "duplicates", "--only", "similarImages"});
        EXPECT_EQ(with.status, 0) << with.output;
        char line[80];
        std::snprintf(line, sizeof line, "cache %-13s %6d hits %6d misses", "image hash", run == 0 ? 0 : 8,
                      run == 0 ? 8 : 0);
        EXPECT_NE(with.output.find(line), std::string::npos) << with.output;
    }
    auto expected = resultsWithoutCache(); // enables the cache again
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        if (round == 1) {
            for (std::size_t i = 0; i < h.photos.size(); i += 2) {
                TestTree::setModified(h.photos[i], std::chrono::system_clock::now());
            }
            settle();
            expected = resultsWithoutCache();
        }
        if (round == 2) {
            HashCache::setEnabled(false);
            std::filesystem::remove(file); // both start from nothing
            HashCache::setEnabled(true);
        }
        auto cli = TestTree::start({TestTree::cliPath(), "scan", "--json", "--quiet", "--only", "duplicates",
                                    "--only", "similarImages"});
        auto other = TestTree::start({TestTree::cliPath(), "scan", "--quiet", "--only", "duplicates"});
        EXPECT_EQ(results(), expected);
        const auto done = TestTree::finish(cli, 0);
        EXPECT_EQ(done.status, 0) << done.output;
        EXPECT_NE(done.output.find("\"similarImages\""), std::string::npos);
        EXPECT_EQ(TestTree::finish(other, 0).status, 0);
        EXPECT_EQ(queryOne(file, "PRAGMA integrity_check"), "ok");
    }
    const auto cache = HashCache::shared();
    ASSERT_TRUE(cache);
    cache->resetCounts();
    EXPECT_EQ(results(), expected);
    EXPECT_EQ(cache->counts(Kind::imageHash).misses, 0);
}

} // namespace
