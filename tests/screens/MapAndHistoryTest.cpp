// The disk map and history panes in the real window: tiles in proportion to the tree, drilling and
// climbing by click, keyboard and breadcrumb, revealing through a fake file manager on the test's D-Bus
// session, the reclaimable bands, Stop and the empty states; a real reclaim's history, its report, clearing.
#include "Kestrune/Screens/ActivityModel.h"
#include "Kestrune/Screens/ActivityPane.h"
#include "Kestrune/Screens/DiskMapPane.h"
#include "Kestrune/Screens/TreemapView.h"
#include "KestruneCore/Activity/ActivityStore.h"
#include "KestruneCore/Model/DiskMath.h"
#include "tests/screens/ScreenHarness.h"

#include <QClipboard>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QToolButton>
#include <QTreeView>

#include <numeric>
#include <thread>

namespace {

using namespace std::chrono_literals;
using ScreenTest::human;
using ScreenTest::Window;

int tileNamed(const TreemapView* map, const std::string& name) {
    const auto& tiles = map->tiles();
    const auto tile = std::ranges::find_if(tiles, [&name](const auto& t) { return t.node->name() == name; });
    return tile == tiles.end() ? -1 : int(tile - tiles.begin());
}

void clickTile(TreemapView* map, int index, Qt::MouseButton button = Qt::LeftButton) {
    QTest::mouseClick(map, button, {}, map->tileRect(index).center().toPoint());
}

DiskMapPane* showMap(Window& w) {
    w.window->setPane(Pane{Pane::Kind::treemap, {}});
    DiskMapPane* pane = w.window->diskMap();
    // The map at the size the window's layout gives it, laid out now rather than after the resize rests.
    ScreenTest::settle();
    pane->map()->relayoutNow();
    return pane;
}

// Every line but the second, which carries the moment the report was made.
QString withoutGenerated(const QString& report) {
    return report.section('\n', 0, 0) + report.section('\n', 2);
}

} // namespace

class MapAndHistoryTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY2(ScreenTest::fontsInstalled(),
                 "fonts-dejavu-core is missing: every text would draw as boxes");
    }

    void tilesFollowTheTreeAndClicksDrillClimbAndReveal() {
        ScreenTest::FakeFileManager fileManager;
        QVERIFY2(fileManager.registered, "the screen tests run under dbus-run-session");

        Window w(ScannerList{});
        w.make({{"Data/big/x", 30'000'000},
                {"Data/big/y", 14'000'000},
                {"Data/film.mkv", 24'000'000},
                {"Data/photos/a.jpg", 9'000'000},
                {"Data/notes.bin", 5'000'000}});
        QVERIFY(w.start());
        DiskMapPane* pane = showMap(w);
        TreemapView* map = pane->map();
        QCOMPARE(pane->breadcrumb(), QStringList{"Home"});
        QVERIFY(!pane->upButton()->isEnabled());
        QVERIFY(pane->isScanNoteShown()); // an empty scan

        const int data = tileNamed(map, "Data");
        QVERIFY(data >= 0);
        clickTile(map, data);
        QCOMPARE(pane->breadcrumb(), (QStringList{"Home", "Data"}));
        QCOMPARE(pane->sizeText(), human(w.treemap.current()->bytes));

        // One tile per child, largest first, each with the share of the area its bytes have.
        const auto& tiles = map->tiles();
        QCOMPARE(tiles.size(), std::size_t{4});
        const QStringList order{"big", "film.mkv", "photos", "notes.bin"};
        const double area = (map->width() - 16.0) * (map->height() - 16.0);
        const double total = std::accumulate(tiles.begin(), tiles.end(), 0.0, [](double sum, const auto& t) {
            return sum + double(t.node->bytes);
        });
        for (std::size_t i = 0; i < tiles.size(); ++i) {
            QCOMPARE(QString::fromStdString(tiles[i].node->name()), order[int(i)]);
            const QRectF r = map->tileRect(int(i));
            QVERIFY(qAbs(r.width() * r.height() / area - double(tiles[i].node->bytes) / total) < 0.002);
        }

        // Tooltips, labels and names a screen reader reads.
        const auto& film = tiles[1];
        QCOMPARE(TreemapView::tooltip(*film.node, film.flagged, film.canDrill),
                 "film.mkv — " + human(film.node->bytes) + "\nClick to reveal in File Manager");
        DiskNode other;
        other.isAggregate = true;
        other.bytes = 1'500'000;
        QCOMPARE(TreemapView::tooltip(other, {}, false),
                 "Other — " + human(1'500'000) + " across items too small to draw");
        const std::pair<QSizeF, int> labels[] = {{{50, 100}, 0}, {{60, 35}, 1}, {{60, 45}, 2},
                                                 {{55, 26}, 0},  {{54, 60}, 0}, {{55, 27}, 1}};
        for (const auto& [tileSize, lines] : labels) {
            QCOMPARE(TreemapView::labelLines(tileSize), lines);
        }

        // The tile under the pointer has the border and is described for a screen reader.
        QTest::mouseMove(map, map->tileRect(2).center().toPoint());
        QCOMPARE(map->hoveredTile(), 2);
        QCOMPARE(map->accessibleDescription(), "photos, " + human(tiles[2].node->bytes));

        clickTile(map, 1);
        QTRY_COMPARE(fileManager.shown, QStringList{ScreenTest::fileUrl(w.home / "Data/film.mkv")});
        QCOMPARE(pane->breadcrumb(), (QStringList{"Home", "Data"}));

        // Clicks drill; "Up one level" and a breadcrumb climb. Enter drills into the focused tile, Backspace
        // and Alt+Up climb, and the scope's root is never left.
        const auto focus = [&](const char* name) {
            map->setFocus();
            map->setFocusedTile(tileNamed(map, name));
        };
        const std::pair<std::function<void()>, QString> steps[] = {
            {[&] { clickTile(map, tileNamed(map, "big")); }, "Home/Data/big"},
            {[&] { QTest::mouseClick(pane->upButton(), Qt::LeftButton); }, "Home/Data"},
            {[&] { clickTile(map, tileNamed(map, "photos")); }, "Home/Data/photos"},
            {[&] { QTest::mouseClick(pane->crumb(0), Qt::LeftButton); }, "Home"},
            {[&] { focus("Data"), QTest::keyClick(map, Qt::Key_Return); }, "Home/Data"},
            {[&] { focus("big"), QTest::keyClick(map, Qt::Key_Enter); }, "Home/Data/big"},
            {[&] { QTest::keyClick(map, Qt::Key_Backspace); }, "Home/Data"},
            {[&] { QTest::keyClick(map, Qt::Key_Up, Qt::AltModifier); }, "Home"},
            {[&] { QTest::keyClick(map, Qt::Key_Backspace); }, "Home"},
            {[&] { focus("Data"), w.window->actions().drillIn->trigger(); }, "Home/Data"},
        };
        for (const auto& [step, crumbs] : steps) {
            step();
            QCOMPARE(pane->breadcrumb().join('/'), crumbs);
        }
        QCOMPARE(map->focusedTile(), 0);
        QCOMPARE(map->accessibleName(), "big, " + human(map->tiles()[0].node->bytes));
        // From every tile, an arrow lands on a tile that lies wholly that way, or stays where nothing does.
        std::map<int, int> moves;
        for (const auto key : {Qt::Key_Left, Qt::Key_Right, Qt::Key_Up, Qt::Key_Down}) {
            for (int from = 0; from < int(map->tiles().size()); ++from) {
                map->setFocusedTile(from);
                QTest::keyClick(map, key);
                const int to = map->focusedTile();
                if (to == from) {
                    continue;
                }
                ++moves[key];
                const QRectF a = map->tileRect(from), b = map->tileRect(to);
                const bool beyond = key == Qt::Key_Left    ? b.right() <= a.left() + 0.5
                                    : key == Qt::Key_Right ? b.left() >= a.right() - 0.5
                                    : key == Qt::Key_Up    ? b.bottom() <= a.top() + 0.5
                                                           : b.top() >= a.bottom() - 0.5;
                QVERIFY2(beyond, qPrintable(QString("key %1 from %2 to %3").arg(int(key)).arg(from).arg(to)));
            }
            QVERIFY(moves[key] > 0);
        }

        // The shared item actions act on the focused tile.
        map->setFocusedTile(tileNamed(map, "notes.bin"));
        w.window->actions().copyPath->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromStdString(w.home / "Data/notes.bin"));

        // The context menu: the tile's own actions, "Drill in" only for a folder with children.
        const std::pair<std::string, QStringList> menus[] = {
            {"big", {"Reveal in File Manager", "Drill in", "", "Open", "Copy Path"}},
            {"notes.bin", {"Reveal in File Manager", "", "Open", "Copy Path"}}};
        for (const auto& [name, texts] : menus) {
            const QPoint at = map->tileRect(tileNamed(map, name)).center().toPoint();
            QContextMenuEvent request(QContextMenuEvent::Mouse, at, map->mapToGlobal(at));
            QApplication::sendEvent(map, &request);
            auto* menu = pane->findChild<QMenu*>("mapMenu");
            QVERIFY(menu);
            QStringList shown;
            for (const QAction* action : menu->actions()) {
                shown << action->text();
            }
            QCOMPARE(shown, texts);
            QCOMPARE(map->focusedNode()->name(), name);
            menu->close();
            QTRY_VERIFY(!pane->findChild<QMenu*>("mapMenu"));
        }

        // After a whole run the counter reads "3 of 3", never more.
        QVERIFY(DiskMapPane::statusText(w.treemap).startsWith("3 of 3"));
    }

    // Stop ends a held build and the empty states say so; the build after it shows the bands of what the
    // scan flagged.
    void stopEndsABuildAndTheMapShowsWhatTheScanFlagged() {
        Window w({std::make_shared<UserCachesScanner>(), std::make_shared<DownloadsScanner>()});
        w.make({{"Library/Caches/com.example.app/blob", 40'000'000},
                {"Library/Keep/data", 40'000'000},
                {"Downloads/Setup.dmg", 30'000'000, 90},
                {"Downloads/fresh.bin", 30'000'000}});
        // The real builder, held in the middle of its walk until it is told to stop.
        const auto real = w.treemap.build;
        w.treemap.build = [real](const std::string& root, const VolumeTree::Options& options,
                                 const std::function<void(const VolumeTree::Progress&)>& onProgress,
                                 const std::function<bool()>& isCancelled) {
            onProgress({0.25, "Projects", 1234, 5'000'000'000});
            while (!isCancelled()) {
                std::this_thread::sleep_for(5ms);
            }
            return real(root, options, onProgress, isCancelled);
        };
        w.window->show();
        w.window->setPane(Pane{Pane::Kind::treemap, {}});
        DiskMapPane* pane = w.window->diskMap();
        const QString status = "1 of 3 · Home · Projects · 1,234 folders · " + human(5'000'000'000);
        QTRY_COMPARE_WITH_TIMEOUT(pane->buildStatus(), status, 30'000);
        QVERIFY(!pane->isMapShown());
        QCOMPARE(pane->emptyTitleText(), QString("Measuring home"));
        QCOMPARE(pane->emptyStatusText(), status);
        QVERIFY(pane->stopButton()->isVisible());
        QVERIFY(!pane->refreshButton()->isEnabled());
        const QModelIndex row = w.window->sidebarModel().indexOf(Pane{Pane::Kind::treemap, {}});
        QCOMPARE(row.data(int(SidebarModel::Role::progress)).toDouble(), 0.25 / 3);
        pane->scopeButton(2)->click();
        QCOMPARE(pane->emptyTitleText(), QString("Building home in the background"));
        pane->scopeButton(0)->click();

        QTest::mouseClick(pane->stopButton(), Qt::LeftButton);
        QCOMPARE(pane->buildStatus(), QString("Stopped · 0 of 3 maps built"));
        QVERIFY(!pane->stopButton()->isVisible());
        QCOMPARE(pane->emptyTitleText(), QString("No map yet"));
        QVERIFY(pane->emptyRefreshButton()->isVisible());
        QCOMPARE(row.data(int(SidebarModel::Role::progress)).toDouble(), -1.0);
        QVERIFY(row.data(int(SidebarModel::Role::accessory)).toString().isEmpty());

        // Refresh with the builder let go: the map and "Built …" come, the Stop note goes, and what the
        // walk could not read is said (a root-run test reads every folder, so the count is set here).
        w.treemap.build = [real](const std::string& root, const VolumeTree::Options& options,
                                 const std::function<void(const VolumeTree::Progress&)>& onProgress,
                                 const std::function<bool()>& isCancelled) -> TreemapEngine::Node {
            auto node = std::make_shared<DiskNode>(*real(root, options, onProgress, isCancelled));
            node->unreadable = 2;
            return node;
        };
        QTest::mouseClick(pane->emptyRefreshButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!w.treemap.isBuilding(), 60'000);
        QVERIFY(pane->isMapShown());
        QVERIFY(pane->buildStatus().startsWith("Built "));
        QVERIFY2(pane->buildStatus().endsWith(" \u00B7 2 entries could not be read"),
                 qPrintable(pane->buildStatus()));
        QCOMPARE(pane->sizeText(), human(w.treemap.current()->bytes));
        QCOMPARE(row.data(int(SidebarModel::Role::accessory)).toString(),
                 human(w.treemap.builtMap("home")->bytes));
        QTRY_VERIFY_WITH_TIMEOUT(w.idle(), 60'000);
        showMap(w);
        TreemapView* map = pane->map();
        QVERIFY(!pane->isScanNoteShown());
        const CategoryResult* caches = w.scan.result(CategoryKind::userCaches);
        const CategoryResult* downloads = w.scan.result(CategoryKind::downloads);
        QVERIFY(caches && downloads);
        const std::tuple<const char*, std::int64_t, std::int64_t> expected[] = {
            {"Library", caches->bytes(), 0}, {"Downloads", 0, downloads->bytes()}};
        for (const auto& [name, safeBytes, reviewBytes] : expected) {
            const int i = tileNamed(map, name);
            QVERIFY(i >= 0);
            const auto& tile = map->tiles()[std::size_t(i)];
            QCOMPARE(tile.flagged, (ReclaimIndex::Flagged{safeBytes, reviewBytes}));
            const auto [safe, review] = TreemapView::bandHeights(tile);
            const double h = map->tileRect(i).height();
            QVERIFY(qAbs(safe - h * double(safeBytes) / double(tile.node->bytes)) < 0.01);
            QVERIFY(qAbs(review - h * double(reviewBytes) / double(tile.node->bytes)) < 0.01);
            QVERIFY(TreemapView::tooltip(*tile.node, tile.flagged, tile.canDrill).contains(" flagged ("));
        }
        // Drilled in, the cache folder itself is all safe.
        clickTile(map, tileNamed(map, "Library"));
        const int cache = tileNamed(map, "Caches");
        QVERIFY(cache >= 0);
        QVERIFY(qAbs(TreemapView::bandHeights(map->tiles()[std::size_t(cache)]).first -
                     map->tileRect(cache).height()) < 1.0);
    }

    void historyShowsAReclaimExportsTheReportAndClearsAfterAsking() {
        Window w({std::make_shared<UserCachesScanner>()});
        w.make({{"Library/Caches/com.example.a/blob", 3'000'000},
                {"Library/Caches/org.example.b/blob", 4'000'000}});
        QVERIFY(w.start());
        w.window->setPane(Pane{Pane::Kind::history, {}});
        ActivityPane* pane = w.window->history();
        ActivityModel& model = pane->eventModel();
        ScreenTest::checkModel(&model);
        QVERIFY(!pane->isEmptyStateShown() && pane->totalText().isEmpty());

        await(w.scan.clean(ScanEngine::OpenTrash::no, ScanEngine::Rescan::no));
        QCOMPARE(model.rowCount(), int(w.activity.events().size()));
        const QModelIndex reclaim = model.index(0, 0);
        QVERIFY(reclaim.data().toString().startsWith("Reclaimed "));
        QCOMPARE(reclaim.data(int(ActivityModel::Role::shownBytes)).toLongLong(), -1);
        QCOMPARE(reclaim.data(int(ActivityModel::Role::detail)).toString(), QString("2 items moved"));
        QCOMPARE(pane->toggleText(reclaim), QString("Show 2 paths"));
        QTest::mouseClick(pane->list()->viewport(), Qt::LeftButton, {}, pane->toggleRect(reclaim).center());
        QVERIFY(pane->list()->isExpanded(reclaim));
        QCOMPARE(pane->toggleText(reclaim), QString("Hide 2 paths"));
        QStringList stored;
        for (const auto& path : w.activity.events().front().paths) {
            stored << QString::fromStdString(path.path);
        }
        QCOMPARE(ScreenTest::texts(&model, 0, reclaim), stored);
        const auto& events = w.activity.events();
        const auto scan = std::ranges::find(events, ActivityKind::scan, &ActivityEvent::kind);
        const QModelIndex scanRow = model.index(int(scan - events.begin()), 0);
        QCOMPARE(scanRow.data().toString(), QString("Scan finished"));
        QVERIFY(pane->toggleRect(scanRow).isEmpty());

        // A new event arrives live on top; the open one stays open; one path is still "paths".
        w.activity.recordUninstall("Tool", {{"~/tool", 5'000'000, PathDisposition::trashed, std::nullopt}},
                                   ActivityEngine::Reset::no);
        QCOMPARE(model.index(0, 0).data().toString(), QString("Uninstalled Tool"));
        QCOMPARE(pane->toggleText(model.index(0, 0)), QString("Show 1 paths"));
        QVERIFY(pane->list()->isExpanded(model.index(1, 0)));
        QCOMPARE(pane->toggleText(model.index(1, 0)), QString("Hide 2 paths"));

        // The lifetime figure, once the Trash is emptied, in the header and the sidebar.
        await(w.scan.emptyTrash(ScanEngine::Rescan::no));
        QCOMPARE(pane->totalText(), "Reclaimed so far " + human(w.activity.lifetimeReclaimed()));
        const QModelIndex historyRow = w.window->sidebarModel().indexOf(Pane{Pane::Kind::history, {}});
        QCOMPARE(historyRow.data(int(SidebarModel::Role::accessory)).toString(),
                 human(w.activity.lifetimeReclaimed()));

        // Leaving the pane forgets what was open.
        w.window->setPane(Pane{});
        w.window->setPane(Pane{Pane::Kind::history, {}});
        QVERIFY(!pane->list()->isExpanded(model.index(2, 0)));

        QTest::mouseClick(pane->copyButton(), Qt::LeftButton);
        QCOMPARE(withoutGenerated(QGuiApplication::clipboard()->text()),
                 withoutGenerated(QString::fromStdString(w.activity.supportReport())));

        // Export offers the suggested name and writes the report the copy gave, as a text file.
        QTest::mouseClick(pane->exportButton(), Qt::LeftButton);
        QFileDialog* dialog = pane->saveDialog();
        QVERIFY(dialog);
        QVERIFY(QFileInfo(dialog->selectedFiles().value(0)).fileName().startsWith("Kestrune-activity-"));
        const std::string out = w.home / "report.txt";
        dialog->selectFile(QString::fromStdString(out));
        QVERIFY(QMetaObject::invokeMethod(dialog, "accept"));
        QVERIFY(pane->exportProblem().isEmpty());
        const QString exported = QString::fromStdString(TestTree::readFile(out));
        QCOMPARE(withoutGenerated(exported), withoutGenerated(QGuiApplication::clipboard()->text() + '\n'));
        QVERIFY(exported.contains("  trashed  ~/Library/Caches/com.example.a"));

        // Export into a folder that cannot be written says so.
        QTest::mouseClick(pane->exportButton(), Qt::LeftButton);
        pane->saveDialog()->selectFile(QString::fromStdString(w.home / "missing/folder/report.txt"));
        emit pane->saveDialog()->fileSelected(QString::fromStdString(w.home / "missing/folder/report.txt"));
        pane->saveDialog()->reject();
        QVERIFY(pane->exportProblem().startsWith("Could not write "));

        // Clearing asks first; Cancel keeps everything, "Clear History" empties the list and the file.
        const auto before = w.activity.events().size();
        for (const bool confirm : {false, true}) {
            QTest::mouseClick(pane->clearButton(), Qt::LeftButton);
            ConfirmSheet* ask = w.confirmation();
            QVERIFY(ask);
            QCOMPARE(ScreenTest::titleOf(ask), QString("Clear all activity history?"));
            QCOMPARE(ask->confirmButton()->text(), QString("Clear History"));
            QTest::mouseClick(confirm ? ask->confirmButton() : ask->cancelButton(), Qt::LeftButton);
            QVERIFY(!w.window->overlay()->isPresenting());
            QVERIFY(confirm ||
                    (w.activity.events().size() == before && ActivityStore::load().events.size() == before));
        }
        QCOMPARE(model.rowCount(), 0);
        QVERIFY(ActivityStore::load().events.empty());
        QCOMPARE(ActivityStore::load().lifetimeReclaimedBytes, std::int64_t{0});
        QVERIFY(pane->isEmptyStateShown() && pane->totalText().isEmpty());
        for (QPushButton* button : {pane->copyButton(), pane->exportButton(), pane->clearButton()}) {
            QVERIFY(!button->isEnabled());
        }
        QVERIFY(historyRow.data(int(SidebarModel::Role::accessory)).toString().isEmpty());
    }
};

QTEST_MAIN(MapAndHistoryTest)
#include "MapAndHistoryTest.moc"
