// The audit log on a real temporary home: its JSON form, the store's atomic and locked writes, the
// support report to the character, and survival of killed and concurrent writers.
#include "KestruneCore/Activity/ActivityStore.h"
#include "KestruneCore/Platform/AppSupport.h"
#include "tests/TrashFixture.h"

#include "BuildInfo.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <ctime>
#include <random>
#include <set>
#include <thread>

namespace {

using namespace TestTree;
using TrashFixture::lines;

ActivityEvent event(const std::string& title, Date date = Dates::now(),
                    ActivityKind kind = ActivityKind::reclaim) {
    ActivityEvent e;
    e.id = Uuid::random();
    e.date = std::chrono::floor<std::chrono::seconds>(date);
    e.kind = kind;
    e.title = title;
    return e;
}

Date at(const char* iso) {
    return *Dates::parseIso8601(iso);
}

const char* validDocument = R"({"version": 7, "lifetimeReclaimedBytes": 5, "extra": true, "events": [
  {"id": "E621E1F8-C36C-495A-93FC-0C247A3E6E5F", "date": "2026-01-02T03:04:05Z", "kind": "scan",
   "title": "Scan finished", "paths": [], "meta": {}, "unknown": 1}]})";

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    text.replace(text.find(from), from.size(), to);
    return text;
}

// Absent optionals are missing keys, a name that is not UTF-8 is mended, keys are sorted, the identifier is
// the canonical upper-case form, and what is written reads back as it was.
TEST(ActivityJsonForm, AbsentOptionalsAreMissingKeysAndRoundTrip) {
    ActivityDocument doc;
    doc.lifetimeReclaimedBytes = 42;
    auto e = event("Reclaimed 1 KB");
    e.paths = {{"~/a", 10, PathDisposition::trashed, std::nullopt},
               {"~/b", 0, PathDisposition::failed, "Permission denied"},
               {"~/bad\xFFname", 1, PathDisposition::trashed, std::nullopt}};
    doc.events = {e, event("plain")};
    const std::string text = ActivityJson::write(doc);
    EXPECT_LT(text.find("\"events\""), text.find("\"version\""));
    auto first = nlohmann::json::parse(text)["events"][0];
    EXPECT_EQ(first["id"], e.id.text());
    first.erase("id");
    first.erase("date");
    EXPECT_EQ(first.dump(),
              R"({"kind":"reclaim","meta":{},"paths":[{"bytes":10,"disposition":"trashed","path":"~/a"},)"
              R"({"bytes":0,"disposition":"failed","error":"Permission denied","path":"~/b"},)"
              R"({"bytes":1,"disposition":"trashed","path":"~/bad)"
              "\xEF\xBF\xBD"
              R"(name"}],"title":"Reclaimed 1 KB"})");
    doc.events[0].paths[2].path = "~/bad\xEF\xBF\xBDname";
    const auto back = ActivityJson::read(text);
    ASSERT_TRUE(back);
    EXPECT_EQ(std::pair(back->lifetimeReclaimedBytes, back->events),
              std::pair(doc.lifetimeReclaimedBytes, doc.events));
}

TEST(ActivityJsonForm, AnyIntegerVersionAndUnknownKeysAreAcceptedButOneBadElementRejectsAll) {
    const auto doc = ActivityJson::read(validDocument);
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->version, 7);
    ASSERT_EQ(doc->events.size(), 1u);
    EXPECT_EQ(doc->events[0].symbol(), "magnifyingglass");
    EXPECT_EQ(nlohmann::json::parse(ActivityJson::write(*doc))["version"], 1); // the next write stores 1
    const std::string good = validDocument;
    for (const auto& text : {
             replaced(good, "\"scan\"", "\"purge\""),
             replaced(good, "03:04:05Z", "03:04:05.250Z"),
             replaced(good, "E621E1F8-C36C", "E621E1F8-X36C"),
             replaced(good, "\"paths\": [],", ""),
             replaced(good, "\"lifetimeReclaimedBytes\": 5", "\"lifetimeReclaimedBytes\": \"5\""),
             replaced(good, "\"version\": 7", "\"version\": 7.5"),
             replaced(good, "\"paths\": []",
                      "\"paths\": [{\"path\": \"~/x\", \"bytes\": 1, \"disposition\": \"lost\"}]"),
             replaced(good, "\"meta\": {}", "\"meta\": {\"a\": 1}"),
             good.substr(0, good.size() / 2),
             std::string(),
             std::string("[]"),
         }) {
        EXPECT_FALSE(ActivityJson::read(text)) << text;
    }
}

TEST(ActivityDisplayPaths, HomeBecomesTildeOnlyAtAComponentBoundary) {
    const std::map<std::string, std::string> shown{
        {"/h/an", "~"}, {"/h/an/f", "~/f"}, {"/h/anna/f", "/h/anna/f"}, {"/x", "/x"}};
    for (const auto& [path, display] : shown) {
        EXPECT_EQ(ActivityPath::displayPath(path, "/h/an"), display);
    }
}

// Only positive bytes count, the 501st event drops the oldest, clearing empties the log, and an unreadable
// log is kept beside the new one byte for byte, a second one under the next free name.
TEST(ActivityStoreFile, AppendCountsPositiveBytesKeeps500ClearsAndKeepsUnreadableLogs) {
    TemporaryHome home;
    const std::string log = ActivityStore::fileURL();
    EXPECT_EQ(log, home / ".local/share/Kestrune/activity.json");
    EXPECT_EQ(ActivityStore::append(event("one"), 100).lifetimeReclaimedBytes, 100);
    (void)ActivityStore::append(event("two"), 0);
    EXPECT_EQ(ActivityStore::append(event("three"), -50).lifetimeReclaimedBytes, 100);
    EXPECT_EQ(ActivityStore::load().events.size(), 3u);
    EXPECT_FALSE(exists(log + ".tmp"));
    ActivityDocument full;
    for (int i = 0; i < 500; ++i) {
        full.events.push_back(event("old " + std::to_string(499 - i)));
    }
    ActivityStore::save(full);
    const auto after = ActivityStore::append(event("new"), 1);
    ASSERT_EQ(after.events.size(), 500u);
    EXPECT_EQ(after.events.back().title, "old 1");
    EXPECT_EQ(ActivityStore::load().events.size(), 500u);
    ActivityStore::clear();
    const auto cleared = ActivityStore::load();
    EXPECT_EQ(std::pair(cleared.lifetimeReclaimedBytes, cleared.events.size()),
              std::pair(std::int64_t{0}, std::size_t{0}));

    const std::string garbage = "{\"version\": 1, \"events\": [ truncated \xFF";
    writeFile(log, garbage);
    EXPECT_TRUE(ActivityStore::load().events.empty());
    const auto fresh = ActivityStore::append(event("fresh"), 3);
    EXPECT_EQ(std::pair(fresh.events.size(), fresh.lifetimeReclaimedBytes),
              std::pair(std::size_t{1}, std::int64_t{3}));
    writeFile(log, "not json");
    (void)ActivityStore::append(event("again"), 0);
    EXPECT_EQ(readFile(log + ".unreadable"), garbage);
    EXPECT_EQ(readFile(log + ".unreadable.2"), "not json");
    EXPECT_EQ(ActivityStore::load().events.size(), 1u);
}

std::vector<std::string> reportedIds(const std::string& output) {
    std::vector<std::string> ids;
    for (const auto& line : lines(output)) {
        if (line.size() == 36) {
            ids.push_back(line);
        }
    }
    return ids;
}

TEST(ActivityStoreDurability, AWriterKilledAtAnyMomentLeavesACompleteConsistentLog) {
    TemporaryHome home;
    std::mt19937 random(11);
    std::vector<std::string> acknowledged; // oldest first
    for (int round = 0; round < 200; ++round) {
        auto child = start({KESTRUNE_APPENDER_PATH, "1000000", "100000", "r" + std::to_string(round)});
        ASSERT_TRUE(awaitOutput(child, "ready\n"));
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20'000));
        for (const auto& id : reportedIds(finish(child, SIGKILL).output)) {
            acknowledged.push_back(id);
        }
        const std::string text = readFile(ActivityStore::fileURL());
        if (text.empty() && acknowledged.empty()) {
            continue; // killed before the first save
        }
        const auto doc = ActivityJson::read(text);
        ASSERT_TRUE(doc) << "round " << round << " left a log that does not read";
        // Every acknowledged event is there, newest first; at most one more (saved, not yet reported).
        ASSERT_GE(doc->events.size(), acknowledged.size());
        ASSERT_LE(doc->events.size(), acknowledged.size() + 1);
        if (doc->events.size() > acknowledged.size()) {
            acknowledged.push_back(doc->events.front().id.text());
        }
        for (std::size_t i = 0; i < acknowledged.size(); ++i) {
            ASSERT_EQ(doc->events[i].id.text(), acknowledged[acknowledged.size() - 1 - i])
                << "round " << round;
        }
        EXPECT_FALSE(exists(ActivityStore::fileURL() + ".unreadable"));
    }
    EXPECT_GT(acknowledged.size(), 0u);
}

TEST(ActivityStoreDurability, TwoProcessesAppendingAtOnceLoseNoEvent) {
    TemporaryHome home;
    auto a = start({KESTRUNE_APPENDER_PATH, "250", "1000", "a"});
    auto b = start({KESTRUNE_APPENDER_PATH, "250", "1000", "b"});
    const auto ra = finish(a, 0);
    const auto rb = finish(b, 0);
    ASSERT_EQ(ra.status, 0) << ra.output;
    ASSERT_EQ(rb.status, 0) << rb.output;
    const auto doc = ActivityStore::load();
    EXPECT_EQ(doc.lifetimeReclaimedBytes, 500);
    std::set<std::string> stored;
    for (const auto& e : doc.events) {
        stored.insert(e.id.text());
    }
    EXPECT_EQ(stored.size(), 500u);
    for (const auto& id : reportedIds(ra.output + rb.output)) {
        EXPECT_TRUE(stored.contains(id)) << id;
    }
}

// Local time is UTC while a test of this fixture runs.
class LocalTimeInUtc : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override {
        saved ? setenv("TZ", saved->c_str(), 1) : unsetenv("TZ");
        tzset();
    }
    const char* old = std::getenv("TZ");
    const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
};

// The log of the home as kestrune-cli history and report print it, to the character: local time of the
// process, newest first, sizes, details, every path and why it failed, meta; the empty log and report; a
// report that cannot be written refused.
TEST_F(LocalTimeInUtc, HistoryAndReportToTheCharacter) {
    const auto emptyReport = ActivityStore::supportReport({}, "1.2", "abc");
    const auto e = lines(emptyReport);
    ASSERT_EQ(e.size(), 12u);
    EXPECT_EQ(e[1].size(), std::string("Generated: 2026-01-01 00:00:00").size());
    EXPECT_EQ(e[2], "Version: 1.2 (abc)");
    EXPECT_TRUE(e[3].starts_with("Linux: "));
    EXPECT_NE(emptyReport.back(), '\n');

    TemporaryHome home;
    const auto cli = [](std::vector<std::string> arguments, const std::string& zone = "UTC") {
        arguments.insert(arguments.begin(), cliPath());
        return run(arguments, Privilege::inherited, {{"TZ", zone}});
    };
    EXPECT_EQ(cli({"history"}).output, "No activity yet\n");
    const auto emptyJson = ActivityJson::read(cli({"history", "--json"}).output);
    ASSERT_TRUE(emptyJson);
    EXPECT_TRUE(emptyJson->events.empty());

    ActivityDocument doc;
    doc.lifetimeReclaimedBytes = 2'500'000;
    auto reclaim = event("Reclaimed 1.5 MB", at("2026-03-04T05:06:07Z"));
    reclaim.detail = "2 items moved, 1 failed";
    reclaim.bytes = 1'500'000;
    reclaim.paths = {{"~/Library/Caches/app", 1'000'000, PathDisposition::trashed, std::nullopt},
                     {"~/old.dmg", 500'000, PathDisposition::removed, std::nullopt},
                     {"~/locked", 0, PathDisposition::failed, "Permission denied"}};
    auto scan = event("Scan finished", at("2026-03-04T05:00:00Z"), ActivityKind::scan);
    scan.detail = "1.5 MB reclaimable across 2 categories";
    scan.bytes = 1'500'000;
    scan.meta = {{"seconds", "1.2"}, {"categories", "2"}, {"items", "3"}};
    auto maintenance =
        event("Maintenance \u00B7 Rebuild", at("2026-03-03T23:59:59Z"), ActivityKind::maintenance);
    maintenance.detail = "";
    maintenance.bytes = 0;
    doc.events = {reclaim, scan, maintenance};
    ActivityStore::save(doc);

    const auto listed = cli({"history"});
    ASSERT_EQ(listed.status, 0) << listed.output;
    EXPECT_EQ(listed.output, "Reclaimed so far 2.5 MB\n\n"
                             "2026-03-04 05:06:07  Reclaimed 1.5 MB\n"
                             "    2 items moved, 1 failed\n"
                             "    3 paths\n"
                             "2026-03-04 05:00:00  Scan finished \u00B7 1.5 MB\n"
                             "    1.5 MB reclaimable across 2 categories\n"
                             "2026-03-03 23:59:59  Maintenance \u00B7 Rebuild\n");
    const std::string paths = "    trashed  ~/Library/Caches/app  (1 MB)\n    removed  ~/old.dmg  (500 KB)\n"
                              "    failed   ~/locked \u2014 Permission denied\n";
    EXPECT_NE(cli({"history", "--paths"}).output.find(paths), std::string::npos);
    // Local time really is the zone of the process.
    const auto tokyo = cli({"history"}, "Asia/Tokyo").output;
    EXPECT_NE(tokyo.find("2026-03-04 14:00:00  Scan finished"), std::string::npos) << tokyo;
    EXPECT_EQ(cli({"history", "--json"}).output, readFile(ActivityStore::fileURL()));

    const std::vector<std::string> expected{
        "Kestrune Activity Report",
        "",
        "Version: " + std::string(BuildInfo::version) + " (" + BuildInfo::build + ")",
        Platform::operatingSystemLine(),
        "",
        "Lifetime reclaimed: 2.5 MB",
        "Events: 3",
        "",
        "\u2500\u2500\u2500 Activity (newest first) \u2500\u2500\u2500",
        "",
        "[2026-03-04 05:06:07] Reclaimed 1.5 MB \u00B7 1.5 MB",
        "  2 items moved, 1 failed",
        "  trashed  ~/Library/Caches/app  (1 MB)",
        "  removed  ~/old.dmg  (500 KB)",
        "  failed   ~/locked \u2014 Permission denied",
        "",
        "[2026-03-04 05:00:00] Scan finished \u00B7 1.5 MB",
        "  1.5 MB reclaimable across 2 categories",
        "  meta: categories=2, items=3, seconds=1.2",
        "",
        "[2026-03-03 23:59:59] Maintenance \u00B7 Rebuild",
        "",
        "\u2500\u2500\u2500 End of report \u2500\u2500\u2500",
        "Contains file paths from this Mac \u2014 share only with support you trust.",
    };
    // The Generated line carries the moment the report was made.
    const auto withoutMoment = [](const std::string& text) {
        auto got = lines(text);
        EXPECT_TRUE(got.size() > 1 && got[1].starts_with("Generated: ")) << text;
        got.at(1) = "";
        return got;
    };
    const auto report = cli({"report"});
    ASSERT_EQ(report.status, 0);
    EXPECT_EQ(withoutMoment(report.output), expected);
    makeFolder(home / "Reports");
    EXPECT_EQ(cli({"report", "--output", home / "Reports/out.txt"}).status, 0);
    EXPECT_EQ(withoutMoment(readFile(home / "Reports/out.txt")), expected);
    const auto refused = cli({"report", "--output", home / "missing/out.txt"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.output.find("cannot write"), std::string::npos);
    EXPECT_FALSE(exists(home / "missing"));
}

} // namespace
