// The cleanup model: the catalogue byte for byte, item names and locations, identity, sizes as text.
#include "KestruneCore/Model/CleanupItem.h"
#include "KestruneCore/Model/DiskMath.h"
#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Model/Utf8.h"
#include "tests/TestHome.h"

#include <gtest/gtest.h>
#include <unordered_set>

namespace {

struct ExpectedRow {
    const char* raw;
    const char* title;
    const char* blurb;
    const char* symbol;
    Safety safety;
    ReclaimAction action;
};

const std::vector<ExpectedRow>& expectedCatalogue() {
    static const std::vector<ExpectedRow> rows{
        {"userCaches", "Caches", "App caches in ~/.cache. Rebuilt on next launch.", "shippingbox",
         Safety::safe, ReclaimAction::trash()},
        {"logs", "Logs", "Diagnostic logs in ~/.local/state, ~/.local/share/xorg and app log folders.",
         "doc.text", Safety::safe, ReclaimAction::trash()},
        {"xcode", "Xcode Junk", "DerivedData, Archives, and device support images.", "hammer", Safety::safe,
         ReclaimAction::trash()},
        {"nodeModules", "node_modules", "Dependency trees you can reinstall with one command.",
         "shippingbox.fill", Safety::safe, ReclaimAction::trash()},
        {"packageCaches", "Package Caches",
         "npm, pnpm, pip, Cargo, Gradle and friends. Re-downloaded on demand.", "cube.box", Safety::safe,
         ReclaimAction::trash()},
        {"appCaches", "App Caches", "Cache folders inside app profiles. Never the profile itself.",
         "square.stack.3d.up", Safety::safe, ReclaimAction::trash()},
        {"screenshots", "Screenshots", "Screen captures sitting on the Desktop.", "camera.viewfinder",
         Safety::review, ReclaimAction::trash()},
        {"downloads", "Old Installers", "Disk images and installers over 30 days old.", "arrow.down.circle",
         Safety::review, ReclaimAction::trash()},
        {"trash", "Trash", "Items already in the Trash.", "trash", Safety::safe, ReclaimAction::trash()},
        {"appLeftovers", "App Leftovers", "Support files for apps no longer installed.", "app.dashed",
         Safety::review, ReclaimAction::trash()},
        {"simulators", "Simulators", "Unavailable simulator runtimes and device data.", "iphone.gen3",
         Safety::review, ReclaimAction::advise("xcrun simctl delete unavailable")},
        {"docker", "Docker", "Docker\x27s disk image, which grows but never shrinks.", "cube.transparent",
         Safety::review,
         ReclaimAction::advise("docker run --privileged --pid=host docker/desktop-reclaim-space")},
        {"largeOldFiles", "Large & Old Files", "Big files you haven\x27t opened in six months.",
         "doc.viewfinder", Safety::review, ReclaimAction::trash()},
        {"mailAttachments", "Mail Attachments", "Attachments Mail downloaded and kept.", "paperclip",
         Safety::review, ReclaimAction::trash()},
        {"iosBackups", "iOS Backups", "Local backups of iPhones and iPads.", "iphone.badge.play",
         Safety::review, ReclaimAction::trash()},
        {"cloudClutter", "Cloud Clutter",
         "Downloaded iCloud Drive copies. Evict frees local space; files stay in iCloud.", "icloud",
         Safety::review, ReclaimAction::evict()},
        {"privacyTraces", "Privacy Traces",
         "Browser and app caches, cookies, and session data \xE2\x80\x94 review per app.", "eye.slash",
         Safety::review, ReclaimAction::trash()},
        {"duplicates", "Duplicates", "Identical files kept in more than one place.", "doc.on.doc",
         Safety::review, ReclaimAction::trash()},
        {"languageFiles", "Language Files",
         "Unused app language packs (.lproj). On Linux the package manager owns locale data, so none are "
         "found.",
         "globe", Safety::review, ReclaimAction::trash()},
        {"similarImages", "Similar Images",
         "Near-duplicate photos on Desktop, Pictures, and Downloads. One copy is kept.",
         "photo.on.rectangle.angled", Safety::review, ReclaimAction::trash()},
        {"mediaLeftovers", "Music & TV Leftovers",
         "Music and TV app caches and download leftovers \xE2\x80\x94 not your media library.",
         "music.note.tv", Safety::review, ReclaimAction::trash()},
    };
    return rows;
}

TEST(Catalogue, EveryRowMatchesTheTableByteForByte) {
    const auto& cases = CategoryKinds::allCases();
    ASSERT_EQ(cases.size(), expectedCatalogue().size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const auto& row = expectedCatalogue()[i];
        SCOPED_TRACE(row.raw);
        EXPECT_EQ(CategoryKinds::rawValue(cases[i]), row.raw);
        EXPECT_EQ(CategoryKinds::title(cases[i]), row.title);
        EXPECT_EQ(CategoryKinds::blurb(cases[i]), row.blurb);
        EXPECT_EQ(CategoryKinds::symbol(cases[i]), row.symbol);
        EXPECT_EQ(CategoryKinds::safety(cases[i]), row.safety);
        EXPECT_EQ(CategoryKinds::action(cases[i]), row.action);
        EXPECT_EQ(CategoryKinds::action(cases[i]).command, row.action.command);
        EXPECT_EQ(CategoryKinds::fromRawValue(row.raw), cases[i]);
    }
}

TEST(Catalogue, SevenSafeTwoAdviseOneEvict) {
    int safe = 0, advise = 0, evict = 0;
    for (const auto kind : CategoryKinds::allCases()) {
        safe += CategoryKinds::safety(kind) == Safety::safe;
        advise += CategoryKinds::action(kind).kind == ReclaimAction::Kind::advise;
        evict += CategoryKinds::action(kind).kind == ReclaimAction::Kind::evict;
    }
    EXPECT_EQ(safe, 7);
    EXPECT_EQ(advise, 2);
    EXPECT_EQ(evict, 1);
}

TEST(Catalogue, RawValuesAreCaseSensitiveAndTitlesAreNotRawValues) {
    EXPECT_FALSE(CategoryKinds::fromRawValue("Caches"));
    EXPECT_FALSE(CategoryKinds::fromRawValue("usercaches"));
    EXPECT_FALSE(CategoryKinds::fromRawValue(""));
    EXPECT_EQ(CategoryKinds::fromRawValue("userCaches"), CategoryKind::userCaches);
}

TEST(ReclaimActions, AdviseIsEqualByCommandAndNotSelectable) {
    EXPECT_EQ(ReclaimAction::advise("a"), ReclaimAction::advise("a"));
    EXPECT_NE(ReclaimAction::advise("a"), ReclaimAction::advise("b"));
    EXPECT_NE(ReclaimAction::advise(""), ReclaimAction::trash());
    EXPECT_NE(ReclaimAction::trash(), ReclaimAction::evict());
    EXPECT_FALSE(ReclaimAction::advise("x").isSelectable());
    EXPECT_TRUE(ReclaimAction::trash().isSelectable());
    EXPECT_TRUE(ReclaimAction::evict().isSelectable());
}

TEST(CleanupItemNames, LabelWinsUnlessEmpty) {
    EXPECT_EQ(CleanupItem("/a/b/node_modules", 1, Dates::distantPast, "My App").name(), "My App");
    EXPECT_EQ(CleanupItem("/a/web-app/node_modules", 1, Dates::distantPast, "").name(),
              "web-app/node_modules");
    EXPECT_EQ(CleanupItem("/a/b/file.txt", 1, Dates::distantPast).name(), "file.txt");
}

TEST(CleanupItemNames, GenericNamesTakeTheirParentCaseSensitively) {
    EXPECT_EQ(CleanupItem("/x/app/Code Cache", 1, Dates::distantPast).name(), "app/Code Cache");
    EXPECT_EQ(CleanupItem("/x/app/code cache", 1, Dates::distantPast).name(), "code cache");
    EXPECT_EQ(CleanupItem("/x/proj/registry", 1, Dates::distantPast).name(), "proj/registry");
    EXPECT_EQ(CleanupItem("/x/proj/Registry", 1, Dates::distantPast).name(), "Registry");
    // Directly under the root the parent component is empty.
    EXPECT_EQ(CleanupItem("/Caches", 1, Dates::distantPast).name(), "Caches");
}

TEST(CleanupItemLocations, HomeIsWrittenAsTildeEverywhere) {
    TestTree::TemporaryHome home;
    EXPECT_EQ(CleanupItem(home / "file", 1, Dates::distantPast).location(home.path()), "~");
    EXPECT_EQ(CleanupItem(home / "Library/Caches/x", 1, Dates::distantPast).location(home.path()),
              "~/Library/Caches");
    EXPECT_EQ(CleanupItem("/opt/data/file", 1, Dates::distantPast).location(home.path()), "/opt/data");
    // Every occurrence, not only a leading one.
    const std::string nested = "/mnt" + home.path() + "/file";
    EXPECT_EQ(CleanupItem(nested, 1, Dates::distantPast).location(home.path()), "/mnt~");
    // Only at folder boundaries: a longer name that starts like the home keeps its full path.
    const struct {
        const char* path;
        const char* location;
    } rows[] = {
        {"/home/annabel/x", "/home/annabel"},
        {"/home/anna/x", "~"},
        {"/home/anna", "/home"},
        {"/home/anna/annabel/x", "~/annabel"},
        {"/home/anna2/home/anna/x", "/home/anna2~"},
        {"/srv/home/anna/y/z", "/srv~/y"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(CleanupItem(row.path, 1, Dates::distantPast).location("/home/anna"), row.location)
            << row.path;
    }
}

TEST(CleanupItemIdentity, EqualityAndHashingUseThePathOnly) {
    const CleanupItem a("/a/b", 10, Dates::now(), "one");
    const CleanupItem b("/a/b", 20, Dates::distantPast, "two");
    EXPECT_EQ(a, b);
    EXPECT_NE(a.id, b.id);
    std::unordered_set<CleanupItem> set{a, b, CleanupItem("/a/c", 1, Dates::distantPast)};
    EXPECT_EQ(set.size(), 2u);
}

TEST(CategoryResults, BytesSumTheItems) {
    CategoryResult empty{CategoryKind::logs, {}};
    EXPECT_EQ(empty.bytes(), 0);
    CategoryResult two{CategoryKind::logs,
                       {CleanupItem("/a", 5, Dates::distantPast), CleanupItem("/b", 7, Dates::distantPast)}};
    EXPECT_EQ(two.bytes(), 12);
    EXPECT_EQ(two.id(), CategoryKind::logs);
}

TEST(HumanSizes, FixedFormattingChoices) {
    EXPECT_EQ(DiskMath::human(0), "\xE2\x80\x94");
    EXPECT_EQ(DiskMath::human(-5), "\xE2\x80\x94");
    EXPECT_EQ(DiskMath::human(1), "1 KB");
    EXPECT_EQ(DiskMath::human(499), "1 KB");
    EXPECT_EQ(DiskMath::human(532'000), "532 KB");
    EXPECT_EQ(DiskMath::human(999'499), "999 KB");
    EXPECT_EQ(DiskMath::human(999'999), "1 MB");
    EXPECT_EQ(DiskMath::human(2'500'000), "2.5 MB");
    EXPECT_EQ(DiskMath::human(3'000'000), "3 MB");
    EXPECT_EQ(DiskMath::human(999'950'000), "1 GB");
    EXPECT_EQ(DiskMath::human(1'234'567'890), "1.23 GB");
    EXPECT_EQ(DiskMath::human(1'200'000'000), "1.2 GB");
    EXPECT_EQ(DiskMath::human(1'005'000'000), "1.01 GB");
    EXPECT_EQ(DiskMath::human(5'000'000'000'000), "5,000 GB");
    EXPECT_EQ(DiskMath::human(1'234'560'000'000'000), "1,234,560 GB");
    EXPECT_FALSE(DiskMath::human(INT64_MAX).empty());
}

TEST(PathText, ChildJoinsWithoutDoubleSlash) {
    EXPECT_EQ(Paths::child("/", "etc"), "/etc");
    EXPECT_EQ(Paths::child("/a", "b"), "/a/b");
}

TEST(PathText, StandardizedResolvesDotsAndTrailingSlashes) {
    EXPECT_EQ(Paths::standardized("/a/b/"), "/a/b");
    EXPECT_EQ(Paths::standardized("/a/./b"), "/a/b");
    EXPECT_EQ(Paths::standardized("/a/x/../b"), "/a/b");
    EXPECT_EQ(Paths::standardized("//a//b"), "/a/b");
    EXPECT_EQ(Paths::standardized("/.."), "/");
    EXPECT_EQ(Paths::standardized("/"), "/");
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

TEST(DateText, Iso8601RoundTripsAndRejectsFractions) {
    const auto parsed = Dates::parseIso8601("2026-01-02T03:04:05Z");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(Dates::iso8601(*parsed), "2026-01-02T03:04:05Z");
    EXPECT_FALSE(Dates::parseIso8601("2026-01-02T03:04:05.5Z"));
    EXPECT_FALSE(Dates::parseIso8601("2026-02-30T03:04:05Z"));
    EXPECT_FALSE(Dates::parseIso8601("2026-01-02 03:04:05Z"));
    EXPECT_LT(Dates::distantPast, *parsed);
}

TEST(DateText, YearsADateCannotHoldAreRejectedNotWrapped) {
    // Nanoseconds in 64 bits end in April 2262; a later year once overflowed into a wrong date.
    EXPECT_FALSE(Dates::parseIso8601("9507-05-05T14:04:05Z"));
    EXPECT_FALSE(Dates::parseIso8601("1600-01-01T00:00:00Z"));
    const auto last = Dates::parseIso8601("2262-04-11T23:47:16Z");
    ASSERT_TRUE(last);
    EXPECT_EQ(Dates::iso8601(*last), "2262-04-11T23:47:16Z");
    EXPECT_FALSE(Dates::parseIso8601("2262-04-11T23:47:17Z"));
    // The distant past writes the year 1 and reads back as itself.
    EXPECT_EQ(Dates::parseIso8601(Dates::iso8601(Dates::distantPast)), Dates::distantPast);
}

} // namespace
