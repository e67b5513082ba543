// The whole registry through the real kestrune-cli on one temporary home where every category's rule is
// met, some places claimed by more than one: what each category reports, in the registry's order, as JSON.
#include "KestruneCore/Model/CategoryKind.h"
#include "KestruneCore/Scanners/AllScanners.h"
#include "tests/Photos.h"
#include "tests/TestHome.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <fcntl.h>
#include <map>
#include <optional>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using TestPhotos::photo;
using TestTree::daysAgo;

// Label (or "(no label)") and bytes of each item, by category and path.
using Items = std::map<std::string, std::pair<std::string, std::int64_t>>;
using Catalogue = std::map<std::string, Items>;

constexpr const char* noLabel = "(no label)";

// `bytes` of deterministic noise: files that must not be zero-filled twins of each other.
std::string noise(std::size_t bytes, unsigned seed) {
    std::mt19937 random(seed);
    std::string out(bytes, '\0');
    for (auto& c : out) {
        c = static_cast<char>(random() & 0xff);
    }
    return out;
}

void installFillers(const std::string& system) {
    // The leftover rule only runs with at least eleven identifiers installed.
    const std::vector<std::string> folders{system + "/Applications", system + "/System/Applications",
                                           system + "/System/Applications/Utilities",
                                           system + "/Applications/Utilities"};
    for (int i = 0; i < 11; ++i) {
        TestTree::installApp(folders[static_cast<std::size_t>(i % 4)], "Filler" + std::to_string(i),
                             "net.filler" + std::to_string(i) + ".App");
    }
    // Owners of profiles the home holds.
    TestTree::installApp(system + "/Applications", "Spotify", "com.spotify.client");
    TestTree::installApp(system + "/Applications", "Docker", "com.docker.docker");
}

// Runs the real command line over the current home as the user who owns it, with fixed languages and
// the system folders below `system`.
TestTree::ProcessResult scanHome(const TestTree::TemporaryHome& home, const std::string& system,
                                 const std::string& languages) {
    TestTree::giveToUnprivileged(home.path());
    return TestTree::run({TestTree::cliPath(), "scan", "--json", "--quiet"},
                         TestTree::Privilege::unprivileged,
                         {{"KESTRUNE_SYSTEM_ROOT", system},
                          {"LANGUAGE", languages},
                          {"LC_ALL", "C"},
                          {"LC_MESSAGES", "C"},
                          {"LANG", "C"}});
}

Catalogue reported(const nlohmann::json& document) {
    Catalogue out;
    for (const auto& category : document["categories"]) {
        auto& items = out[category["kind"].get<std::string>()];
        for (const auto& item : category["items"]) {
            items[item["path"].get<std::string>()] = {
                item.contains("label") ? item["label"].get<std::string>() : std::string(noLabel),
                item["bytes"].get<std::int64_t>()};
        }
    }
    return out;
}

TEST(CatalogueScan, EveryCategoryReportsExactlyWhatItsRuleAdmits) {
    TestTree::TemporaryHome home;
    const std::string system = home / "system";
    Catalogue expected;
    // Expected sizes are measured here, independently of the code under test.
    const auto expect = [&](const std::string& kind, const std::string& path,
                            const std::string& label = noLabel) {
        expected[kind][path] = {label, TestTree::allocatedTree(path)};
    };
    installFillers(system);
    // One file per row, written "item|rest" (TestTree::fileAndItem).
    const std::string drive = "Library/Mobile Documents/com~apple~CloudDocs/";
    const std::string backup = "Library/Application Support/MobileSync/Backup/00008030-AAAA";
    const struct {
        const char* kind;
        std::string path;
        std::int64_t bytes;
        std::string label = noLabel;
        int days = -1;
    } rows[] = {
        // A whole package cache folder, hidden or not.
        {"packageCaches", ".npm/_cacache|/content-v2/blob", 11'000'000},
        // A named cache folder inside a profile, and a profile that is a cache itself. The JetBrains folder
        // also lies in the user cache folder; the earlier category keeps it.
        {"appCaches", "Library/Application Support/Spotify/PersistentCache|/Storage/blob", 21'000'000},
        {"appCaches", "Library/Caches/JetBrains|/IdeaIC/index", 22'000'000},
        {"xcode", "Library/Developer/Xcode/DerivedData/App-abc|/Build/product", 2'000'000},
        {"nodeModules", "src/web/node_modules|/left-pad/index.js", 8192},
        {"screenshots", "Desktop/Screenshot 2024-05-01 at 10.00.00.png", 300'000},
        // The simulators' device folder as a whole.
        {"simulators", "Library/Developer/CoreSimulator/Devices|/4F1C/data/disk", 101'000'000},
        // Docker's disk image at its first place; its container belongs to an installed application.
        {"docker", "Library/Containers/com.docker.docker/Data/vms/0/data/Docker.raw", 120'000'000},
        {"userCaches", "Library/Caches/com.example.viewer|/cache.db", 1'500'000},
        {"logs", "Library/Logs/sync.log", 300'000},
        {"downloads", "Downloads/Setup.dmg", 6'000'000, noLabel, 40},
        // Neither modified nor opened (then too) for 200 days.
        {"largeOldFiles", "Documents/archive/footage.mov", 210'000'000, noLabel, 200},
        // The freedesktop home trash, empty entries included.
        {"trash", ".local/share/Trash/files/gone.txt", 0},
        // A bundle identifier of a vendor with nothing installed.
        {"appLeftovers", "Library/Application Support/com.example.Editor|/data", 6'000'000},
        // The user reads only American English.
        {"languageFiles", "Applications/Atlas.app/Contents/Resources/de.lproj|/Localizable.strings",
         2'000'000, "Atlas · de.lproj"},
        {"mailAttachments", "Library/Mail Downloads/invoice.pdf", 2'000'000},
        {"iosBackups", backup + "|/Manifest.db", 11'000'000, "Work Phone backup"},
        // With no cloud document service on Linux every large entry counts as downloaded.
        {"cloudClutter", drive + "big.zip", 55'000'000, "iCloud · big.zip"},
        // Privacy traces in places no earlier category claims.
        {"privacyTraces", "Library/Cookies/Cookies.binarycookies", 150'000, "Safari Cookies"},
        {"privacyTraces", "Library/Containers/com.apple.Safari/Data/Library/Caches|/WebKit/blob", 6'000'000,
         "Safari Caches"},
        {"mediaLeftovers", "Library/Containers/com.apple.Music/Data/Library/Caches|/artwork", 21'000'000,
         "Music Cache"},
    };
    TestTree::installApp(home / "Applications", "Atlas", "org.atlas.Atlas");
    TestTree::writeFile(home / (backup + "/Info.plist"),
                        TestTree::xmlPlist("<key>Device Name</key><string>Work Phone</string>"));
    for (const auto& row : rows) {
        const auto [file, item] = TestTree::fileAndItem(row.path);
        TestTree::build(home.path(), {{file, row.bytes, row.days}});
        expect(row.kind, home / item, row.label);
    }

    // Similar images: one photo at two qualities, the older kept; another scene of the same size stays.
    const std::string older = photo(home / "Pictures/trip/IMG_1.jpg", 1200, 900, 7, 95);
    const std::string newer = photo(home / "Downloads/IMG_1 export.jpg", 1200, 900, 7, 70);
    const std::string other = photo(home / "Pictures/trip/IMG_2.jpg", 1200, 900, 8, 95);
    ASSERT_GE(TestTree::allocated(newer), 100'000) << "the export must be large enough to be examined";
    TestTree::setModified(older, daysAgo(400));
    TestTree::setModified(newer, daysAgo(1));
    TestTree::setModified(other, daysAgo(1));
    expect("similarImages", newer, "Similar to IMG_1.jpg");

    // Duplicates: the same contents twice, the older copy kept.
    const std::string body = noise(1'500'000, 1);
    TestTree::setModified(TestTree::writeFile(home / "Documents/report.pdf", body), daysAgo(300));
    const std::string copy = TestTree::writeFile(home / "Desktop/report copy.pdf", body);
    TestTree::setModified(copy, daysAgo(2));
    expect("duplicates", copy);

    const auto r = scanHome(home, system, "en_US");
    ASSERT_EQ(r.status, 0) << r.output;
    const auto document = nlohmann::json::parse(r.output, nullptr, false);
    ASSERT_FALSE(document.is_discarded()) << r.output;

    EXPECT_EQ(reported(document), expected);
    // All of them, in the order of the registry, each written as the model has it.
    std::vector<std::string> order;
    std::vector<std::string> registry;
    for (const auto& scanner : AllScanners::all()) {
        registry.emplace_back(CategoryKinds::rawValue(scanner->kind()));
    }
    EXPECT_EQ(document["home"], home.path());
    EXPECT_TRUE(document["seconds"].is_number());
    std::int64_t total = 0;
    for (const auto& category : document["categories"]) {
        order.push_back(category["kind"].get<std::string>());
        SCOPED_TRACE(order.back());
        const CategoryKind kind = *CategoryKinds::fromRawValue(order.back());
        const ReclaimAction action = CategoryKinds::action(kind);
        EXPECT_EQ(category["title"], CategoryKinds::title(kind));
        EXPECT_EQ(category["safety"], CategoryKinds::rawValue(CategoryKinds::safety(kind)));
        EXPECT_EQ(category["action"], action.kind == ReclaimAction::Kind::advise  ? "advise"
                                      : action.kind == ReclaimAction::Kind::evict ? "evict"
                                                                                  : "trash");
        EXPECT_EQ(category.value("command", ""), action.command);
        std::int64_t sum = 0;
        std::int64_t previous = INT64_MAX;
        for (const auto& item : category["items"]) {
            const std::int64_t bytes = item["bytes"].get<std::int64_t>();
            EXPECT_LE(bytes, previous) << "largest first";
            previous = bytes;
            sum += bytes;
            const CleanupItem model(item["path"].get<std::string>(), bytes, Dates::distantPast,
                                    item.value("label", std::string()));
            EXPECT_EQ(item["name"], model.name());
            EXPECT_EQ(item["location"], model.location(home.path()));
            EXPECT_TRUE(Dates::parseIso8601(item["modified"].get<std::string>())) << item["modified"];
        }
        EXPECT_EQ(category["bytes"], sum);
        total += sum;
    }
    EXPECT_EQ(document["totalBytes"], total);
    // Each scanner stands at its position, so an earlier category keeps what it shares with a later one.
    EXPECT_EQ(registry,
              (std::vector<std::string>{"packageCaches", "appCaches",     "xcode",           "nodeModules",
                                        "screenshots",   "simulators",    "docker",          "userCaches",
                                        "logs",          "downloads",     "trash",           "appLeftovers",
                                        "languageFiles", "largeOldFiles", "mailAttachments", "iosBackups",
                                        "cloudClutter",  "privacyTraces", "mediaLeftovers",  "similarImages",
                                        "duplicates"}));
    EXPECT_EQ(order, registry);
}

} // namespace
