// Cloud-drive copies, device backups, privacy traces and media leftovers on real temporary homes. The
// cloud document service does not exist on Linux, so its answers come from a recorded table; everything
// else is real.
#include "KestruneCore/Scanners/CloudBackupScanners.h"
#include "KestruneCore/Scanners/PrivacyMediaScanners.h"
#include "KestruneCore/Walk/DiskMeasure.h"
#include "tests/TestHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <tuple>
#include <unistd.h>

namespace {

using TestTree::atOrAbove;
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

// Downloaded files and folders are items (a folder whole, largest first); a folder not downloaded is
// entered file by file, four levels deep; what is hidden, not downloaded or below the floor is not an
// item, and what is below the floor is not even asked about; a status that cannot be read counts as
// downloaded.
TEST(CloudClutter, DownloadedEntriesAreItemsAndOthersAreEnteredOrLeft) {
    CloudFixture f;
    const auto b = block(f.home);
    const auto plant = [&](const std::string& relative, std::int64_t bytes) {
        return TestTree::makeFile(f.at(relative), bytes);
    };
    std::set<std::string> expected{plant("Report.key", 60'000'000), plant("Videos/clip.mov", 150'000'000)};
    const std::string small = plant("small.pdf", 40'000'000);
    plant(".hidden.bin", 60'000'000);
    plant("Remote.mov", 60'000'000);
    plant("Photos 2023/a.raw", 120'000'000);
    plant("Photos 2023/b.raw", 80'000'000);
    plant("Videos/remote.mov", 60'000'000);
    plant("Videos/tiny.txt", 4096);
    plant("Almost/inside.bin", below(50'000'000, b));
    const std::string whole = f.at("Photos 2023");
    expected.insert(whole);
    for (const auto& [relative, values] : {std::pair{"Report.key", downloaded},
                                           {"Remote.mov", notDownloaded},
                                           {"Photos 2023", downloaded},
                                           {"Videos", notDownloaded},
                                           {"Videos/remote.mov", notDownloaded}}) {
        f.status->answers[f.at(relative)] = values;
    }
    std::string level;
    for (int depth = 1; depth <= 5; ++depth) {
        level += (depth == 1 ? "L" : "/L") + std::to_string(depth);
        f.status->answers[f.at(level)] = notDownloaded;
        const std::string file = plant(level + "/f.bin", 60'000'000);
        if (depth <= 4) { // listed at depths 1 to 4
            expected.insert(file);
        }
    }
    const auto items = f.scan();
    EXPECT_EQ(urls(items), expected);
    ASSERT_EQ(items.size(), expected.size());
    EXPECT_EQ(items[0].url, whole) << "largest first";
    for (const auto& item : items) {
        EXPECT_EQ(item.modified, DiskMath::modified(item.url));
    }
    EXPECT_FALSE(f.status->asked(whole, true));
    EXPECT_FALSE(f.status->asked(small));
    EXPECT_FALSE(f.status->asked(f.at("Almost")) || f.status->asked(f.at("Almost"), true));
    plant("Almost/more.bin", b);
    expected.insert(f.at("Almost"));
    EXPECT_EQ(urls(f.scan()), expected);
    // Only a managed item with a status that says so is not downloaded.
    const std::pair<CloudValues, bool> cases[] = {{notDownloaded, false},
                                                  {{false, DownloadingStatus::notDownloaded}, true},
                                                  {{true, std::nullopt}, true},
                                                  {downloaded, true},
                                                  {{true, DownloadingStatus::current}, true}};
    for (const auto& [values, isDownloaded] : cases) {
        f.status->answers["/item"] = values;
        EXPECT_EQ(CloudClutterScanner(f.status).isDownloadedUbiquitous("/item"), isDownloaded);
    }
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
    const auto items = f.scan();
    ASSERT_EQ(items.size(), 200u);
    EXPECT_EQ(urls(items).size(), 200u) << "each entry once";
    for (std::size_t i = 0; i < items.size(); ++i) {
        ASSERT_TRUE(planted.contains(items[i].url)) << items[i].url;
        EXPECT_EQ(items[i].bytes, planted[items[i].url]);
        EXPECT_TRUE(i == 0 || items[i - 1].bytes >= items[i].bytes) << i;
    }
}

// --- device backups, privacy traces and media leftovers ----------------------------------------

// Labelled by device name, then display name, else unlabelled; the floor is ten million bytes, and no
// backup folder, a link, a hidden folder or a loose file give nothing.
TEST(DeviceBackups, LabelsAndTheFloor) {
    TestTree::TemporaryHome home;
    const auto b = block(home);
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
    TestTree::makeFile(root + "/small/Manifest.db", below(10'000'000, b));
    TestTree::makeFile(root + "/large/Manifest.db", atOrAbove(10'000'000, b));
    TestTree::makeFile(home / "elsewhere/Manifest.db", 50'000'000);
    ASSERT_EQ(symlink((home / "elsewhere").c_str(), (root + "/linked").c_str()), 0);
    TestTree::makeFile(root + "/.hidden/Manifest.db", 20'000'000);
    TestTree::makeFile(root + "/loose-file.bin", 20'000'000);

    std::map<std::string, std::optional<std::string>> labels;
    for (const auto& item : IOSBackupScanner().scan()) {
        labels[item.url] = item.label;
        EXPECT_EQ(item.modified, DiskMath::modified(item.url));
    }
    const std::map<std::string, std::optional<std::string>> expected{
        {work, "Work Phone backup"},  {tablet, "Kitchen iPad backup"}, {bare, std::nullopt},
        {numeric, "Old iPod backup"}, {blank, std::nullopt},           {root + "/large", std::nullopt}};
    EXPECT_EQ(labels, expected);
}

// Every row of both tables one block below its floor gives nothing, nor does a link at a row's place to
// a large folder; at its floor, every row is an item with its label, in table order. The Music library
// itself is never an item.
TEST(PrivacyAndMedia, EveryRowIsReportedAtItsFloorAndNotOneBlockBelow) {
    using Rows = std::vector<std::tuple<std::string, std::string, std::int64_t>>; // label, place, floor
    Rows privacy;
    for (const auto& row : PrivacyTraceScanner::targets()) {
        privacy.emplace_back(row.label, row.relativePath, row.minBytes);
    }
    Rows media;
    for (const auto& [label, path, floor] : MediaLeftoversScanner::rows()) {
        media.emplace_back(label, path, floor);
    }
    const std::vector<std::pair<Rows, std::function<std::vector<CleanupItem>()>>> tables{
        {privacy, [] { return PrivacyTraceScanner().scan(); }},
        {media, [] { return MediaLeftoversScanner().scan(); }}};
    for (const auto& [rows, scan] : tables) {
        ASSERT_FALSE(rows.empty());
        TestTree::TemporaryHome home;
        const auto b = TestTree::block(home);
        TestTree::makeFile(home / "Music/Music/Media.localized/song.m4a", 60'000'000);
        TestTree::makeFile(home / "elsewhere/big", 60'000'000);
        const std::string linked = home / std::get<1>(rows.back());
        TestTree::makeFolder(std::filesystem::path(linked).parent_path());
        ASSERT_EQ(symlink((home / "elsewhere").c_str(), linked.c_str()), 0);
        std::vector<std::pair<std::string, std::string>> expected;
        for (const auto& [label, path, floor] : rows) {
            expected.emplace_back(home / path, label);
        }
        for (const bool reachFloor : {false, true}) {
            if (reachFloor) {
                std::filesystem::remove(linked);
            }
            for (const auto& [label, path, floor] : rows) {
                // A cookie store is a file, everything else a folder.
                const bool file = path.ends_with("Cookies.binarycookies") || path.ends_with("/Cookies");
                if (home / path != linked || reachFloor) {
                    TestTree::makeFile(home / (file ? path : path + "/data_1"),
                                       reachFloor ? atOrAbove(floor, b) : below(floor, b));
                }
            }
            std::vector<std::pair<std::string, std::string>> found;
            for (const auto& item : scan()) {
                found.emplace_back(item.url, item.label.value_or(""));
                EXPECT_EQ(item.modified, DiskMath::modified(item.url));
            }
            EXPECT_EQ(found, reachFloor ? expected : decltype(expected){}) << expected.front().second;
        }
    }
}

} // namespace
