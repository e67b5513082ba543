// The duplicate scanner on real files: which copy is kept, what is never considered, how little is read,
// and a randomized comparison with the definition: equal sizes and contents.
#include "KestruneCore/Scanners/DuplicateScanner.h"
#include "KestruneCore/Platform/BulkDir.h"
#include "KestruneCore/Scanners/HashCache.h"
#include "tests/TestHome.h"
#include "tests/TrashFixture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using TrashFixture::randomBytes;

std::set<std::string> found() {
    return TestTree::urls(DuplicateScanner().scan());
}

// Bytes this process has read through read(2) and friends so far.
long long bytesRead() {
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value) {
        if (key == "rchar:") {
            return value;
        }
    }
    return -1;
}

TEST(DuplicateFiles, FilesDifferingInTheirHeadAreNotDuplicatesAndReadOnlyWhatTheyMust) {
    TestTree::TemporaryHome home;
    const std::string body = randomBytes(2'000'000, 3);
    TestTree::writeFile(home / "Documents/a", body);
    std::string head = body;
    head[1000] ^= 1;
    TestTree::writeFile(home / "Documents/b", head);
    // The first scan starts the worker threads, which read what they need once.
    EXPECT_TRUE(found().empty());
    HashCache::setEnabled(false); // its own file's pages would count too
    const long long before = bytesRead();
    EXPECT_TRUE(found().empty());
    const long long read = bytesRead() - before;
    HashCache::setEnabled(true);
    // Head and tail of each file, nothing more (listings are not counted by rchar; reading
    // /proc/self/io itself is, a few hundred bytes).
    EXPECT_LE(read, 4 * 65'536 + 4096);
    EXPECT_GE(read, 4 * 65'536 - 1);
}

TEST(DuplicateFiles, AnUnreadablePartnerDropsOut) {
    TestTree::TemporaryHome home;
    const std::string body = randomBytes(1'100'000, 7);
    const std::string mine = TestTree::writeFile(home / "Documents/mine", body);
    const std::string locked = TestTree::writeFile(home / "Documents/locked", body);
    chmod(locked.c_str(), 0600);
    TestTree::writeFile(home / "Music/x", randomBytes(1'300'000, 8));
    const std::string third = TestTree::writeFile(home / "Music/y", randomBytes(1'300'000, 8));
    TestTree::setModified(third, std::chrono::system_clock::now());
    TestTree::setModified(home / "Music/x", std::chrono::system_clock::now() - 24h);
    // As a user who cannot read the locked copy, only the other pair is left.
    const auto r = TestTree::run({TestTree::cliPath(), "scan", "--json", "--quiet", "--only", "duplicates"},
                                 TestTree::Privilege::unprivileged);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("\"" + third + "\""), std::string::npos) << r.output;
    if (geteuid() == 0) {
        EXPECT_EQ(r.output.find(mine), std::string::npos) << r.output;
        EXPECT_EQ(r.output.find(locked), std::string::npos) << r.output;
    }
}

// Files from the floor outside hidden and excluded folders, by allocated size and whole contents, in walk
// order: duplicates by their definition, with none of the scanner's stages.
using Groups = std::map<std::pair<std::int64_t, std::string>, std::vector<CleanupItem>>;
void walk(const std::string& folder, int depth, Groups& groups) {
    for (const auto& e : BulkDir::read(folder, BulkDir::Options::dates)) {
        const std::string path = folder + "/" + e.name;
        if (e.isSymlink || e.name[0] == '.') {
            continue;
        }
        // The go folder is named here as well, so that its exclusion is checked too.
        if (e.isDirectory && depth < DuplicateScanner::depthLimit && e.name != "go" &&
            !DuplicateScanner::excluded().contains(e.name)) {
            walk(path, depth + 1, groups);
        } else if (!e.isDirectory && e.allocSize >= 1'000'000) {
            groups[{e.allocSize, TestTree::readFile(path)}].emplace_back(
                path, e.allocSize, e.modified.value_or(Dates::distantPast));
        }
    }
}

// Random trees against the definition. Originals of 996,000 to 1,004,192 bytes straddle the floor by one
// block either way; copies, decoys (one byte changed anywhere, often in the middle, so that head and tail
// agree) and equal dates land in ordinary, hidden and excluded folders, some hidden themselves; some groups
// are larger than the byte-compared ones. A link to a copy and a FIFO in a file's place (which must not hang
// the scan) are never considered.
TEST(DuplicateFiles, RandomTreesMatchTheDefinition) {
    std::mt19937 random(2026);
    for (int round = 0; round < 12; ++round) {
        TestTree::TemporaryHome home;
        std::vector<std::string> originals;
        for (int i = 0; i < 4; ++i) {
            originals.push_back(randomBytes(996'000 + (random() % 3) * 4096, random()));
        }
        const auto base = std::chrono::system_clock::now() - 1000h;
        const int files = 8 + static_cast<int>(random() % 10);
        std::string last;
        for (int f = 0; f < files; ++f) {
            std::string body = originals[random() % originals.size()];
            if (random() % 3 == 0) {
                body[random() % 2 == 0 ? body.size() / 2 : random() % body.size()] ^= 0x40;
            }
            const std::string folder = std::vector<std::string>{
                "Documents", "Pictures", "Music/a", "x/y/z", "code/go", ".hidden"}[random() % 6];
            const std::string name = (f % 5 == 4 ? "/.f" : "/f") + std::to_string(f);
            last = TestTree::writeFile(home / (folder + name), body);
            TestTree::setModified(last, base + std::chrono::hours(random() % 3));
        }
        ASSERT_EQ(symlink(last.c_str(), (home / "link").c_str()), 0);
        ASSERT_EQ(mkfifo((home / "photo.jpg").c_str(), 0644), 0);
        EXPECT_FALSE(Duplicates::partialDigest(home / "photo.jpg"));
        EXPECT_FALSE(Duplicates::fullDigest(home / "photo.jpg"));
        Groups groups;
        walk(home.path(), 0, groups);
        std::set<std::string> copies; // all but the oldest of each group, the first walked of equal dates
        for (auto& [key, same] : groups) {
            std::stable_sort(same.begin(), same.end(), [](const CleanupItem& a, const CleanupItem& b) {
                return a.modified < b.modified;
            });
            for (std::size_t i = 1; i < same.size(); ++i) {
                copies.insert(same[i].url);
            }
        }
        EXPECT_EQ(found(), copies) << "round " << round;
    }
}

} // namespace
