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

    void install(const std::string& folder, const std::string& name, const std::string& identifier) const {
        TestTree::installApp(folder, name, identifier);
    }
    // Ten applications of unrelated vendors, two in each of the five searched folders.
    void installTen() const {
        const std::vector<std::string> folders{system() + "/Applications", system() + "/System/Applications",
                                               system() + "/System/Applications/Utilities",
                                               system() + "/Applications/Utilities", home / "Applications"};
        for (int i = 0; i < 10; ++i) {
            install(folders[static_cast<std::size_t>(i / 2)], "Filler" + std::to_string(i),
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
    setenv("KESTRUNE_SYSTEM_ROOT", "", 1);
    EXPECT_EQ(Platform::systemFolder("/Applications"), "/Applications");
}

TEST(InstalledPicture, ReadsTheFiveFoldersWithoutDescendingAndKeepsNamesWithoutIdentifiers) {
    Machine m;
    m.installTen();
    m.install(m.system() + "/Applications/Games", "Deep", "org.deep.Game"); // not directly in a folder
    m.install(m.system() + "/Applications", "Plain", "");                   // name but no identifier
    m.install(m.system() + "/Applications", "Shout", "org.shout.App");
    std::filesystem::rename(m.system() + "/Applications/Shout.app", m.system() + "/Applications/Shout.APP");
    TestTree::writeFile(m.system() + "/Applications/Broken.app/Contents/Info.plist", "<plist><dict><key>");
    TestTree::writeFile(
        m / "Applications/Array.app/Contents/Info.plist",
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>x</string></array></plist>");
    TestTree::makeFolder(m.system() + "/Applications/.app");
    const InstalledApps a = AppLeftoversScanner::installedApps();
    std::set<std::string> ids;
    std::set<std::string> names{"plain", "broken", "array"};
    for (int i = 0; i < 10; ++i) {
        ids.insert("net.filler" + std::to_string(i) + ".App");
        names.insert("filler" + std::to_string(i));
    }
    EXPECT_EQ(a.bundleIDs, ids);
    EXPECT_EQ(a.names, names);
}

TEST(Leftovers, TenInstalledIdentifiersAreTooFewToReportAnything) {
    Machine m;
    m.installTen();
    const auto editor = m.leftover("Library/Application Support/com.example.Editor");
    EXPECT_TRUE(AppLeftoversScanner().scan().empty());
    // An eleventh bundle without an identifier or out of reach changes nothing.
    m.install(m.system() + "/Applications", "NoID", "");
    m.install(m.system() + "/Applications/Games", "Deep", "org.deep.Game");
    EXPECT_TRUE(AppLeftoversScanner().scan().empty());
    m.install(m / "Applications", "Eleventh", "org.eleventh.App");
    EXPECT_EQ(urls(AppLeftoversScanner().scan()), std::set<std::string>{editor});
}

TEST(Leftovers, AnInstalledVendorKeepsItsSiblingsAsAPlainTextPrefix) {
    Machine m;
    m.installTen();
    m.install(m / "Applications", "Other", "org.other.App");
    const auto editor = m.leftover("Library/Application Support/com.example.Editor");
    m.leftover("Library/Containers/org.other.App"); // installed exactly
    const auto state = m.leftover("Library/Saved Application State/com.gone.Tool.savedState");
    EXPECT_EQ(urls(AppLeftoversScanner().scan()), (std::set<std::string>{editor, state}));
    m.install(m / "Applications", "Viewer", "com.example.Viewer");
    EXPECT_EQ(urls(AppLeftoversScanner().scan()), std::set<std::string>{state});

    const auto a = apps({"com.examples.App"}, {});
    EXPECT_FALSE(AppLeftoversScanner::isOrphan("com.example.Editor", a));
    EXPECT_TRUE(AppLeftoversScanner::isOrphan("org.example.Editor", a));
    // Empty pieces are dropped: still three pieces with the vendor com.example.
    EXPECT_FALSE(AppLeftoversScanner::isOrphan("com..examples..Editor", a));
    EXPECT_TRUE(AppLeftoversScanner::isOrphan("com..other..Editor", a));
}

TEST(Leftovers, ProtectedPrefixesAreCaseSensitive) {
    Machine m;
    m.installTen();
    m.install(m / "Applications", "Other", "org.other.App");
    m.leftover("Library/Application Support/com.apple.sharedfilelist");
    m.leftover("Library/Application Support/GoogleUpdater");
    m.leftover("Library/Containers/Microsoft Edge");
    m.leftover("Library/Application Support/CrashReporter");
    const auto lower = m.leftover("Library/Application Support/googleupdater");
    const auto apple = m.leftover("Library/Application Support/Com.Apple.Thing");
    EXPECT_EQ(urls(AppLeftoversScanner().scan()), (std::set<std::string>{lower, apple}));
    const auto none = apps({}, {});
    for (const auto& prefix : AppLeftoversScanner::neverTouch()) {
        EXPECT_FALSE(AppLeftoversScanner::isOrphan(prefix + "Leftover", none)) << prefix;
        EXPECT_FALSE(AppLeftoversScanner::isOrphan(prefix + "X.savedState", none)) << prefix;
    }
    EXPECT_TRUE(AppLeftoversScanner::isOrphan("adobe", none));
}

TEST(Leftovers, SuffixesAreStrippedInOrderBeforeJudging) {
    const auto a = apps({"com.example.Editor"}, {"Editor Pro"});
    EXPECT_FALSE(AppLeftoversScanner::isOrphan("com.example.Editor.savedState", a));
    EXPECT_FALSE(AppLeftoversScanner::isOrphan("Editor Pro.plist", a));
    EXPECT_FALSE(AppLeftoversScanner::isOrphan("Editor Pro.binarycookies", a));
    EXPECT_FALSE(AppLeftoversScanner::isOrphan("Editor Pro.plist.savedState", a));
    // A stripped name is judged by the name rules: "pro" lies inside "editor pro", "tracker" does not.
    EXPECT_FALSE(AppLeftoversScanner::isOrphan("Pro.savedState", a));
    EXPECT_TRUE(AppLeftoversScanner::isOrphan("Tracker.savedState", a));
    // Each suffix is stripped once: the name left over is judged as written.
    EXPECT_TRUE(AppLeftoversScanner::isOrphan("Editor Pro.savedState.savedState", apps({}, {"Pro Editor"})));
}

TEST(Leftovers, NamesFoldCaseAndDiacriticsAndMatchAsSubstrings) {
    Machine m;
    m.installTen();
    m.install(m / "Applications", "Éditeur Pro", "org.editeur.Pro");
    m.leftover("Library/Application Support/Éditeur Pro");
    m.leftover("Library/Application Support/editeur pro");
    m.leftover("Library/Application Support/ÉDITEUR PRO");
    m.leftover("Library/Application Support/Editeur");                 // inside the installed name
    m.leftover("Library/Application Support/Editeur Pro Helper Data"); // holds the installed name
    const auto tools = m.leftover("Library/Application Support/Pro Tools Data");
    const auto dotted = m.leftover("Library/Application Support/example.data");
    EXPECT_EQ(urls(AppLeftoversScanner().scan()), (std::set<std::string>{tools, dotted}));

    // Two pieces are a name, not an identifier: the vendor rule does not keep it.
    const auto a = apps({"example.data.Thing"}, {"Editor Pro"});
    EXPECT_TRUE(AppLeftoversScanner::isOrphan("example.data", a));
    EXPECT_FALSE(AppLeftoversScanner::isOrphan("example.data.Other", a));
    EXPECT_FALSE(AppLeftoversScanner::isOrphan("editor pro", a));
    EXPECT_FALSE(AppLeftoversScanner::isOrphan("Editor", a));
    EXPECT_TRUE(AppLeftoversScanner::isOrphan("Pro Tools Data", a));
    EXPECT_EQ(TextFolding::folded("Ærø Straße ÇA"), TextFolding::folded("ærø strasse ça"));
    EXPECT_EQ(TextFolding::folded("Café"), "cafe");
    EXPECT_NE(TextFolding::folded("bad\xff"), TextFolding::folded("bad\xfe"));
}

TEST(Leftovers, FloorHiddenNamesAndLinks) {
    Machine m;
    m.installTen();
    m.install(m / "Applications", "Other", "org.other.App");
    const auto b = TestTree::block(m.home);
    m.leftover("Library/Application Support/org.small.App", TestTree::below(5'000'000, b));
    const auto big = m.leftover("Library/Application Support/org.big.App", TestTree::atOrAbove(5'000'000, b));
    const auto file = TestTree::makeFile(m / "Library/Containers/org.file.App.plist", 6'000'000);
    m.leftover("Library/Application Support/.org.hidden.App");
    m.leftover("elsewhere/org.linked.App");
    ASSERT_EQ(symlink((m / "elsewhere/org.linked.App").c_str(),
                      (m / "Library/Application Support/org.linked.App").c_str()),
              0);
    const auto items = AppLeftoversScanner().scan();
    EXPECT_EQ(urls(items), (std::set<std::string>{big, file}));
    for (const auto& i : items) {
        EXPECT_FALSE(i.label.has_value());
        EXPECT_EQ(i.bytes, TestTree::allocatedTree(i.url));
    }
}

} // namespace
