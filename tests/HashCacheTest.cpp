// The hash cache on real SQLite files: scans with it find what scans without it find, on a changing home;
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

// Runs one SQL statement on the file, a blob binding `path`: the first column of its first row as text.
std::string sql(const std::string& file, const std::string& statement, const std::string& path = {}) {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    sqlite3_stmt* prepared = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, statement.c_str(), -1, &prepared, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_bind_blob(prepared, 1, path.data(), static_cast<int>(path.size()), SQLITE_STATIC);
    const int step = sqlite3_step(prepared);
    EXPECT_TRUE(step == SQLITE_ROW || step == SQLITE_DONE) << sqlite3_errmsg(db);
    std::string result =
        step == SQLITE_ROW ? reinterpret_cast<const char*>(sqlite3_column_text(prepared, 0)) : "";
    sqlite3_finalize(prepared);
    sqlite3_close(db);
    return result;
}

std::string rowsFor(const std::string& path) {
    return sql(HashCache::defaultFile(), "SELECT count(*) FROM entries WHERE path=?", path);
}

// Hits and misses of each kind (head and tail, whole file, image hash) since the counts were reset;
// nothing without a cache.
std::vector<std::int64_t> counts(const std::shared_ptr<HashCache>& cache) {
    std::vector<std::int64_t> out;
    for (const Kind kind : {Kind::headTail, Kind::full, Kind::imageHash}) {
        if (cache) {
            out.insert(out.end(), {cache->counts(kind).hits, cache->counts(kind).misses});
        }
    }
    return out;
}

// One home through the cache's life: six duplicate groups of 1 to 3 MB with 2, 3, 4, 5, 2 and 3 copies
// (19 files; a group of five is past the size the scanner compares byte for byte) and eight photos, of
// which p5 to p7 repeat p0 to p2. Every scan with the cache finds what one without it finds.
TEST(HashCache, ScansWithTheCacheFindWhatScansWithoutItFind) {
    TestTree::TemporaryHome home;
    std::mt19937 random(1);
    std::vector<std::string> files;
    std::vector<std::string> photos;
    for (int g = 0; g < 6; ++g) {
        const std::string contents =
            TrashFixture::randomBytes(1'000'000 + 1'000'000 * (g % 3) + 4096 * g, random());
        for (int c = 0; c < 2 + g % 4; ++c) {
            files.push_back(TestTree::writeFile(
                home / ("Documents/g" + std::to_string(g) + "/c" + std::to_string(c) + ".bin"), contents));
        }
    }
    for (unsigned p = 0; p < 8; ++p) {
        photos.push_back(
            TestPhotos::photo(home / ("Pictures/p" + std::to_string(p) + ".jpg"), 1200, 900, p % 5, 95));
    }
    settle();
    const std::string file = HashCache::defaultFile();
    EXPECT_EQ(file, home / ".cache/kestrune/hashes.sqlite");
    const std::vector<std::int64_t> allHits{19, 0, 19, 0, 8, 0};

    // --no-cache neither reads nor writes the cache, nor reports it; --timings reports the first scan's
    // image hashes as misses, the second's as hits.
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
    // What another process stored serves this one entirely.
    auto expected = resultsWithoutCache();
    EXPECT_EQ(results(), expected);
    EXPECT_EQ(counts(HashCache::shared()), allHits);

    // A damaged, foreign or outdated file gives a correct scan, and the next is served entirely from the
    // rebuilt cache.
    for (const std::string setup : {"truncated", "garbage", "zeroed header", "empty", "foreign",
                                    "other layout", "other hash version"}) {
        SCOPED_TRACE(setup);
        HashCache::setEnabled(false); // closes it
        HashCache::setEnabled(true);
        const auto size = std::filesystem::file_size(file);
        if (setup == "truncated" || setup == "empty") {
            std::filesystem::resize_file(file, setup == "empty" ? 0 : size / 2);
        } else if (setup == "garbage" || setup == "zeroed header") {
            std::fstream out(file, std::ios::in | std::ios::out | std::ios::binary);
            out.seekp(setup == "garbage" ? static_cast<std::streamoff>(size / 3) : 0);
            out << (setup == "garbage" ? TrashFixture::randomBytes(size / 3, random())
                                       : std::string(100, '\0'));
        } else if (setup == "foreign") {
            std::filesystem::remove(file);
            sql(file, "CREATE TABLE notes(text)");
            sql(file, "INSERT INTO notes VALUES('mine')");
        } else {
            sql(file, setup == "other layout" ? "PRAGMA user_version=99"
                                              : "UPDATE meta SET version=99 WHERE kind=2");
        }
        EXPECT_EQ(results(), expected);
        const auto cache = HashCache::shared();
        ASSERT_TRUE(cache);
        if (setup == "other hash version") { // the other kinds are still good
            EXPECT_EQ(counts(cache), (std::vector<std::int64_t>{19, 0, 19, 0, 0, 8}));
        }
        if (setup == "foreign") {
            EXPECT_TRUE(TestTree::exists(file + ".corrupt")); // the user's own file is kept, aside
        }
        cache->resetCounts();
        EXPECT_EQ(results(), expected);
        EXPECT_EQ(counts(cache), allHits);
        EXPECT_EQ(sql(file, "PRAGMA integrity_check"), "ok");
    }

    // Files rewritten, replaced under the same size and times (a new inode only), removed, touched and
    // copied: both copies of the first group, one of three of the second, the last of the sixth.
    rewrite(files[0], random);
    replace(files[1], random);
    std::filesystem::remove(files[2]);
    TestTree::setModified(files.back(), std::chrono::system_clock::now());
    rewrite(photos[0], random);
    replace(photos[6], random);
    std::filesystem::remove(photos[5]);
    TestTree::setModified(photos[3], std::chrono::system_clock::now());
    std::filesystem::copy_file(photos[1], home / "Pictures/copy.jpg");
    settle();
    // New dates may change which copy is the oldest: the reference is a scan without the cache.
    expected = resultsWithoutCache();
    EXPECT_EQ(results(), expected);
    // Three changed files' heads and tails and the touched one's contents (the first group's two differ
    // in their heads now); three changed photos and the copy. The removed files' rows went with the scan.
    EXPECT_EQ(counts(HashCache::shared()), (std::vector<std::int64_t>{15, 3, 15, 1, 4, 4}));
    EXPECT_EQ(rowsFor(files[2]), "0");
    EXPECT_EQ(rowsFor(photos[5]), "0");
    EXPECT_EQ(rowsFor(photos[2]), "1");

    // Two other processes scanning while this one does leave an intact cache: with it full, after half
    // the photos were touched, and all three starting from nothing.
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        if (round == 1) {
            for (std::size_t i = 0; i < photos.size(); i += 2) {
                TestTree::setModified(photos[i], std::chrono::system_clock::now());
            }
            settle();
            expected = resultsWithoutCache();
        }
        if (round == 2) {
            HashCache::setEnabled(false);
            std::filesystem::remove(file);
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
        EXPECT_EQ(sql(file, "PRAGMA integrity_check"), "ok");
    }
    // And the next scan is served entirely from it.
    const auto cache = HashCache::shared();
    ASSERT_TRUE(cache);
    cache->resetCounts();
    EXPECT_EQ(results(), expected);
    EXPECT_EQ(counts(cache), (std::vector<std::int64_t>{18, 0, 16, 0, 8, 0}));
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

} // namespace
