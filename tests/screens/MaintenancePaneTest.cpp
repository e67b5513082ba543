// The maintenance pane in the real window: a task runs while the window keeps answering, with one event;
// a failure never wears the success mark; the overview's Scan running the self-running tasks; root
// commands are copied unrecorded; the confirmed removal of a broken login item; the update sources.
#include "Kestrune/Screens/MaintenancePane.h"
#include "Kestrune/Engines/MaintenanceEngine.h"
#include "Kestrune/Screens/ChartPalette.h"
#include "Kestrune/Screens/LoginItemModel.h"
#include "Kestrune/Screens/OverviewPane.h"
#include "Kestrune/Screens/Pane.h"
#include "tests/screens/ScreenHarness.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QProgressBar>
#include <QTimer>
#include <QTreeView>

#include <cstdlib>

#include <sys/stat.h>

namespace {

using ScreenTest::Window;

// The window with PATH holding only the home's bin folder (the home restores it) and the system
// autostart folder below it.
struct Setup {
    Setup() : bin(TestTree::makeFolder(w.home / "bin")) {
        setenv("PATH", bin.c_str(), 1);
        setenv("XDG_CONFIG_DIRS", (w.systemRoot + "/etc/xdg").c_str(), 1);
    }
    ~Setup() { unsetenv("XDG_CONFIG_DIRS"); }
    void tool(const std::string& name, const std::string& body) const {
        const std::string path = TestTree::writeFile(bin + "/" + name, "#!/bin/sh\n" + body + "\n");
        chmod(path.c_str(), 0755);
    }
    [[nodiscard]] MaintenancePane* pane() const { return w.window->maintenance(); }
    [[nodiscard]] MaintenanceEngine& engine() const { return w.window->maintenanceTasks(); }
    // Shows the pane and waits for its items and updates.
    [[nodiscard]] bool open() {
        w.window->setPane(Pane{Pane::Kind::maintenance, {}});
        return w.window->shownPane() == pane() &&
               QTest::qWaitFor([this] { return engine().hasLoaded() && !engine().isLoading(); }, 30'000);
    }
    [[nodiscard]] QString latestTitle() const {
        const auto& events = w.activity.events();
        return events.empty() ? QString() : QString::fromStdString(events.front().title);
    }

    Window w{{std::make_shared<UserCachesScanner>()}};
    std::string bin;
};

class MaintenancePaneTest : public QObject {
    Q_OBJECT

private slots:
    // A task runs while the window keeps answering, with one event, and a failure never wears the success
    // mark; the overview's Scan then runs the self-running tasks after the scan. Root commands go to the
    // clipboard unrecorded; a broken login item of the user's own moves to the Trash after confirmation; the
    // updates say when there is no source, when one failed, and what is outdated.
    void tasksLoginItemsAndUpdates() {
        Setup s;
        const std::string autostart = s.w.home / ".config/autostart/";
        TestTree::writeFile(autostart + "gone.desktop", "[Desktop Entry]\nExec=/nowhere/prog\n");
        TestTree::writeFile(autostart + "works.desktop", "[Desktop Entry]\nExec=/bin/sh\n");
        const std::string system = s.w.systemRoot + "/etc/xdg/autostart/sysgone.desktop";
        TestTree::writeFile(system, "[Desktop Entry]\nExec=/nowhere/sys\n");
        TestTree::makeFolder(s.w.home / ".local/share/applications");
        TestTree::writeFile(s.w.home / ".cache/thumbnails/normal/a.png", "thumb");
        // The tool finishes only once the window's own timer has created this file: a window that waits
        // for the tool would never get there, and the task would end in its time limit instead.
        const std::string go = s.w.home / "go";
        s.tool("update-desktop-database", "while [ ! -e '" + go + "' ]; do /bin/sleep 0.02; done");
        s.engine().timeLimit = std::chrono::seconds(20);
        QVERIFY(s.w.start());
        QVERIFY(s.open());
        const auto before = s.w.activity.events().size();
        QPushButton* run = s.pane()->taskButton("lsregister");
        QVERIFY(run);
        int ticks = 0;
        QTimer timer;
        timer.setInterval(10);
        connect(&timer, &QTimer::timeout, &timer, [&] {
            if (++ticks == 5) {
                TestTree::writeFile(go, "");
            }
        });
        timer.start();
        run->click();
        QVERIFY(s.pane()->taskBusy("lsregister")->isVisibleTo(s.pane()));
        QVERIFY(!run->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!s.engine().isRunning("lsregister"), 30'000);
        QVERIFY(ticks >= 5);
        QLabel* outcome = s.pane()->taskOutcome("lsregister");
        QCOMPARE(outcome->text(), QStringLiteral("Application menu rebuilt."));
        QVERIFY(!s.pane()->taskBusy("lsregister")->isVisibleTo(s.pane()));
        QVERIFY(run->isEnabled());
        QCOMPARE(s.w.activity.events().size(), before + 1);
        QCOMPARE(s.latestTitle(), QStringLiteral("Maintenance · Rebuild application menu"));

        // The same task failing: the row shows the failure, never the success mark, and it is recorded.
        s.tool("update-desktop-database", "echo 'no space left on device' >&2; exit 1");
        run->click();
        QTRY_VERIFY_WITH_TIMEOUT(!s.engine().isRunning("lsregister"), 30'000);
        QVERIFY(outcome->text().contains(QStringLiteral("no space left on device")));
        QCOMPARE(outcome->palette().color(QPalette::WindowText), ChartPalette::review());
        QCOMPARE(s.w.activity.events().size(), before + 2);

        s.w.window->setPane(Pane{});
        QPushButton* scan = s.w.window->overview()->scanButton();
        // The overview enables Scan on its next refresh after the first scan.
        QTRY_VERIFY(scan->isEnabled());
        scan->click();
        QTRY_COMPARE_WITH_TIMEOUT(s.w.activity.events().size(), before + 5, 60'000);
        const auto& events = s.w.activity.events();
        QCOMPARE((std::vector{events[0].title, events[1].title, events[2].title}),
                 (std::vector<std::string>{"Maintenance · Reset thumbnails",
                                           "Maintenance · Rebuild application menu", "Scan finished"}));
        QVERIFY(TestTree::exists(s.w.home / ".local/share/Trash/files/thumbnails/normal/a.png"));

        QVERIFY(s.open());
        const auto recorded = s.w.activity.events().size();
        const std::pair<const char*, const char*> commands[] = {
            {"dns", "sudo resolvectl flush-caches"}, {"snapshots", "sudo journalctl --vacuum-size=500M"}};
        for (const auto& [id, command] : commands) {
            QPushButton* copy = s.pane()->taskButton(id);
            QVERIFY(copy);
            copy->click();
            QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromUtf8(command));
            QVERIFY(!s.engine().outcomes().contains(id));
        }
        QVERIFY2(!s.pane()->taskButton("spotlight"), "no search service, no command");
        QCOMPARE(s.w.activity.events().size(), recorded);
        QVERIFY(s.pane()->updatesStatus()->text().contains(QStringLiteral("No update source was found")));
        QVERIFY(!s.pane()->updatesView()->isVisibleTo(s.pane()));
        QTreeView* view = s.pane()->itemsView();
        ScreenTest::checkModel(view->model());
        QCOMPARE(view->model()->rowCount(), 3);
        QVERIFY(s.pane()->brokenSummary()->text().contains(QStringLiteral("2 broken — binary missing")));
        const std::tuple<const char*, bool, const char*> rows[] = {{"sysgone", false, "Missing binary"},
                                                                   {"works", false, "Yours"},
                                                                   {"gone", true, "Missing binary"}};
        for (const auto& [label, removable, state] : rows) {
            const int row = ScreenTest::texts(view->model(), LoginItemModel::Column::item).indexOf(label);
            QVERIFY(row >= 0);
            view->setCurrentIndex(view->model()->index(row, 0));
            QCOMPARE(s.pane()->removeButton()->isEnabled(), removable);
            QCOMPARE(view->model()->index(row, LoginItemModel::Column::state).data().toString(), state);
        }
        // The selected item's file is shown in the file manager; revealing changes nothing.
        ScreenTest::FakeFileManager fileManager;
        QVERIFY2(fileManager.registered, "the screen tests run under dbus-run-session");
        s.pane()->revealButton()->click();
        QTRY_COMPARE(fileManager.shown, QStringList{ScreenTest::fileUrl(autostart + "gone.desktop")});
        QCOMPARE(s.w.activity.events().size(), recorded);
        s.pane()->removeButton()->click();
        QVERIFY(s.pane()->removeConfirmation()->isVisibleTo(s.pane()));
        QVERIFY2(TestTree::exists(autostart + "gone.desktop"), "nothing moves before the confirmation");
        s.pane()->confirmRemoveButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(view->model()->rowCount(), 2, 20'000);
        QVERIFY(TestTree::exists(autostart + "works.desktop"));
        QCOMPARE(s.w.activity.events().size(), recorded + 1);
        QCOMPARE(s.latestTitle(), QStringLiteral("Maintenance · Removed broken login item"));
        QVERIFY2(!s.pane()->removeButton()->isVisibleTo(s.pane()),
                 "no broken item of the user's own is left");

        s.tool("flatpak", "if [ \"$1\" = remote-ls ]; then printf 'org.mozilla.firefox\\t128.0.3\\n'; "
                          "else printf 'org.mozilla.firefox\\t128.0\\n'; fi");
        s.tool("brew", "echo 'Error: Homebrew is locked' >&2; exit 1");
        s.w.window->setPane(Pane{});
        QVERIFY(s.open());
        const QString status = s.pane()->updatesStatus()->text();
        QVERIFY2(status.contains("Flatpak: 1 update available.") &&
                     status.contains("Homebrew: couldn't check for updates.") &&
                     !status.contains("up to date"),
                 qPrintable(status));
        QAbstractItemModel* model = s.pane()->updatesView()->model();
        ScreenTest::checkModel(model);
        QCOMPARE(model->rowCount(), 1);
        QCOMPARE(model->index(0, 1).data().toString(), QStringLiteral("128.0 → 128.0.3"));
        auto* upgrade =
            s.pane()->upgradeButtons()->findChild<QPushButton*>(QStringLiteral("upgrade-flatpak"));
        QVERIFY(upgrade);
        QVERIFY(!s.pane()->upgradeButtons()->findChild<QPushButton*>(QStringLiteral("upgrade-homebrew")));
        upgrade->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("flatpak update"));
    }
};

} // namespace

QTEST_MAIN(MaintenancePaneTest)
#include "MaintenancePaneTest.moc"
