// The uninstall engine on a real temporary home: uninstall and reset of an AppImage (what moves, what is
// recorded, what stays byte for byte), a running app refused, Flatpak apps (a system one, like a Snap,
// needs a command of its own), shared files left unticked, and an app that cannot be removed keeping its
// support files.
#include "Kestrune/Engines/UninstallEngine.h"
#include "Kestrune/Engines/ActivityEngine.h"
#include "KestruneCore/Model/DiskMath.h"
#include "tests/AppsFixture.h"
#include "tests/engines/Await.h"

#include <QSignalSpy>
#include <QtTest>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

constexpr std::int64_t MB = 1'000'000;

// Tool (an AppImage with a desktop entry, an icon and settings) and Other, a second app whose files
// must survive everything done to Tool. The home puts the system root back.
struct Home {
    TestTree::TemporaryHome home;
    std::string system = home / "system";
    std::string tool;
    std::string other;
    ActivityEngine activity;
    UninstallEngine engine;

    Home() {
        setenv("KESTRUNE_SYSTEM_ROOT", TestTree::makeFolder(system).c_str(), 1);
        tool = AppsFixture::makeAppImage(home / "Applications/Tool.AppImage");
        AppsFixture::desktopEntry(home, "tool.desktop", "Tool", tool, "tool-icon");
        TestTree::makeFile(home / ".local/share/icons/hicolor/64x64/apps/tool-icon.png", 8192);
        TestTree::makeFile(home / ".config/Tool/settings.json", 2 * MB);
        other = AppsFixture::makeAppImage(home / "Downloads/Other.AppImage");
        AppsFixture::desktopEntry(home, "other.desktop", "Other", other);
        TestTree::makeFile(home / ".config/Other/state", 1 * MB);
        TestTree::makeFile(home / ".cache/other/blob", 3 * MB);
        engine.activity = &activity;
    }

    [[nodiscard]] const InstalledApp* app(const std::string& name) const {
        const auto it = std::ranges::find(engine.apps(), name, &InstalledApp::name);
        return it == engine.apps().end() ? nullptr : &*it;
    }
    [[nodiscard]] std::set<std::string> trashed() const {
        std::set<std::string> names;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(home / ".local/share/Trash/files", ec)) {
            names.insert(e.path().filename().string());
        }
        return names;
    }
    void pick(const std::string& name) {
        await(engine.load());
        QVERIFY(app(name));
        await(engine.select(*app(name)));
    }
    [[nodiscard]] std::string lastRemoved() const { return engine.lastRemoved().value_or(""); }
};

const std::vector<std::string> toolIsRunning{"Tool is running. Quit it before removing."};

} // namespace

class UninstallEngineTest : public QObject {
    Q_OBJECT

private slots:
    // The list is built once, on another thread; a running app is refused; then the app and its support
    // files move and one event is recorded.
    void uninstallMovesTheAppAndItsSupportFilesAndRecordsOneEvent() {
        Home h;
        QSignalSpy built(&h.engine, &UninstallEngine::appsChanged);
        auto first = h.engine.load();
        QVERIFY(h.engine.isLoading() && h.engine.apps().empty());
        auto second = h.engine.load();
        await(first);
        await(second);
        QVERIFY(!h.engine.isLoading());
        const auto untouched = TestTree::snapshot(h.home / "Downloads");
        const auto otherConfig = TestTree::snapshot(h.home / ".config/Other");
        h.pick("Tool");
        QCOMPARE(built.count(), 1);
        QCOMPARE(h.engine.apps().size(), std::size_t(2));
        {
            // The AppImage itself runs (its runtime holds the app's mount for as long as the app is open).
            TestTree::RunningProgram running(h.home / "Applications", "Tool.AppImage");
            QVERIFY(running.started);
            const auto whileRunning = TestTree::snapshot(h.home.path());
            await(h.engine.uninstall());
            QCOMPARE(h.engine.selectedRunning(), AppInventory::Running::yes);
            QCOMPARE(h.engine.errors(), toolIsRunning);
            await(h.engine.resetApp());
            QCOMPARE(h.engine.errors(), toolIsRunning);
            QCOMPARE(TestTree::snapshot(h.home.path()), whileRunning);
            QVERIFY(h.activity.events().empty());
            QCOMPARE(h.engine.selectedLeftovers().size(), std::size_t(3));
        }
        h.pick("Tool");
        QCOMPARE(h.engine.selectedRunning(), AppInventory::Running::no);
        const std::int64_t total = h.engine.removalTotal();
        QCOMPARE(total,
                 TestTree::allocated(h.tool) + TestTree::allocatedTree(h.home / ".config/Tool") +
                     TestTree::allocated(h.home / ".local/share/applications/tool.desktop") +
                     TestTree::allocated(h.home / ".local/share/icons/hicolor/64x64/apps/tool-icon.png"));
        await(h.engine.uninstall());
        QCOMPARE(h.trashed(),
                 (std::set<std::string>{"Tool.AppImage", "Tool", "tool.desktop", "tool-icon.png"}));
        QCOMPARE(h.engine.errors(), std::vector<std::string>{});
        QCOMPARE(h.lastRemoved(),
                 "Moved Tool and 3 support items to the Trash \u2014 " + DiskMath::human(total) + ".");
        QVERIFY(!h.engine.selectedApp());
        QVERIFY(!h.app("Tool") && h.app("Other"));
        QCOMPARE(TestTree::snapshot(h.home / "Downloads"), untouched);
        QCOMPARE(TestTree::snapshot(h.home / ".config/Other"), otherConfig);
        QVERIFY(TestTree::exists(h.home / ".local/share/applications/other.desktop"));
        QCOMPARE(h.activity.events().size(), std::size_t(1));
        const auto& event = h.activity.events().front();
        std::set<std::string> paths;
        for (const auto& p : event.paths) {
            paths.insert(p.path + (p.disposition == PathDisposition::trashed ? "" : " (not trashed)"));
        }
        QCOMPARE(std::tuple(event.kind, event.title, event.detail.value_or(""), paths),
                 std::tuple(ActivityKind::uninstall, std::string("Uninstalled Tool"),
                            std::string("4 paths moved to Trash"),
                            std::set<std::string>{"~/Applications/Tool.AppImage", "~/.config/Tool",
                                                  "~/.local/share/applications/tool.desktop",
                                                  "~/.local/share/icons/hicolor/64x64/apps/tool-icon.png"}));
    }

    void resetKeepsTheAppAndSearchesItsFilesAgain() {
        Home h;
        h.pick("Tool");
        h.engine.toggle(h.engine.leftovers()[0].item); // ticking and unticking again restores the item
        h.engine.toggle(h.engine.leftovers()[0].item);
        for (const auto& f : h.engine.leftovers()) { // the entry and the icon stay unticked
            if (f.item.url.ends_with(".png") || f.item.url.ends_with(".desktop")) {
                h.engine.toggle(f.item);
            }
        }
        const std::int64_t config = TestTree::allocatedTree(h.home / ".config/Tool");
        await(h.engine.resetApp());
        QVERIFY(TestTree::exists(h.tool));
        QVERIFY(TestTree::exists(h.home / ".local/share/applications/tool.desktop"));
        QCOMPARE(h.trashed(), std::set<std::string>{"Tool"});
        QCOMPARE(h.lastRemoved(),
                 "Reset Tool \u2014 " + DiskMath::human(config) +
                     " of settings and data moved to the Trash. The app is still installed.");
        QVERIFY(h.engine.selectedApp() && h.engine.selectedApp()->name == "Tool");
        QCOMPARE(h.engine.leftovers().size(), std::size_t(2)); // searched again
        QCOMPARE(h.activity.events().front().kind, ActivityKind::appReset);
        // With nothing ticked a reset does nothing and records nothing.
        for (const auto& f : h.engine.leftovers()) {
            h.engine.toggle(f.item);
        }
        await(h.engine.resetApp());
        QCOMPARE(h.activity.events().size(), std::size_t(1));
        QVERIFY(TestTree::exists(h.home / ".local/share/applications/tool.desktop"));
    }

    void aFlatpakAppIsUninstalledByFlatpakAndASystemOneNeedsTheCommand() {
        Home h;
        AppsFixture::FakeFlatpak flatpak(h.home);
        flatpak.install(h.home, "org.example.Notes", "notes", "Notes", "user", 5 * MB);
        flatpak.install(h.home, "org.example.Chat", "Chat", "", "system", 4 * MB);
        TestTree::makeFile(h.home / ".var/app/org.example.Notes/data/db", 1 * MB);
        TestTree::makeFile(h.home / ".var/app/org.example.Chat/data/db", 1 * MB);
        h.pick("Chat");
        const auto before = TestTree::snapshot(h.home.path());
        await(h.engine.uninstall());
        QCOMPARE(h.engine.neededCommand(), std::string("flatpak uninstall --system org.example.Chat"));
        QCOMPARE(TestTree::snapshot(h.home.path()).size(), before.size());
        QVERIFY(h.app("Chat"));

        h.pick("Notes");
        QCOMPARE(h.engine.leftovers().size(), std::size_t(1));
        flatpak.setRunning("org.example.Notes\n");
        await(h.engine.uninstall());
        QCOMPARE(h.engine.selectedRunning(), AppInventory::Running::yes);
        QVERIFY(h.engine.neededCommand().empty()); // the next attempt drops the earlier command
        QVERIFY(TestTree::exists(h.home / ".local/share/flatpak/app/org.example.Notes"));
        flatpak.setRunning("");
        await(h.engine.uninstall());
        QVERIFY2(flatpak.calls().find("uninstall --user --noninteractive org.example.Notes") !=
                     std::string::npos,
                 flatpak.calls().c_str());
        QVERIFY(!TestTree::exists(h.home / ".local/share/flatpak/app/org.example.Notes"));
        QCOMPARE(h.trashed(), std::set<std::string>{"org.example.Notes"});
        QVERIFY(TestTree::exists(h.home / ".var/app/org.example.Chat/data/db"));
        QVERIFY2(h.lastRemoved().starts_with("Uninstalled Notes with flatpak and moved 1 support item"),
                 h.lastRemoved().c_str());
        QCOMPARE(h.activity.events().front().paths.front().disposition, PathDisposition::removed);
        // A flatpak that cannot say what runs: refused, as when unsure.
        h.pick("Chat");
        TestTree::writeFile(flatpak.state + "/broken-ps", "");
        await(h.engine.select(*h.app("Chat")));
        QCOMPARE(h.engine.selectedRunning(), AppInventory::Running::unsure);
    }

    // ~/.config/Other and ~/.cache/other match Other by name and a second app of the same name shares
    // them, named by it, so they start unticked and stay; Other's own desktop entry is its alone. Then an
    // app that cannot be removed keeps its support files, and its failure hides Other's message.
    void aSharedFileStartsUntickedAndAnAppThatCannotBeRemovedKeepsItsFiles() {
        Home h;
        TestTree::makeFile(h.home / "bin/other-dev", 8192);
        AppsFixture::desktopEntry(h.home, "other-dev.desktop", "other", h.home / "bin/other-dev");
        h.pick("Other");
        std::map<std::string, std::string> unticked; // path: "unticked" and whose it also is
        for (const auto& f : h.engine.leftovers()) {
            unticked[f.item.url.substr(h.home.path().size() + 1)] =
                (h.engine.isExcluded(f.item) ? "unticked " : "") + f.sharedWith;
        }
        QCOMPARE(unticked,
                 (std::map<std::string, std::string>{{".cache/other", "unticked other"},
                                                     {".config/Other", "unticked other"},
                                                     {".local/share/applications/other.desktop", ""}}));
        const auto cache = TestTree::snapshot(h.home / ".cache/other");
        const auto config = TestTree::snapshot(h.home / ".config/Other");
        await(h.engine.uninstall());
        QCOMPARE(TestTree::snapshot(h.home / ".cache/other"), cache);
        QCOMPARE(TestTree::snapshot(h.home / ".config/Other"), config);
        QCOMPARE(h.trashed(), (std::set<std::string>{"Other.AppImage", "other.desktop"}));
        QVERIFY(h.engine.lastRemoved().has_value());

        h.pick("Tool");
        // The AppImage goes away behind our back: its removal fails, so nothing else may move.
        fs::remove(h.tool);
        auto files = [&h] { // everything but the audit log
            auto all = TestTree::snapshot(h.home.path());
            std::erase_if(all, [](const auto& e) { return e.first.starts_with(".local/share/Kestrune"); });
            return all;
        };
        const auto before = files();
        await(h.engine.uninstall());
        QVERIFY(!h.engine.lastRemoved().has_value());
        QCOMPARE(h.engine.errors().size(), std::size_t(1));
        QVERIFY2(h.engine.errors()[0].starts_with("Tool: "), h.engine.errors()[0].c_str());
        QCOMPARE(files(), before);
        QVERIFY(h.app("Tool") && h.engine.selectedApp() && h.engine.selectedApp()->name == "Tool");
        QCOMPARE(h.activity.events().front().detail.value_or(""), std::string("Completed with errors"));
        QCOMPARE(h.activity.events().front().paths.size(), std::size_t(1));
        // A support file that vanished fails alone; the others still move.
        TestTree::makeFile(h.tool, 4096);
        h.pick("Tool");
        fs::remove_all(h.home / ".config/Tool");
        await(h.engine.uninstall());
        QCOMPARE(h.engine.errors().size(), std::size_t(1));
        QVERIFY2(h.engine.errors()[0].starts_with("Tool: "), h.engine.errors()[0].c_str());
        QVERIFY(!TestTree::exists(h.tool));
        QVERIFY(!TestTree::exists(h.home / ".local/share/applications/tool.desktop"));
        QVERIFY(!h.engine.lastRemoved().has_value());
    }
};

QTEST_GUILESS_MAIN(UninstallEngineTest)
#include "UninstallEngineTest.moc"
