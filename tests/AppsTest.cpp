// The application inventory on a real temporary home: every Linux source and the bundle layout, the
// support-file rule on the Linux folders, usage records, the list's search and orders, and the
// kestrune-cli apps and uninstall commands run as real processes.
#include "KestruneCore/Apps/AppInventory.h"
#include "KestruneCore/Apps/AppListing.h"
#include "KestruneCore/Apps/AppSourcesLinux.h"
#include "KestruneCore/Apps/AppUsageRecord.h"
#include "KestruneCore/Apps/SupportFiles.h"
#include "KestruneCore/Model/TextFolding.h"
#include "tests/AppsFixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using AppsFixture::desktopEntry;
using AppsFixture::makeAppImage;
using TestTree::TemporaryHome;

constexpr std::int64_t MB = 1'000'000;

std::map<std::string, std::int64_t> supportOf(const InstalledApp& app, const std::vector<InstalledApp>& all,
                                              const std::string& home) {
    std::map<std::string, std::int64_t> out;
    for (const auto& file : AppInventory::leftovers(app, all)) {
        out[file.item.url.substr(home.size() + 1)] = file.item.bytes;
    }
    return out;
}

// What the Linux folders below do not show: the other suffixes, folding without an identifier, and
// near misses of the identifier.
TEST(AppSupportFiles, BelongsByExactIdDottedIdOrFoldedNameOnly) {
    const std::optional<std::string> id = "com.example.Tool";
    const struct {
        const char* entry;
        std::optional<std::string> bundleID;
        const char* name;
        bool belongs;
    } cases[] = {
        {"com.example.Tool.savedState", id, "Tool", true},
        {"TOOL", std::nullopt, "Tool", true},
        {"cafe", std::nullopt, "Caf\u00E9", true},
        {"xcom.example.Tool", id, "Tool", false},
        {".plist", id, "", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SupportFiles::belongs(c.entry, c.bundleID, TextFolding::folded(c.name)), c.belongs)
            << c.entry;
    }
}

TEST(AppSupportFiles, LinuxFoldersMatchTheRuleAndNothingElse) {
    TemporaryHome home;
    // Files that belong to Tool, as "item|rest" (TestTree::fileAndItem), and files that do not.
    const std::vector<TestTree::Entry> matching{{".config/tool", 3 * MB},
                                                {".local/share/com.example.Tool", 2 * MB},
                                                {".local/state/ABCDE.com.example.Tool", 40'960},
                                                {".cache/Tool", 1 * MB},
                                                {".var/app/com.example.Tool|/config/x", 8192},
                                                {".config/autostart/com.example.Tool.desktop", 4096},
                                                {"Library/Preferences/com.example.Tool.plist", 4096}};
    for (const char* other : {".cache/com.example.Tool.helper/x", ".config/Tool Pro/x", ".config/.tool/x",
                              ".config/tools/x", ".local/share/plistTool/x"}) {
        TestTree::makeFile(home / other, 4096);
    }
    std::map<std::string, std::int64_t> expected;
    for (const auto& entry : matching) {
        const auto [file, item] = TestTree::fileAndItem(entry.path);
        TestTree::build(home.path(), {{file, entry.contents}});
        expected[item] = 0;
    }
    for (auto& [item, bytes] : expected) {
        bytes = TestTree::allocatedTree(home / item);
    }
    InstalledApp app;
    app.name = "Tool";
    app.bundleID = "com.example.Tool";
    app.url = home / "Applications/Tool.AppImage";
    EXPECT_EQ(supportOf(app, {app}, home.path()), expected);
    const auto files = AppInventory::leftovers(app, {app});
    EXPECT_TRUE(std::is_sorted(files.begin(), files.end(),
                               [](const auto& a, const auto& b) { return a.item.bytes > b.item.bytes; }));
}

TEST(AppInventory, ListsEveryLinuxSourceWithSizesLargestFirst) {
    TemporaryHome home;
    setenv("KESTRUNE_SYSTEM_ROOT", TestTree::makeFolder(home / "system").c_str(), 1); // the home puts it back
    AppsFixture::FakeFlatpak flatpak(home);
    // AppImages: one with a desktop entry, an icon and settings; one only by its mark in Downloads; a file
    // that only has the extension, and a link to an AppImage, are not listed. Programs installed by hand,
    // one inside ~/.local/share/Tool (which Tool's name would otherwise match, and is never offered as
    // Tool's), and desktop entries of system and Flatpak programs (not the user's). Flatpak: a user app
    // named by its exported entry, a system one by flatpak's own name column. Snaps: an application, sized
    // by its .snap files, and a base, which is not one. The bundle layout through the system folders: a
    // bundle with an Info.plist, a link into the system's own applications (skipped), and two copies of
    // Dup sharing one identifier, known by their paths.
    const std::string tool = makeAppImage(home / "Applications/Tool-1.2-x86_64.AppImage");
    const std::string viewer = makeAppImage(home / "Downloads/viewer");
    const std::string snaps = "system/var/lib/snapd/snaps/",
                      icons = ".local/share/icons/hicolor/256x256/apps/";
    const std::string paint = "system/Applications/Paint.app", clock = "system/System/Applications/Clock.app";
    const std::string plugin = ".local/share/Tool/plugin/bin/plugin";
    TestTree::build(home.path(),
                    {{".config/Tool/settings.json", 2 * MB},
                     {".cache/Tool/x", 8192},
                     {plugin, 8192},
                     {icons + "appimagekit_tool.png", 16'384},
                     {"Downloads/Fake.AppImage", 50'000},
                     {".local/bin/tool", {}, -1, tool},
                     {"opt/editor/editor.sh", 3 * MB},
                     {".var/app/org.example.Notes/data/db", 1 * MB},
                     {"system/snap/hello/current/meta/snap.yaml", "name: hello\ntitle: 'Hello'\n"},
                     {"system/snap/core22/current/meta/snap.yaml", "name: core22\ntype: base\n"},
                     {snaps + "hello_12.snap", 6 * MB},
                     {snaps + "hello_13.snap", 6 * MB},
                     {snaps + "core22_1.snap", 70 * MB},
                     {"snap/hello/12/data", 40'960},
                     {paint + "/Contents/MacOS/paint", 7 * MB},
                     {clock + "/Contents/MacOS/clock", 4096},
                     {"system/Applications/Clock.app", {}, -1, home / clock}});
    TestTree::installApp(home / "system/Applications", "Paint", "com.example.Paint");
    TestTree::installApp(home / "system/Applications", "Dup", "com.example.Dup");
    TestTree::installApp(home / "Applications", "Dup", "com.example.Dup");
    desktopEntry(home, "appimagekit_1f-tool.desktop", "Tool", "\"" + tool + "\" %U", "appimagekit_tool");
    desktopEntry(home, "org.example.Editor.desktop", "Editor", "env A=1 " + home / "opt/editor/editor.sh");
    desktopEntry(home, "plugin.desktop", "Plugin", home / plugin);
    desktopEntry(home, "gedit.desktop", "Gedit", "/usr/bin/gedit %F");
    desktopEntry(home, "maps.desktop", "Maps", "/usr/bin/flatpak run org.gnome.Maps");
    flatpak.install(home, "org.example.Notes", "notes", "Notes", "user", 5 * MB);
    flatpak.install(home, "org.example.Chat", "Chat", "", "system", 4 * MB);

    const auto apps = AppInventory::installed();
    const auto tree = [&](const std::string& path) { return TestTree::allocatedTree(home / path); };
    using S = AppSource;
    const std::string entries = ".local/share/applications/";
    const std::string notes = "org.example.Notes", editor = "org.example.Editor", chat = "org.example.Chat";
    // Id: name, source, bytes and support files.
    using Row = std::tuple<std::string, AppSource, std::int64_t, std::set<std::string>>;
    std::map<std::string, Row> listed;
    for (const auto& app : apps) {
        auto& [name, source, bytes, support] = listed[app.id] = {app.name, app.source, app.bytes, {}};
        for (const auto& [path, size] : supportOf(app, apps, home.path())) {
            support.insert(path);
        }
    }
    ASSERT_EQ(listed.size(), apps.size()) << "no two share an id";
    ASSERT_EQ(
        listed,
        (std::map<std::string, Row>{
            {"hello", {"Hello", S::snap, tree(snaps + "hello_12.snap") * 2, {"snap/hello"}}},
            {"com.example.Paint", {"Paint", S::bundle, tree(paint), {}}},
            {home / "system/Applications/Dup.app",
             {"Dup", S::bundle, tree("system/Applications/Dup.app"), {}}},
            {home / "Applications/Dup.app", {"Dup", S::bundle, tree("Applications/Dup.app"), {}}},
            {notes, {"Notes", S::flatpak, tree(".local/share/flatpak/app/" + notes), {".var/app/" + notes}}},
            {chat, {"Chat", S::flatpak, tree("system/var/lib/flatpak/app/" + chat), {}}},
            {editor, {"Editor", S::desktop, tree("opt/editor/editor.sh"), {entries + editor + ".desktop"}}},
            {home / plugin, {"Plugin", S::desktop, tree(plugin), {entries + "plugin.desktop"}}},
            {tool,
             {"Tool",
              S::appimage,
              TestTree::allocated(tool),
              {".config/Tool", ".cache/Tool", entries + "appimagekit_1f-tool.desktop",
               icons + "appimagekit_tool.png"}}},
            {viewer, {"viewer", S::appimage, TestTree::allocated(viewer), {}}}}));
    EXPECT_TRUE(std::is_sorted(apps.begin(), apps.end(),
                               [](const auto& a, const auto& b) { return a.bytes > b.bytes; }));
    EXPECT_EQ(std::ranges::find(apps, "Hello", &InstalledApp::name)->privilegedRemoval(),
              "snap remove hello");
}

TEST(AppUsage, DesktopRecordThenAccessTimeElseNeverOpenedOrUnknown) {
    const Date now = std::chrono::system_clock::now();
    const auto seconds = [](Date d) {
        return std::chrono::duration_cast<std::chrono::seconds>(d.time_since_epoch()).count();
    };
    const Date week = now - 7 * 24h;
    const std::string xml =
        "<?xml version=\"1.0\"?>\n<application-state>\n  <context id=\"\">\n"
        "    <application id=\"recent.desktop\" open-window-count=\"0\" score=\"3\" last-seen=\"" +
        std::to_string(seconds(week)) +
        "\"/>\n    <application id=\"old.desktop\" last-seen=\"86400\"/>\n"
        "    <application id=\"future.desktop\" last-seen=\"" +
        std::to_string(seconds(now + 72h)) +
        "\"/>\n    <application id=\"bad.desktop\" last-seen=\"x1\"/>\n"
        "  </context>\n</application-state>\n";
    const auto record = AppUsageRecord::parseGnomeShell(xml);
    EXPECT_TRUE(record.present);
    EXPECT_EQ(record.lastSeen.size(), 3u);
    const struct {
        std::vector<std::string> desktopIDs;
        bool recordPresent;
        AppUsage::Kind kind;
    } cases[] = {
        {{"recent.desktop"}, true, AppUsage::Kind::used},
        {{"old.desktop"}, true, AppUsage::Kind::neverOpened},    // 1970 is outside the window
        {{"future.desktop"}, true, AppUsage::Kind::neverOpened}, // so is three days ahead
        {{"bad.desktop"}, true, AppUsage::Kind::neverOpened},
        {{"other.desktop"}, false, AppUsage::Kind::unknown},
        {{}, true, AppUsage::Kind::unknown},
    };
    for (const auto& c : cases) {
        InstalledApp app;
        app.source = AppSource::flatpak;
        app.desktopIDs = c.desktopIDs;
        auto r = record;
        r.present = c.recordPresent;
        const auto usage = AppUsageRecord::of(app, r, now);
        EXPECT_EQ(usage.kind, c.kind) << (c.desktopIDs.empty() ? "-" : c.desktopIDs[0]);
        if (usage.kind == AppUsage::Kind::used) {
            EXPECT_EQ(seconds(*usage.date), seconds(week));
        }
    }
}

TEST(AppListing, SearchFoldsAndEveryOrderIsStable) {
    const Date now = std::chrono::system_clock::now();
    auto app = [](std::string name, std::int64_t bytes, AppUsage usage) {
        InstalledApp a;
        a.name = std::move(name);
        a.id = a.url = "/apps/" + a.name;
        a.bytes = bytes;
        a.usage = usage;
        return a;
    };
    const std::vector<InstalledApp> apps{
        app("Alpha", 10, AppUsage::used(now - 150 * 24h)),  app("Zed", 30, AppUsage::neverOpened()),
        app("Caf\u00E9", 20, AppUsage::unknown()),          app("Beta", 30, AppUsage::neverOpened()),
        app("Tool 10", 5, AppUsage::used(now - 215 * 24h)), app("Tool 9", 5, AppUsage::used(now - 400 * 24h)),
    };
    auto names = [](const std::vector<InstalledApp>& list) {
        std::vector<std::string> out;
        for (const auto& a : list) {
            out.push_back(a.name);
        }
        return out;
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(names(AppListing::filtered(apps, "cafe", AppSort::size)), V{"Caf\u00E9"});
    EXPECT_EQ(names(AppListing::filtered(apps, "TOOL", AppSort::name)), (V{"Tool 9", "Tool 10"}));
    EXPECT_EQ(names(AppListing::filtered(apps, "", AppSort::size)),
              (V{"Zed", "Beta", "Caf\u00E9", "Alpha", "Tool 10", "Tool 9"}));
    EXPECT_EQ(names(AppListing::filtered(apps, "", AppSort::leastUsed)),
              (V{"Beta", "Zed", "Tool 9", "Tool 10", "Alpha", "Caf\u00E9"}));
    EXPECT_EQ(names(AppListing::filtered(apps, "", AppSort::name)),
              (V{"Alpha", "Beta", "Caf\u00E9", "Tool 9", "Tool 10", "Zed"}));
    EXPECT_EQ(names(AppListing::neverOpened(apps)), (V{"Zed", "Beta"}));
    // Seven months and more ago are stale; five are not.
    EXPECT_EQ(names(AppListing::stale(apps, now)), (V{"Tool 9", "Tool 10"}));
    EXPECT_EQ(AppListing::totalBytes(apps), 100);
}

// kestrune-cli apps and uninstall: the listing as JSON, refusals that change nothing, an uninstall that
// keeps what --keep names and every file of Other, and an app that cannot move failing with status 1 (what
// stays then, and its record, are the engine's to check).
TEST(AppsCommand, ListsAsJsonAndUninstallsWithThePlanAndConfirmationOfReclaim) {
    TemporaryHome home;
    const std::string tool = makeAppImage(home / "Applications/Tool.AppImage");
    desktopEntry(home, "tool.desktop", "Tool", tool);
    TestTree::makeFile(home / ".config/Tool/settings", 2 * MB);
    TestTree::makeFile(home / ".cache/tool/blob", 1 * MB);
    const std::string other = makeAppImage(home / "Applications/Other.AppImage");
    TestTree::makeFile(home / ".config/Other/keep", 1 * MB);
    const auto listed = TestTree::run({TestTree::cliPath(), "apps", "--json"});
    ASSERT_EQ(listed.status, 0) << listed.output;
    // Name, path, source, bytes, last use and support files, largest first; the two programs are the same
    // size, so they are listed by path.
    std::vector<std::string> apps;
    const auto listing = nlohmann::json::parse(listed.output);
    for (const auto& app : listing["apps"]) {
        std::string row = app["name"].get<std::string>() + " " + app["path"].get<std::string>() + " " +
                          app["source"].get<std::string>() + " " + app["bytes"].dump() + " " +
                          app["lastUsed"].dump();
        for (const auto& file : app["supportFiles"]) {
            row += " " + file["path"].get<std::string>();
        }
        apps.push_back(row);
    }
    const std::string program = " appimage " + std::to_string(TestTree::allocated(tool)) + " null ";
    EXPECT_EQ(apps, (std::vector<std::string>{"Other " + other + program + home / ".config/Other",
                                              "Tool " + tool + program + home / ".config/Tool " +
                                                  home / ".cache/tool " +
                                                  home / ".local/share/applications/tool.desktop"}));

    const auto before = TestTree::snapshot(home.path());
    const struct {
        std::vector<std::string> arguments;
        int status;
        const char* says;
    } unchanged[] = {
        {{"uninstall", tool, "--dry-run"}, 0, "Total"},
        {{"uninstall", tool}, 2, "not asking without a terminal"},
        {{"uninstall", tool, "--reset"}, 2, "not asking without a terminal"},
        {{"uninstall", "org.example.Missing", "--yes"}, 1, "no installed application"},
        {{"uninstall", tool, "--keep", "~/.config/Nothing", "--yes"}, 1, "is not a support file"},
    };
    for (const auto& c : unchanged) {
        std::vector<std::string> argv{TestTree::cliPath()};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        const auto r = TestTree::run(argv);
        EXPECT_EQ(r.status, c.status) << r.output;
        EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
        EXPECT_EQ(TestTree::snapshot(home.path()), before) << c.arguments[1];
    }

    const auto done =
        TestTree::run({TestTree::cliPath(), "uninstall", tool, "--keep", "~/.cache/tool", "--yes"});
    EXPECT_EQ(done.status, 0) << done.output;
    EXPECT_NE(done.output.find("Moved Tool and 2 support items to the Trash"), std::string::npos)
        << done.output;
    std::set<std::string> trashed;
    for (const auto& e : fs::directory_iterator(home / ".local/share/Trash/files")) {
        trashed.insert(e.path().filename().string());
    }
    EXPECT_EQ(trashed, (std::set<std::string>{"Tool.AppImage", "Tool", "tool.desktop"}));
    for (const std::string& kept : {home / ".cache/tool/blob", other, home / ".config/Other/keep"}) {
        EXPECT_TRUE(TestTree::exists(kept)) << kept;
    }
    const auto log = nlohmann::json::parse(TestTree::readFile(home / ".local/share/Kestrune/activity.json"));
    ASSERT_EQ(log["events"].size(), 1u);
    EXPECT_EQ(log["events"][0]["kind"], "uninstall");

    TestTree::giveToUnprivileged(home.path());
    chmod((home / "Applications").c_str(), 0555);
    const auto r = TestTree::run({TestTree::cliPath(), "uninstall", other, "--yes"},
                                 TestTree::Privilege::unprivileged, {{"HOME", home.path()}});
    chmod((home / "Applications").c_str(), 0755);
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("Other: "), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("Moved Other"), std::string::npos) << r.output;
}

} // namespace
