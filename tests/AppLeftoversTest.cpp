// The app-leftovers scanner against real application folders (real XML Info.plist files) under a
// temporary system root and home.
#include "KestruneCore/Model/TextFolding.h"
#include "KestruneCore/Platform/SystemFolder.h"
#include "KestruneCore/Scanners/AppLeftoversScanner.h"
#include "tests/TestHome.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <unistd.h>

namespace {

using TestTree::urls;

// A temporary home whose system folders live in its "system" folder.
class Machine {
public:
    Machine() { setenv("KESTRUNE_SYSTEM_ROOT", system().c_str(), 1); }
    [[nodiscard]] std::string system() const { return home / "system"; }
    [[nodiscard]] std::string operator/(const std::string& relative) const { return home / relative; }

    // Ten applications of unrelated vendors, two in each of the five searched folders.
    void installTen() const {
        const std::vector<std::string> folders{system() + "/Applications", system() + "/System/Applications",
                                               system() + "/System/Applications/Utilities",
                                               system() + "/Applications/Utilities", home / "Applications"};
        for (int i = 0; i < 10; ++i) {
            TestTree::installApp(folders[static_cast<std::size_t>(i / 2)], "Filler" + std::to_string(i),
                                 "net.filler" + std::to_string(i) + ".App");
        }
    }
    std::string leftover(const std::string& relative, std::int64_t bytes = 6'000'000) const {
        TestTree::makeFile(home / (relative + "/data"), bytes);
        return home / relative;
    }

    TestTree::TemporaryHome home;
};

InstalledApps apps(std::set<std::string> ids, std::set<std::string> names) {
    InstalledApps a;
    a.bundleIDs = std::move(ids);
    for (const auto& n : names) {
        a.names.insert(TextFolding::folded(n));
    }
    return a;
}

TEST(SystemFolders, MapBelowTheOverrideRootOnlyWhenItIsAbsolute) {
    TestTree::TemporaryHome home; // puts the system root back
    unsetenv("KESTRUNE_SYSTEM_ROOT");
    EXPECT_EQ(Platform::systemFolder("/Applications"), "/Applications");
    setenv("KESTRUNE_SYSTEM_ROOT", "/tmp/root/", 1);
    EXPECT_EQ(Platform::systemFolder("/System/Applications/Utilities"),
              "/tmp/root/System/Applications/Utilities");
    setenv("KESTRUNE_SYSTEM_ROOT", "relative", 1);
    EXPECT_EQ(Platform::systemFolder("/Library/Caches"), "/Library/Caches");
}

TEST(InstalledPicture, ReadsTheFiveFoldersWithoutDescendingAndKeepsNamesWithoutIdentifiers) {
    Machine m;
    m.installTen();
    TestTree::installApp(m.system() + "/Applications/Games", "Deep",
                         "org.deep.Game");                           // not directly in a folder
    TestTree::installApp(m.system() + "/Applications", "Plain", ""); // name but no identifier
    TestTree::installApp(m.system() + "/Applications", "Shout", "org.shout.App");
    std::filesystem::rename(m.system() + "/Applications/Shout.app", m.system() + "/Applications/Shout.APP");
    TestTree::writeFile(m.system() + "/Applications/Broken.app/Contents/Info.plist", "<plist><dict><key>");
    TestTree::writeFile(
        m / "Applications/Array.app/Contents/Info.plist",
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>x</string></array></plist>");
    TestTree::makeFolder(m.system() + "/Applications/.app");
    const InstalledApps a = AppLeftoversScanner::installedApps();
    std::set<std::string> ids, names{"plain", "broken", "array"};
    for (int i = 0; i < 10; ++i) {
        ids.insert("net.filler" + std::to_string(i) + ".App");
        names.insert("filler" + std::to_string(i));
    }
    EXPECT_EQ(a.bundleIDs, ids);
    EXPECT_EQ(a.names, names);
}

// The scan's own part: nothing with ten installed identifiers (too few to judge by), then the folders it
// lists, an installed vendor's container and a folded installed name kept, the floor each side and files
// (hidden names and links are never children: Children); each name rule case by case: NamesAreJudged.
TEST(Leftovers, TheScanReportsOnlyWhatNoRuleKeeps) {
    Machine m;
    m.installTen();
    const auto b = TestTree::block(m.home);
    const std::string support = "Library/Application Support/";
    m.leftover("Library/Containers/org.other.App");
    m.leftover(support + "Editeur");
    m.leftover(support + "org.small.App", TestTree::below(5'000'000, b));
    std::set<std::string> reported{
        m.leftover(support + "com.example.Editor"),
        m.leftover("Library/Saved Application State/com.gone.Tool.savedState"),
        m.leftover(support + "org.big.App", TestTree::atOrAbove(5'000'000, b)),
        TestTree::makeFile(m / "Library/Containers/org.file.App.plist", 6'000'000)};
    EXPECT_TRUE(AppLeftoversScanner().scan().empty());
    TestTree::installApp(m / "Applications", "Other", "org.other.App");
    reported.insert(m / (support + "Editeur"));
    EXPECT_EQ(urls(AppLeftoversScanner().scan()), reported);
    reported.erase(m / (support + "Editeur"));
    TestTree::installApp(m / "Applications", "Éditeur Pro", "org.editeur.Pro");
    EXPECT_EQ(urls(AppLeftoversScanner().scan()), reported);
    TestTree::installApp(m / "Applications", "Viewer", "com.example.Viewer");
    reported.erase(m / (support + "com.example.Editor"));
    EXPECT_EQ(urls(AppLeftoversScanner().scan()), reported);
}

TEST(Leftovers, NamesAreJudgedByIdentifierVendorNameAndSuffixRules) {
    const struct {
        const char* entry;
        const char* id;   // the one installed identifier, if any
        const char* name; // the one installed name, if any
        bool orphan;
    } cases[] = {
        {"com.example.Editor", "com.examples.App", "", false}, // a plain-text prefix of the vendor
        {"org.example.Editor", "com.examples.App", "", true},
        {"com..examples..Editor", "com.examples.App", "", false}, // empty pieces are dropped
        {"com..other..Editor", "com.examples.App", "", true},
        {"adobe", "", "", true},
        {"com.example.Editor.savedState", "com.example.Editor", "Editor Pro", false},
        {"Editor Pro.plist", "com.example.Editor", "Editor Pro", false},
        {"Editor Pro.binarycookies", "com.example.Editor", "Editor Pro", false},
        {"Editor Pro.plist.savedState", "com.example.Editor", "Editor Pro", false},
        {"Pro.savedState", "com.example.Editor", "Editor Pro", false}, // "pro" lies inside "editor pro"
        {"Tracker.savedState", "com.example.Editor", "Editor Pro", true},
        {"Editor Pro.savedState.savedState", "", "Pro Editor", true}, // each suffix is stripped once
        {"example.data", "example.data.Thing", "Editor Pro", true},   // two pieces are a name
        {"example.data.Other", "example.data.Thing", "Editor Pro", false},
        {"editor pro", "example.data.Thing", "Editor Pro", false},
        {"Editor", "example.data.Thing", "Editor Pro", false},
        {"Pro Tools Data", "example.data.Thing", "Editor Pro", true},
        {"Editor Pro Helper Data", "", "Editor Pro", false}, // the installed name inside the entry's
        {"Com.Apple.Thing", "", "", true},                   // protected prefixes are case-sensitive
    };
    for (const auto& c : cases) {
        const auto a = apps(*c.id ? std::set<std::string>{c.id} : std::set<std::string>{},
                            *c.name ? std::set<std::string>{c.name} : std::set<std::string>{});
        EXPECT_EQ(AppLeftoversScanner::isOrphan(c.entry, a), c.orphan) << c.entry;
    }
    for (const auto& prefix : AppLeftoversScanner::neverTouch()) {
        EXPECT_FALSE(AppLeftoversScanner::isOrphan(prefix + "Leftover", apps({}, {}))) << prefix;
        EXPECT_FALSE(AppLeftoversScanner::isOrphan(prefix + "X.savedState", apps({}, {}))) << prefix;
    }
    EXPECT_EQ(TextFolding::folded("Ærø Straße ÇA"), TextFolding::folded("ærø strasse ça"));
    EXPECT_EQ(TextFolding::folded("Café"), "cafe");
    EXPECT_NE(TextFolding::folded("bad\xff"), TextFolding::folded("bad\xfe"));
}

} // namespace
