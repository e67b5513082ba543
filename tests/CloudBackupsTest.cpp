// Cloud-drive copies and device backups on real temporary homes. The cloud document service does not
// exist on Linux, so its answers come from a recorded table; everything else is real.
#include "KestruneCore/Scanners/CloudBackupScanners.h"
#include "KestruneCore/Walk/DiskMeasure.h"
#include "tests/TestHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <unistd.h>

namespace {

using TestTree::below;
using TestTree::block;
using TestTree::urls;

using Platform::CloudValues;
using Platform::DownloadingStatus;

// Answers from a table (nothing for paths not in it) and remembers every path it was asked about.
class RecordedCloudStatus final : public Platform::CloudStatus {
public:
    std::map<std::string, CloudValues> answers;

    [[nodiscard]] std::optional<CloudValues> values(const std::string& path) const override {
        const std::lock_guard guard(lock);
        askedPaths.insert(path);
        const auto it = answers.find(path);
        return it == answers.end() ? std::nullopt : std::optional(it->second);
    }
    // Whether `path` itself, or with `inside` anything under it, was asked about.
    [[nodiscard]] bool asked(const std::string& path, bool inside = false) const {
        const std::lock_guard guard(lock);
        return std::any_of(askedPaths.begin(), askedPaths.end(), [&](const std::string& p) {
            return inside ? p.starts_with(path + "/") : p == path;
        });
    }

private:
    mutable std::mutex lock;
    mutable std::set<std::string> askedPaths;
};

const CloudValues notDownloaded{true, DownloadingStatus::notDownloaded};
const CloudValues downloaded{true, DownloadingStatus::downloaded};

struct CloudFixture {
    TestTree::TemporaryHome home;
    std::string drive = home / "Library/Mobile Documents/com~apple~CloudDocs";
    std::shared_ptr<RecordedCloudStatus> status = std::make_shared<RecordedCloudStatus>();
    [[nodiscard]] std::string at(const std::string& relative) const { return drive + "/" + relative; }
    [[nodiscard]] std::vector<CleanupItem> scan() const { return CloudClutterScanner(status).scan(); }
};

TEST(CloudClutter, DownloadedFilesAreReportedWithTheirLabelAndOthersAreNot) {
    CloudFixture f;
    const std::string report = TestTree::makeFile(f.at("Report.key"), 60'000'000);
    const std::string remote = TestTree::makeFile(f.at("Remote.mov"), 60'000'000);
    const std::string small = TestTree::makeFile(f.at("small.pdf"), 40'000'000);
    TestTree::makeFile(f.at(".hidden.bin"), 60'000'000);
    f.status->answers[report] = downloaded;
    f.status->answers[remote] = notDownloaded;
    const auto items = f.scan();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].url, report);
    EXPECT_EQ(*items[0].label, "iCloud \xC2\xB7 Report.key");
    EXPECT_EQ(items[0].bytes, TestTree::allocated(report));
    EXPECT_EQ(items[0].modified, DiskMath::modified(report));
    EXPECT_FALSE(f.status->asked(small)) << "entries below the floor are never queried";
}

TEST(CloudClutter, ADownloadedFolderIsOneItemAndAnotherIsEnteredFileByFile) {
    CloudFixture f;
    const std::string whole = f.at("Photos 2023");
    TestTree::makeFile(whole + "/a.raw", 120'000'000);
    TestTree::makeFile(whole + "/b.raw", 80'000'000);
    const std::string entered = f.at("Videos");
    const std::string clip = TestTree::makeFile(entered + "/clip.mov", 150'000'000);
    TestTree::makeFile(entered + "/remote.mov", 60'000'000);
    TestTree::makeFile(entered + "/tiny.txt", 4096);
    f.status->answers[whole] = downloaded;
    f.status->answers[entered] = notDownloaded;
    f.status->answers[entered + "/remote.mov"] = notDownloaded;

    const auto items = f.scan();
    EXPECT_EQ(urls(items), (std::set<std::string>{whole, clip}));
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].url, whole) << "largest first";
    EXPECT_EQ(items[0].bytes, TestTree::allocatedTree(whole));
    EXPECT_EQ(items[0].label, "iCloud \u00B7 Photos 2023");
    EXPECT_FALSE(f.status->asked(whole, true));
}

TEST(CloudClutter, AFolderJustBelowTheFloorIsNeitherReportedNorEntered) {
    CloudFixture f;
    const auto b = block(f.home);
    const std::string folder = f.at("Almost");
    TestTree::makeFile(folder + "/inside.bin", below(50'000'000, b));
    EXPECT_TRUE(f.scan().empty());
    EXPECT_FALSE(f.status->asked(folder));
    EXPECT_FALSE(f.status->asked(folder, true));
    TestTree::makeFile(folder + "/more.bin", b);
    EXPECT_EQ(urls(f.scan()), std::set<std::string>{folder});
}

TEST(CloudClutter, NotDownloadedFoldersAreEnteredFourLevelsDeep) {
    CloudFixture f;
    std::string folder = f.drive;
    std::vector<std::string> files;
    for (int level = 1; level <= 5; ++level) {
        folder += "/L" + std::to_string(level);
        f.status->answers[folder] = notDownloaded;
        files.push_back(TestTree::makeFile(folder + "/f.bin", 60'000'000));
    }
    // Levels 1 to 4 are listed at depths 1 to 4; the fifth folder would be listed at depth 5.
    EXPECT_EQ(urls(f.scan()), (std::set<std::string>{files[0], files[1], files[2], files[3]}));
}

TEST(CloudClutter, TwoHundredFiftyQualifyingFilesGiveTheFirstTwoHundredLargestFirst) {
    CloudFixture f;
    // Hard links keep 250 qualifying entries cheap: each entry holds its file's allocation.
    std::map<std::string, std::int64_t> planted;
    for (int k = 0; k < 25; ++k) {
        const std::int64_t bytes = 50'000'000 + k * 1'000'000;
        const std::string original = TestTree::makeFile(f.at("f" + std::to_string(k) + "-0.bin"), bytes);
        planted[original] = TestTree::allocated(original);
        for (int copy = 1; copy < 10; ++copy) {
            const std::string link = f.at("f" + std::to_string(k) + "-" + std::to_string(copy) + ".bin");
            ASSERT_EQ(::link(original.c_str(), link.c_str()), 0);
            planted[link] = planted[original];
        }
    }
    ASSERT_EQ(planted.size(), 250u);
    const auto items = f.scan();
    ASSERT_EQ(items.size(), 200u);
    std::set<std::string> distinct;
    for (std::size_t i = 0; i < items.size(); ++i) {
        ASSERT_TRUE(planted.contains(items[i].url)) << items[i].url;
        EXPECT_EQ(items[i].bytes, planted[items[i].url]);
        if (i > 0) {
            EXPECT_GE(items[i - 1].bytes, items[i].bytes);
        }
        distinct.insert(items[i].url);
    }
    EXPECT_EQ(distinct.size(), 200u);
    EXPECT_GT(items.front().bytes, items.back().bytes);
}

TEST(CloudClutter, OnLinuxEveryLargeEntryOfTheDriveCountsAsDownloaded) {
    CloudFixture f;
    EXPECT_TRUE(CloudClutterScanner().scan().empty()) << "no drive folder";
    TestTree::makeFile(f.home / "Library/Mobile Documents/com~apple~Numbers/big.numbers", 70'000'000);
    EXPECT_TRUE(CloudClutterScanner().scan().empty()) << "another application's container";
    const std::string file = TestTree::makeFile(f.at("Archive.zip"), 70'000'000);
    const std::string folder = f.at("Project");
    TestTree::makeFile(folder + "/data.bin", 90'000'000);
    EXPECT_EQ(urls(CloudClutterScanner().scan()), (std::set<std::string>{file, folder}));
}

TEST(CloudClutter, OnlyAManagedItemWithAForeignStatusIsNotDownloaded) {
    CloudFixture f;
    const CloudClutterScanner scanner(f.status);
    f.status->answers["/a"] = {true, DownloadingStatus::notDownloaded};
    f.status->answers["/b"] = {false, DownloadingStatus::notDownloaded};
    f.status->answers["/c"] = {true, std::nullopt};
    f.status->answers["/d"] = {true, DownloadingStatus::downloaded};
    f.status->answers["/e"] = {true, DownloadingStatus::current};
    EXPECT_FALSE(scanner.isDownloadedUbiquitous("/a"));
    EXPECT_TRUE(scanner.isDownloadedUbiquitous("/b"));
    EXPECT_TRUE(scanner.isDownloadedUbiquitous("/c"));
    EXPECT_TRUE(scanner.isDownloadedUbiquitous("/d"));
    EXPECT_TRUE(scanner.isDownloadedUbiquitous("/e"));
    EXPECT_TRUE(scanner.isDownloadedUbiquitous("/unknown"));
}

// --- device backups ----------------------------------------------------------------------------

TEST(DeviceBackups, LabelledByDeviceNameThenDisplayNameElseUnlabelled) {
    TestTree::TemporaryHome home;
    const std::string root = home / "Library/Application Support/MobileSync/Backup";
    const auto backup = [&](const std::string& id, const std::optional<std::string>& info) {
        TestTree::makeFile(root + "/" + id + "/Manifest.db", 20'000'000);
        if (info) {
            TestTree::writeFile(root + "/" + id + "/Info.plist", TestTree::xmlPlist(*info));
        }
        return root + "/" + id;
    };
    const std::string work = backup("00008030-A", "<key>Device Name</key><string>Work Phone</string>\n"
                                                  "<key>Display Name</key><string>Other</string>\n");
    const std::string tablet = backup("00008030-B", "<key>Display Name</key><string>Kitchen iPad</string>\n");
    const std::string bare = backup("00008030-C", std::nullopt);
    const std::string numeric = backup("00008030-D", "<key>Device Name</key><integer>7</integer>\n"
                                                     "<key>Display Name</key><string>Old iPod</string>\n");
    const std::string blank = backup("00008030-E", "<key>Device Name</key><string></string>\n");
    const std::string broken = backup("00008030-F", "<key>Device Name</key><string>unterminated");
    TestTree::makeFile(root + "/00008030-G/Manifest.db", 5'000'000);
    TestTree::makeFile(root + "/.hidden/Manifest.db", 20'000'000);
    TestTree::makeFile(root + "/loose-file.bin", 20'000'000);

    std::map<std::string, std::optional<std::string>> labels;
    for (const auto& item : IOSBackupScanner().scan()) {
        labels[item.url] = item.label;
        EXPECT_EQ(item.bytes, TestTree::allocatedTree(item.url));
        EXPECT_EQ(item.modified, DiskMath::modified(item.url));
    }
    const std::map<std::string, std::optional<std::string>> expected{
        {work, "Work Phone backup"},  {tablet, "Kitchen iPad backup"}, {bare, std::nullopt},
        {numeric, "Old iPod backup"}, {blank, std::nullopt},           {broken, std::nullopt}};
    EXPECT_EQ(labels, expected);
}

TEST(DeviceBackups, TheFloorIsTenMillionBytesAndNoRootGivesNothing) {
    TestTree::TemporaryHome home;
    EXPECT_TRUE(IOSBackupScanner().scan().empty());
    const auto b = block(home);
    const std::string root = home / "Library/Application Support/MobileSync/Backup";
    TestTree::makeFile(root + "/small/Manifest.db", below(10'000'000, b));
    TestTree::makeFile(root + "/large/Manifest.db", (10'000'000 + b - 1) / b * b);
    TestTree::makeFile(home / "elsewhere/Manifest.db", 50'000'000);
    ASSERT_EQ(symlink((home / "elsewhere").c_str(), (root + "/linked").c_str()), 0);
    const auto items = IOSBackupScanner().scan();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].url, root + "/large");
    EXPECT_EQ(items[0].name(), "large");
}

} // namespace
