// The category pane in the real window: "Select all" over 300 items, Space and clicks on rows, sorting,
// the item actions (revealed through a fake file manager on the test's D-Bus session, else the parent folder
// opens), and the advisory panel that runs Docker's and the simulators' tools.
#include "Kestrune/Screens/CategoryPane.h"
#include "Kestrune/Screens/ActionBar.h"
#include "Kestrune/Screens/CategoryItemModel.h"
#include "KestruneCore/Scanners/CloudBackupScanners.h"
#include "KestruneCore/Scanners/ToolOwnedScanners.h"
#include "tests/screens/ScreenHarness.h"

#include <QCheckBox>
#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QTreeView>

#include <sys/stat.h>

namespace {

using namespace std::chrono_literals;
using ScreenTest::Window;

// Where QDesktopServices sends file URLs in these tests: records them instead of starting a program.
class UrlCatcher : public QObject {
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl& url) { opened << url; }
};

// Clicks a widget as a user would: after the layouts a change just asked for.
void click(QWidget* widget) {
    ScreenTest::settle();
    QTest::mouseClick(widget, Qt::LeftButton);
}

// A check box takes clicks on its box and label only.
void clickBox(QCheckBox* box) {
    ScreenTest::settle();
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(box->iconSize().width() / 2 + 2, box->height() / 2));
}

} // namespace

class CategoryPaneTest : public QObject {
    Q_OBJECT

private slots:
    void selectAllTicksEveryItemAndUntickingRemovesExactlyThose() {
        Window w({std::make_shared<DownloadsScanner>(), std::make_shared<LogsScanner>()});
        const auto old = std::chrono::system_clock::now() - 24h * 60;
        for (int i = 0; i < 300; ++i) {
            TestTree::setModified(
                TestTree::makeFile(w.home / ("Downloads/setup-" + std::to_string(i) + ".zip"),
                                   5'001'000 + i * 4096),
                old);
        }
        TestTree::makeFile(w.home / "Library/Logs/app/app.log", 1'000'000);
        QVERIFY(w.start());
        w.window->setPane(Pane::of(CategoryKind::downloads));
        CategoryPane* pane = w.window->category();
        ScreenTest::checkModel(&pane->itemModel());
        QCOMPARE(pane->itemModel().rowCount(), 300);
        QCOMPARE(pane->selectAllBox()->text(), QString("Select all 300"));
        clickBox(pane->selectAllBox());
        QVERIFY(pane->selectAllBox()->isChecked());
        QCOMPARE(w.window->actionBar()->statusText(), QString("301 selected"));
        QTRY_COMPARE(w.window->actionBar()->sizeText(), ScreenTest::human(w.scan.selectedBytes()));
        const QModelIndex row = w.window->sidebarModel().indexOf(Pane::of(CategoryKind::downloads));
        QCOMPARE(row.data(int(SidebarModel::Role::checked)).toInt(), 300);
        clickBox(pane->selectAllBox());
        QCOMPARE(w.scan.selected(), ScanEngine::Selection{CleanupItem(w.home / "Library/Logs/app", 0, {})});
    }

    // Space and clicks toggle rows and the list sorts; the header says when Kestrune is guessing and what
    // eviction means; the item actions reveal in the file manager, or without one open the parent folder.
    void rowsToggleAndSortTheHeaderSaysWhatReclaimDoesAndTheItemActionsReveal() {
        ScreenTest::FakeFileManager fileManager;
        QVERIFY2(fileManager.registered, "the screen tests run under dbus-run-session");
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler("file", &catcher, "open");
        Window w({std::make_shared<UserCachesScanner>(), std::make_shared<DownloadsScanner>(),
                  std::make_shared<CloudClutterScanner>()});
        w.make({{"Library/Caches/com.example.app/blob", 2'000'000},
                {"Downloads/b-medium.dmg", 8'000'000, 60},
                {"Downloads/a-small.dmg", 6'000'000, 60},
                {"Downloads/c-large.dmg", 12'000'000, 60},
                {"Library/Mobile Documents/com~apple~CloudDocs/film.mov", 60'000'000}});
        const std::string folder = w.home / "Library/Caches/com.example.app";
        QVERIFY(w.start());
        CategoryPane* pane = w.window->category();
        CategoryItemModel& model = pane->itemModel();
        ScreenTest::checkModel(&model);
        QTreeView* view = pane->list();
        const std::pair<CategoryKind, QString> notes[] = {
            {CategoryKind::userCaches, ""},
            {CategoryKind::cloudClutter,
             "Reclaim evicts local iCloud copies only. Files stay in iCloud and can re-download later."},
            {CategoryKind::downloads, "Kestrune is guessing here. Check the list before reclaiming."},
        };
        for (const auto& [kind, note] : notes) {
            w.window->setPane(Pane::of(kind));
            QVERIFY2(note.isEmpty() ? pane->noteText().isEmpty() : pane->noteText().contains(note),
                     qPrintable(pane->noteText()));
            QVERIFY(model.flags(model.index(0, 0)) & Qt::ItemIsUserCheckable);
            QVERIFY(!pane->runButton()->isVisible());
        }
        const auto names = [&model] { return ScreenTest::texts(&model, CategoryItemModel::nameColumn); };
        QCOMPARE(names(), (QStringList{"c-large.dmg", "b-medium.dmg", "a-small.dmg"}));
        view->sortByColumn(CategoryItemModel::nameColumn, Qt::AscendingOrder);
        QCOMPARE(names(), (QStringList{"a-small.dmg", "b-medium.dmg", "c-large.dmg"}));
        view->sortByColumn(CategoryItemModel::sizeColumn, Qt::DescendingOrder);
        QCOMPARE(names(), (QStringList{"c-large.dmg", "b-medium.dmg", "a-small.dmg"}));
        view->sortByColumn(CategoryItemModel::sizeColumn, Qt::AscendingOrder);

        const auto recommended = w.scan.selected();
        auto withSmall = recommended;
        withSmall.insert(CleanupItem(w.home / "Downloads/a-small.dmg", 0, {}));
        view->setFocus();
        view->setCurrentIndex(model.index(0, CategoryItemModel::sizeColumn));
        QTest::keyClick(view, Qt::Key_Space);
        QCOMPARE(w.scan.selected(), withSmall);
        QCOMPARE(model.index(0, CategoryItemModel::nameColumn).data(Qt::CheckStateRole).toInt(),
                 int(Qt::Checked));
        QTest::keyClick(view, Qt::Key_Space);
        QCOMPARE(w.scan.selected(), recommended);
        // A click on the folder of the second row ticks it; a click on its tick box unticks it again.
        const QRect row = view->visualRect(model.index(1, CategoryItemModel::locationColumn));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, row.center());
        QVERIFY(w.scan.selected().contains(CleanupItem(w.home / "Downloads/b-medium.dmg", 0, {})));
        model.setData(model.index(1, CategoryItemModel::nameColumn), Qt::Unchecked, Qt::CheckStateRole);
        QCOMPARE(w.scan.selected(), recommended);

        w.window->setPane(Pane::of(CategoryKind::userCaches));
        const QModelIndex reveal = model.index(0, CategoryItemModel::revealColumn);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(reveal).center());
        QTRY_COMPARE(fileManager.shown, QStringList{ScreenTest::fileUrl(folder)});
        QCOMPARE(w.scan.selected(), recommended); // revealing selects nothing
        QVERIFY(catcher.opened.isEmpty());

        view->setCurrentIndex(model.index(0, CategoryItemModel::nameColumn));
        w.window->actions().copyPath->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromStdString(folder));
        w.window->actions().openItem->trigger();
        QCOMPARE(catcher.opened, QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString(folder))});

        // Without a file manager on the bus, the folder that holds the item opens.
        fileManager.withdraw();
        catcher.opened.clear();
        w.window->actions().revealItem->trigger();
        QTRY_COMPARE(catcher.opened,
                     QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString(w.home / "Library/Caches"))});
        QCOMPARE(fileManager.shown.size(), 1);
        QDesktopServices::unsetUrlHandler("file");
    }

    void theDockerPanelAsksDockerWhatItCouldReclaimAndNeverRunsAContainer() {
        Window w({std::make_shared<DockerScanner>(), std::make_shared<SimulatorScanner>()});
        TestTree::makeFile(w.home / "Library/Containers/com.docker.docker/Data/vms/0/data/Docker.raw",
                           120'000'000);
        TestTree::makeFile(w.home / "Library/Developer/CoreSimulator/Devices/A1B2/data/disk.img",
                           150'000'000);
        // A stand-in Docker client where Docker keeps its own: writes its arguments down and reports.
        const std::string docker =
            TestTree::writeFile(w.home / ".docker/bin/docker",
                                "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\" >> \"" + w.home.path() +
                                    "/docker-arguments\"; done\necho 'TYPE  RECLAIMABLE'\necho "
                                    "'Images  1.2GB (60%)'\n");
        chmod(docker.c_str(), 0755);
        QVERIFY(w.start());
        const auto before = TestTree::snapshot(w.home / "Library");
        const auto& events = w.activity.events();
        const std::size_t recorded = events.size();
        w.window->setPane(Pane::of(CategoryKind::docker));
        CategoryPane* pane = w.window->category();
        ScreenTest::checkModel(&pane->itemModel());
        QVERIFY(!pane->selectAllBox()->isVisible() && pane->runButton()->isVisible());
        CategoryItemModel& model = pane->itemModel();
        QCOMPARE(model.rowCount(), 1);
        QVERIFY(!(model.flags(model.index(0, 0)) & Qt::ItemIsUserCheckable));
        QTreeView* view = pane->list();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                          view->visualRect(model.index(0, CategoryItemModel::locationColumn)).center());
        QTest::keyClick(view, Qt::Key_Space);
        QVERIFY(w.scan.selected().empty());

        click(pane->copyCommandButton());
        QCOMPARE(QGuiApplication::clipboard()->text(), QString("docker system prune"));

        // Run asks first; only the confirmation starts the tool.
        click(pane->runButton());
        QVERIFY(!TestTree::exists(w.home / "docker-arguments"));
        QVERIFY(pane->confirmRunButton()->isVisible());
        click(pane->confirmRunButton());
        QVERIFY(pane->isRunningTool() && !pane->runButton()->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!pane->isRunningTool(), 30'000);
        QVERIFY(pane->toolOutcome().startsWith("Docker reports this space") && !pane->isToolOutcomeProblem());
        // The tool is recorded, then followed by a rescan.
        QTRY_VERIFY_WITH_TIMEOUT(w.idle() && events.size() == recorded + 2, 60'000);
        QCOMPARE((std::vector{events[0].title, events[1].title}),
                 (std::vector<std::string>{"Scan finished", "Maintenance \u00B7 Docker"}));
        QVERIFY(events[1].detail.value_or("").starts_with("Docker reports"));
        QCOMPARE(TestTree::snapshot(w.home / "Library"), before);

        // Without xcrun the simulators' runner says so, as a problem, and starts nothing.
        w.window->setPane(Pane::of(CategoryKind::simulators));
        QVERIFY(pane->toolOutcome().isEmpty());
        click(pane->runButton());
        click(pane->confirmRunButton());
        QTRY_VERIFY_WITH_TIMEOUT(!pane->isRunningTool(), 30'000);
        QVERIFY(pane->toolOutcome().startsWith("Xcode command-line tools not found") &&
                pane->isToolOutcomeProblem());
        QTRY_VERIFY_WITH_TIMEOUT(w.idle(), 60'000);
        // Every kind of failure sentence the tools give reads as a problem, whatever the capitals.
        const std::pair<QString, bool> outcomes[] = {{"Docker reports this space", false},
                                                     {"Couldn't talk to simctl.", true},
                                                     {"Pruning FAILED.", true},
                                                     {"Docker CLI not found.", true}};
        for (const auto& [text, problem] : outcomes) {
            QCOMPARE(CategoryPane::isProblem(text), problem);
        }
    }
};

QTEST_MAIN(CategoryPaneTest)
#include "CategoryPaneTest.moc"
