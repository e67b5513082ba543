// The cleanup model: the catalogue's raw values and actions, item names and locations, identity, sizes
// and dates as text.
#include "KestruneCore/Model/CleanupItem.h"
#include "KestruneCore/Model/DiskMath.h"
#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Model/Utf8.h"
#include <set>

#include <gtest/gtest.h>
#include <unordered_set>

namespace {

TEST(Catalogue, RawValuesRoundTripAndOnlyToolOwnedKindsAdvise) {
    // Safe categories are preselected: only caches, logs, build output and the Trash may be.
    const std::set<CategoryKind> safe{CategoryKind::userCaches, CategoryKind::logs,
                                      CategoryKind::xcode,      CategoryKind::nodeModules,
                                      CategoryKind::trash,      CategoryKind::packageCaches,
                                      CategoryKind::appCaches};
    std::set<std::string> raws;
    std::set<std::string> titles;
    for (const auto kind : CategoryKinds::allCases()) {
        const std::string raw(CategoryKinds::rawValue(kind));
        SCOPED_TRACE(raw);
        EXPECT_EQ(CategoryKinds::fromRawValue(raw), kind);
        raws.insert(raw);
        titles.insert(std::string(CategoryKinds::title(kind)));
        const auto action = CategoryKinds::action(kind);
        const bool advise = kind == CategoryKind::simulators || kind == CategoryKind::docker;
        EXPECT_EQ(action.kind == ReclaimAction::Kind::advise, advise);
        EXPECT_EQ(action.kind == ReclaimAction::Kind::evict, kind == CategoryKind::cloudClutter);
        EXPECT_EQ(action.command.empty(), !advise);
        EXPECT_EQ(CategoryKinds::safety(kind) == Safety::safe, safe.contains(kind));
    }
    EXPECT_EQ(raws.size(), CategoryKinds::allCases().size());
    EXPECT_EQ(titles.size(), raws.size());
    // Case-sensitive, and a title is not a raw value.
    for (const char* bad : {"Caches", "usercaches", ""}) {
        EXPECT_FALSE(CategoryKinds::fromRawValue(bad)) << bad;
    }
    EXPECT_EQ(ReclaimAction::advise("a"), ReclaimAction::advise("a"));
    EXPECT_NE(ReclaimAction::advise("a"), ReclaimAction::advise("b"));
    EXPECT_NE(ReclaimAction::advise(""), ReclaimAction::trash());
    EXPECT_NE(ReclaimAction::trash(), ReclaimAction::evict());
}

TEST(CleanupItems, NamesTakeTheLabelOrAGenericNamesParentCaseSensitively) {
    const std::pair<CleanupItem, const char*> rows[] = {
        {CleanupItem("/a/b/node_modules", 1, Dates::distantPast, "My App"), "My App"},
        {CleanupItem("/a/web-app/node_modules", 1, Dates::distantPast, ""), "web-app/node_modules"},
        {CleanupItem("/a/b/file.txt", 1, Dates::distantPast), "file.txt"},
        {CleanupItem("/x/app/Code Cache", 1, Dates::distantPast), "app/Code Cache"},
        {CleanupItem("/x/app/code cache", 1, Dates::distantPast), "code cache"},
        {CleanupItem("/x/proj/registry", 1, Dates::distantPast), "proj/registry"},
        {CleanupItem("/Caches", 1, Dates::distantPast), "Caches"}, // the parent component is empty
    };
    for (const auto& [item, name] : rows) {
        EXPECT_EQ(item.name(), name) << item.url;
    }
}

TEST(CleanupItems, HomeIsWrittenAsTildeAtFolderBoundariesEverywhere) {
    const std::pair<const char*, const char*> rows[] = {
        {"/home/annabel/x", "/home/annabel"},
        {"/opt/data/file", "/opt/data"},
        {"/home/anna/x", "~"},
        {"/home/anna", "/home"},
        {"/home/anna/annabel/x", "~/annabel"},
        {"/home/anna2/home/anna/x", "/home/anna2~"},
        {"/srv/home/anna/y/z", "/srv~/y"},
    };
    for (const auto& [path, location] : rows) {
        EXPECT_EQ(CleanupItem(path, 1, Dates::distantPast).location("/home/anna"), location) << path;
    }
}

TEST(CleanupItems, EqualityAndHashingUseThePathOnlyAndResultsSumTheirItems) {
    const CleanupItem a("/a/b", 10, Dates::now(), "one");
    const CleanupItem b("/a/b", 20, Dates::distantPast, "two");
    EXPECT_EQ(a, b);
    EXPECT_NE(a.id, b.id);
    std::unordered_set<CleanupItem> set{a, b, CleanupItem("/a/c", 1, Dates::distantPast)};
    EXPECT_EQ(set.size(), 2u);
    EXPECT_EQ((CategoryResult{CategoryKind::logs, {}}).bytes(), 0);
    EXPECT_EQ((CategoryResult{CategoryKind::logs, {a, CleanupItem("/b", 7, Dates::distantPast)}}).bytes(),
              17);
}

TEST(HumanSizes, FixedFormattingChoices) {
    const std::int64_t sizes[] = {0,          -5,         1,          499,           532000,
                                  999499,     999999,     2500000,    3000000,       999950000,
                                  1234567890, 1200000000, 1005000000, 5000000000000, 1234560000000000};
    const char* texts[] = {"—",       "—",      "1 KB",    "1 KB",     "532 KB",
                           "999 KB",  "1 MB",   "2.5 MB",  "3 MB",     "1 GB",
                           "1.23 GB", "1.2 GB", "1.01 GB", "5,000 GB", "1,234,560 GB"};
    static_assert(std::size(sizes) == std::size(texts));
    for (std::size_t i = 0; i < std::size(sizes); ++i) {
        EXPECT_EQ(DiskMath::human(sizes[i]), texts[i]) << sizes[i];
    }
    EXPECT_FALSE(DiskMath::human(INT64_MAX).empty());
}

TEST(PathText, JoinsAndStandardizesWithoutTouchingTheDisk) {
    EXPECT_EQ(Paths::child("/", "etc"), "/etc");
    EXPECT_EQ(Paths::child("/a", "b"), "/a/b");
    const char* raw[] = {"/a/b/", "/a/./b", "/a/x/../b", "//a//b", "/..", "/"};
    const char* standard[] = {"/a/b", "/a/b", "/a/b", "/a/b", "/", "/"};
    for (std::size_t i = 0; i < std::size(raw); ++i) {
        EXPECT_EQ(Paths::standardized(raw[i]), standard[i]) << raw[i];
    }
    EXPECT_EQ(Paths::parent("/a"), "/");
    EXPECT_EQ(Paths::lastComponent("/a/b/"), "b");
    EXPECT_TRUE(Paths::isInside("/a/b/c", "/a/b"));
    EXPECT_FALSE(Paths::isInside("/a/bc", "/a/b"));
}

TEST(Utf8Text, InvalidBytesBecomeReplacementCharacters) {
    EXPECT_EQ(Utf8::valid("plain"), "plain");
    EXPECT_EQ(Utf8::valid("caf\xC3\xA9"), "caf\xC3\xA9");
    EXPECT_EQ(Utf8::valid("a\xFF"
                          "b"),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(Utf8::valid("\xC3"), "\xEF\xBF\xBD");
    EXPECT_EQ(Utf8::valid("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"); // a surrogate
    EXPECT_FALSE(Utf8::isValid("\xC0\xAF"));
}

TEST(DateText, Iso8601RoundTripsAndRejectsWhatADateCannotHold) {
    const auto parsed = Dates::parseIso8601("2026-01-02T03:04:05Z");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(Dates::iso8601(*parsed), "2026-01-02T03:04:05Z");
    // Nanoseconds in 64 bits end in April 2262; a later year once overflowed into a wrong date.
    for (const char* bad : {"2026-01-02T03:04:05.5Z", "2026-02-30T03:04:05Z", "2026-01-02 03:04:05Z",
                            "9507-05-05T14:04:05Z", "1600-01-01T00:00:00Z", "2262-04-11T23:47:17Z"}) {
        EXPECT_FALSE(Dates::parseIso8601(bad)) << bad;
    }
    const auto last = Dates::parseIso8601("2262-04-11T23:47:16Z");
    ASSERT_TRUE(last);
    EXPECT_EQ(Dates::iso8601(*last), "2262-04-11T23:47:16Z");
    EXPECT_EQ(Dates::parseIso8601(Dates::iso8601(Dates::distantPast)), Dates::distantPast);
}

} // namespace
