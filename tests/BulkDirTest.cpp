// The bulk reader on real folders: every entry once, the entry's own type, dates only when asked.
#include "KestruneCore/Platform/BulkDir.h"
#include "tests/TestHome.h"

#include <gtest/gtest.h>
#include <sys/sysmacros.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

const BulkEntry* find(const std::vector<BulkEntry>& entries, const std::string& name) {
    for (const auto& e : entries) {
        if (e.name == name) {
            return &e;
        }
    }
    return nullptr;
}

TEST(BulkDirRead, MissingPathsFilesAndEmptyFoldersHaveNoEntries) {
    TestTree::TemporaryHome home;
    EXPECT_TRUE(BulkDir::read(home / "missing").empty());
    EXPECT_TRUE(BulkDir::read(TestTree::makeFile(home / "file", 4096)).empty());
    EXPECT_TRUE(BulkDir::read(TestTree::makeFolder(home / "empty")).empty());
    EXPECT_TRUE(BulkDir::read("").empty());
}

TEST(BulkDirRead, ReportsKindsAndAllocatedSizeOfTheEntryItself) {
    TestTree::TemporaryHome home;
    TestTree::makeFile(home / "dir/file", 64 * 1024);
    TestTree::makeFile(home / "dir/sub/inner", 128 * 1024);
    ASSERT_EQ(symlink((home / "dir/sub").c_str(), (home / "dir/link").c_str()), 0);
    ASSERT_EQ(mkfifo((home / "dir/fifo").c_str(), 0644), 0);
    const auto entries = BulkDir::read(home / "dir");
    ASSERT_EQ(entries.size(), 4u);
    const auto* file = find(entries, "file");
    ASSERT_NE(file, nullptr);
    EXPECT_FALSE(file->isDirectory);
    EXPECT_FALSE(file->isSymlink);
    EXPECT_EQ(file->allocSize, TestTree::allocated(home / "dir/file"));
    EXPECT_GE(file->allocSize, 64 * 1024);
    const auto* sub = find(entries, "sub");
    ASSERT_NE(sub, nullptr);
    EXPECT_TRUE(sub->isDirectory);
    EXPECT_EQ(sub->allocSize, 0); // a folder reports no file size, however full
    const auto* link = find(entries, "link");
    ASSERT_NE(link, nullptr);
    EXPECT_TRUE(link->isSymlink);
    EXPECT_FALSE(link->isDirectory);
    EXPECT_EQ(link->allocSize, 0);
    const auto* fifo = find(entries, "fifo");
    ASSERT_NE(fifo, nullptr);
    EXPECT_FALSE(fifo->isDirectory || fifo->isSymlink);
    struct stat sb {};
    ASSERT_EQ(stat(home.path().c_str(), &sb), 0);
    EXPECT_EQ(file->fsid, (static_cast<std::uint64_t>(major(sb.st_dev)) << 32) | minor(sb.st_dev));
}

TEST(BulkDirRead, DatesOnlyWithTheOption) {
    TestTree::TemporaryHome home;
    TestTree::makeFile(home / "d/file");
    TestTree::makeFolder(home / "d/folder");
    const auto when = std::chrono::system_clock::from_time_t(1'600'000'000);
    TestTree::setModified(home / "d/file", when);
    for (const auto& e : BulkDir::read(home / "d")) {
        EXPECT_FALSE(e.modified);
        EXPECT_FALSE(e.accessed);
    }
    const auto withDates = BulkDir::read(home / "d", BulkDir::Options::dates);
    ASSERT_EQ(withDates.size(), 2u);
    for (const auto& e : withDates) {
        EXPECT_TRUE(e.modified);
        EXPECT_TRUE(e.accessed);
    }
    EXPECT_EQ(*find(withDates, "file")->modified, when);
}

TEST(BulkDirRead, MoreEntriesThanOneBufferHoldsComeOnceEach) {
    TestTree::TemporaryHome home;
    const std::string dir = TestTree::makeFolder(home / "many");
    constexpr int count = 25'000;
    for (int i = 0; i < count; ++i) {
        TestTree::makeFile(dir + "/entry-with-a-longer-name-" + std::to_string(i));
    }
    const auto entries = BulkDir::read(dir);
    ASSERT_EQ(entries.size(), static_cast<std::size_t>(count));
    std::set<std::string> names;
    for (const auto& e : entries) {
        names.insert(e.name);
    }
    EXPECT_EQ(names.size(), static_cast<std::size_t>(count));
}

TEST(BulkDirRead, NamesAreKeptAsBytes) {
    TestTree::TemporaryHome home;
    const std::vector<std::string> names{"bad\xFF\xFEname", "new\nline", "-rf", "--", "caf\xC3\xA9", " lead"};
    for (const auto& n : names) {
        TestTree::makeFile(home / ("odd/" + n));
    }
    const auto entries = BulkDir::read(home / "odd");
    std::set<std::string> listed;
    for (const auto& e : entries) {
        listed.insert(e.name);
    }
    EXPECT_EQ(listed, std::set<std::string>(names.begin(), names.end()));
}

TEST(BulkDirRead, EntriesThatVanishWhileListingAreSimplyMissing) {
    TestTree::TemporaryHome home;
    const std::string dir = TestTree::makeFolder(home / "churn");
    std::atomic<bool> stop{false};
    std::thread churn([&] {
        for (int round = 0; !stop; ++round) {
            for (int i = 0; i < 200; ++i) {
                const std::string p = dir + "/f" + std::to_string(i);
                if (round % 2 == 0) {
                    TestTree::makeFile(p, 4096);
                } else {
                    unlink(p.c_str());
                }
            }
        }
    });
    for (int i = 0; i < 300; ++i) {
        for (const auto& e : BulkDir::read(dir)) {
            EXPECT_FALSE(e.name.empty());
            EXPECT_FALSE(e.isDirectory);
        }
    }
    stop = true;
    churn.join();
}

} // namespace
