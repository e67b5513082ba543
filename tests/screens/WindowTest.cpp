// The main window on a real temporary home: the overview's states, the Reclaim button, the three-step
// confirmation, a reclaim by clicks that leaves the rest byte for byte, the gate, routing, geometry.
#include "Kestrune/Screens/ActionBar.h"
#include "Kestrune/Screens/CategoryBars.h"
#include "Kestrune/Screens/CategoryPane.h"
#include "Kestrune/Screens/CompositionBar.h"
#include "Kestrune/Screens/OverviewPane.h"
#include "Kestrune/Screens/PermissionGate.h"
#include "Kestrune/Screens/ReclaimCategoryModel.h"
#include "Kestrune/Screens/ReclaimSheet.h"
#include "Kestrune/Screens/SidebarView.h"
#include "KestruneCore/Platform/TrashFolder.h"
#include "KestruneCore/Scanners/CloudBackupScanners.h"
#include "KestruneCore/Scanners/DuplicateScanner.h"
#include "KestruneCore/Scanners/ToolOwnedScanners.h"
#include "KestruneCore/Walk/DiskMeasure.h"
#include "tests/TrashFixture.h"
#include "tests/screens/ScreenHarness.h"

#include <QListView>
#include <QSignalSpy>
#include <QSplitter>
#include <QToolButton>

#include <future>

namespace {

using namespace std::chrono_literals;
using ScreenTest::human;
using ScreenTest::Window;

const QStringList trashCards{"Other items move to Trash", "Restore anything you need",
                             "Reclaim finishes by emptying Trash"};

ScannerList locationScanners() {
    return {std::make_shared<UserCachesScanner>(), std::make_shared<LogsScanner>(),
            std::make_shared<DownloadsScanner>(), std::make_shared<TrashScanner>()};
}

ReclaimSheet* openSheet(Window& w) {
    QToolButton* button = w.window->actionBar()->reclaimButton();
    if (!button->isEnabled()) {
        return nullptr;
    }
    QTest::mouseClick(button, Qt::LeftButton);
    auto* sheet = qobject_cast<ReclaimSheet*>(w.window->overlay()->sheet());
    if (sheet) {
        ScreenTest::checkModel(&sheet->categoryModel());
    }
    return sheet;
}

// Moves the current row of the sheet's list to the category and presses Space, as a keyboard user would.
void toggleRow(ReclaimSheet* sheet, CategoryKind kind) {
    const auto& kinds = sheet->categoryModel().categories();
    QListView* list = sheet->categoryList();
    list->setFocus();
    list->setCurrentIndex(
        sheet->categoryModel().index(int(std::find(kinds.begin(), kinds.end(), kind) - kinds.begin())));
    QTest::keyClick(list, Qt::Key_Space);
}

std::set<std::string> selectedUrls(const ScanEngine& scan) {
    return TestTree::urls({scan.selected().begin(), scan.selected().end()});
}

// The one stand-in scanner: finds nothing, and only once the test lets it finish, which holds a scan
// in its middle so that the screens can be looked at while it runs.
class HeldScanner final : public Scanner {
public:
    explicit HeldScanner(std::shared_future<void> release) : release(std::move(release)) {}
    [[nodiscard]] CategoryKind kind() const override { return CategoryKind::logs; }
    [[nodiscard]] std::vector<CleanupItem> scan() const override {
        release.wait();
        return {};
    }

private:
    std::shared_future<void> release;
};

bool chattr(const std::string& flag, const std::string& path) {
    return TestTree::run({"/usr/bin/chattr", flag, path}).status == 0;
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY2(ScreenTest::fontsInstalled(),
                 "fonts-dejavu-core is missing: every text would draw as boxes");
    }

    void aFullReclaimByClicksEmptiesTheTrashAndLeavesTheRestByteForByte() {
        Window w(locationScanners());
        w.make({{"Library/Caches/com.example.big/data", 1'200'000'000},
                {"Library/Caches/org.example.other/blob", 800'000'000},
                {"Library/Logs/app/app.log", 3'000'000},
                {"Downloads/Setup.dmg", 6'000'000, 60}});
        TestTree::writeFile(w.home / "Documents/notes.txt", "kept as it is");
        const std::string trash = Platform::trashFilesFolder();
        TestTree::makeFile(trash + "/old-download.iso", 5'000'000);
        QVERIFY(w.start());
        OverviewPane* overview = w.window->overview();
        overview->refresh();
        // Tab reaches every control of the overview and the action bar in order; Space on Reclaim opens
        // the confirmation.
        w.window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.window.get()));
        w.window->sidebar()->setFocus();
        QList<QWidget*> reached;
        for (int i = 0; i < 20 && !reached.contains(QApplication::focusWidget()); ++i) {
            reached << QApplication::focusWidget();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        ActionBar* bar = w.window->actionBar();
        int last = -1;
        for (QWidget* widget : {(QWidget*)w.window->sidebar(), (QWidget*)overview->scanButton(),
                                (QWidget*)overview->emptyTrashButton(), (QWidget*)overview->categoryBars(),
                                (QWidget*)bar->rescanButton(), (QWidget*)bar->reclaimButton()}) {
            QVERIFY2(int(reached.indexOf(widget)) > last,
                     qPrintable(widget->objectName() + " is out of order"));
            last = int(reached.indexOf(widget));
        }
        bar->reclaimButton()->setFocus();
        QTest::keyClick(bar->reclaimButton(), Qt::Key_Space);
        auto* sheet = qobject_cast<ReclaimSheet*>(w.window->overlay()->sheet());
        QVERIFY(sheet);
        ScreenTest::checkModel(&sheet->categoryModel());
        auto expected = selectedUrls(w.scan);
        QCOMPARE(expected.erase(w.home / "Library/Logs/app"), std::size_t{1});
        toggleRow(sheet, CategoryKind::logs);
        QCOMPARE(selectedUrls(w.scan), expected);
        QCOMPARE(sheet->selectionCount(), QString("%1 items selected").arg(expected.size()));
        QTest::mouseClick(sheet->nextButton(), Qt::LeftButton);
        QCOMPARE(sheet->cardTitles(), trashCards);
        QTest::mouseClick(sheet->nextButton(), Qt::LeftButton);
        QVERIFY(sheet->caption().startsWith("Last step. Reclaim moves the selection to Trash, then empties"));
        QCOMPARE(sheet->finalSummary(), QString("3 items · 2 categories"));
        QVERIFY(sheet->finalSentence().contains("~" + human(w.scan.selectedBytes()) + " ("));

        const auto keptTrees = [&w] {
            return std::vector{TestTree::snapshot(w.home / "Library/Logs"),
                               TestTree::snapshot(w.home / "Downloads"),
                               TestTree::snapshot(w.home / "Documents")};
        };
        const auto kept = keptTrees();
        QSignalSpy finished(w.window.get(), &MainWindow::reclaimFinished);
        QTest::mouseClick(sheet->reclaimButton(), Qt::LeftButton);
        QVERIFY(!w.window->overlay()->isPresenting() && w.window->isReclaiming());
        QVERIFY(!w.window->actions().reclaim->isEnabled());
        // Closing while the reclaim runs asks first; keeping it running leaves the window open.
        QVERIFY(!w.window->close());
        QVERIFY(w.confirmation());
        QTest::mouseClick(w.confirmation()->cancelButton(), Qt::LeftButton);
        QVERIFY(w.window->isVisible() && !w.window->overlay()->isPresenting());
        QVERIFY(finished.wait(120'000));
        QCOMPARE(TestTree::allocatedTree(trash), std::int64_t{0});
        QCOMPARE(keptTrees(), kept);
        QVERIFY(w.scan.lastReclaimed() >= 2'000'000'000);

        const auto addToTrash = [&](const char* name, std::int64_t bytes) {
            TestTree::makeFile(trash + "/" + name, bytes);
            await(w.scan.refreshTrashBytesLive());
            overview->refresh();
        };
        // 900,000 bytes in the Trash after a 2 GB reclaim: the line, not the banner.
        addToTrash("small", 900'000);
        QVERIFY(!overview->isTrashBannerShown());
        QCOMPARE(overview->movedLine(),
                 QString("Moved %1 to Trash last run").arg(human(w.scan.lastReclaimed())));
        // 5 MB: the banner. Empty Trash asks first: Escape and Cancel keep the Trash, the confirmation
        // empties it and rescans.
        addToTrash("more", 4'100'000);
        QVERIFY(overview->isTrashBannerShown() && overview->movedLine().isEmpty());
        for (const int choice : {0, 1, 2}) { // Escape, Cancel, Empty Trash
            QTest::mouseClick(overview->emptyTrashButton(), Qt::LeftButton);
            ConfirmSheet* confirm = w.confirmation();
            QVERIFY(confirm);
            QCOMPARE(ScreenTest::titleOf(confirm),
                     QString("Empty Trash and permanently delete %1?").arg(human(w.scan.trashBytesLive())));
            if (choice == 0) {
                QTest::keyClick(confirm->confirmButton(), Qt::Key_Escape);
            } else {
                QTest::mouseClick(choice == 1 ? confirm->cancelButton() : confirm->confirmButton(),
                                  Qt::LeftButton);
            }
            QVERIFY(!w.window->overlay()->isPresenting());
            QVERIFY(choice == 2 || (TestTree::exists(trash + "/more") && !w.scan.isScanning()));
        }
        QTRY_VERIFY_WITH_TIMEOUT(
            !TestTree::exists(trash + "/more") && w.idle() && w.scan.trashBytesLive() == 0, 60'000);
    }

    // The last step says what the reclaim leaves in place (here the last copy of an installer whose copy is
    // selected too) and counts only what goes; after a reclaim, the errors card lists every item that could
    // not move.
    void theLastStepSaysWhatIsKeptBackAndTheErrorsCardWhatCouldNotMove() {
        Window w({std::make_shared<UserCachesScanner>(), std::make_shared<DownloadsScanner>(),
                  std::make_shared<DuplicateScanner>()});
        const std::string bytes = TrashFixture::randomBytes(6'000'000, 1);
        w.make({{"Downloads/x.iso", bytes, 90},
                {"copy.iso", bytes},
                {"Library/Caches/com.example.locked/data", 2'000'000},
                {"Library/Caches/org.example.frozen/data", 3'000'000}});
        const std::string iso = w.home / "Downloads/x.iso", copy = w.home / "copy.iso";
        const std::string stuck[] = {w.home / "Library/Caches/com.example.locked",
                                     w.home / "Library/Caches/org.example.frozen"};
        QVERIFY(w.start());
        ReclaimSheet* sheet = openSheet(w);
        QVERIFY(sheet);
        QTest::mouseClick(sheet->selectAllButton(), Qt::LeftButton);
        QCOMPARE(selectedUrls(w.scan), (std::set<std::string>{iso, copy, stuck[0], stuck[1]}));
        sheet->setStep(1);
        QCOMPARE(sheet->keptBackText(), QString());
        sheet->setStep(2);
        QCOMPARE(sheet->keptBackText(),
                 QString("Kept back:\ncopy.iso: kept back, every other copy of it was selected too"));
        QCOMPARE(sheet->finalSummary(), QString("3 items \u00B7 2 categories"));
        const QString going = human(DiskMath::size(iso) + w.scan.result(CategoryKind::userCaches)->bytes());
        QVERIFY2(sheet->finalSentence().contains("~" + going + " "), qPrintable(sheet->finalSentence()));
        QTest::keyClick(sheet->reclaimButton(), Qt::Key_Escape);

        if (!chattr("+i", stuck[0]) || !chattr("+i", stuck[1])) {
            chattr("-i", stuck[0]);
            QSKIP("read-only folders cannot be made here (chattr +i)");
        }
        // The reclaim step alone: the whole reclaim ends with a rescan, which clears the messages.
        await(w.scan.clean(ScanEngine::OpenTrash::no, ScanEngine::Rescan::no));
        chattr("-i", stuck[0]);
        chattr("-i", stuck[1]);
        OverviewPane* overview = w.window->overview();
        overview->refresh();
        QCOMPARE(overview->errorsTitle(), QString("2 items could not be removed"));
        QStringList expected;
        for (const auto& message : w.scan.errors()) {
            expected << QString::fromStdString(message);
        }
        QCOMPARE(expected.size(), 2);
        QCOMPARE(overview->errorLines(), expected);
    }

    // Reclaim is off after a scan of advice only and while scanning; once on, the confirmation follows the
    // kind of selection.
    void reclaimIsOffWithoutReclaimableItemsAndTheConfirmationFollowsTheSelection() {
        Window w({std::make_shared<DockerScanner>(), std::make_shared<UserCachesScanner>(),
                  std::make_shared<CloudClutterScanner>()});
        w.make({{"Library/Containers/com.docker.docker/Data/vms/0/data/Docker.raw", 120'000'000}});
        QVERIFY(w.start());
        ActionBar* bar = w.window->actionBar();
        QVERIFY(!w.window->actions().reclaim->isEnabled() && !bar->reclaimButton()->isEnabled());
        w.window->requestReclaim();
        QVERIFY(!w.window->overlay()->isPresenting());
        w.make({{"Library/Caches/com.example.cache/blob", 2'000'000},
                {"Library/Mobile Documents/com~apple~CloudDocs/Movies/film.mov", 60'000'000}});
        QTest::mouseClick(bar->rescanButton(), Qt::LeftButton);
        QVERIFY(w.scan.isScanning() && !bar->rescanButton()->isEnabled());
        QTRY_VERIFY(!w.window->overview()->scanButton()->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(w.idle(), 60'000);

        const auto before = TestTree::snapshot(w.home.path());
        const std::set<std::string> cacheOnly{w.home / "Library/Caches/com.example.cache"};
        ReclaimSheet* sheet = openSheet(w);
        QVERIFY(sheet);
        QTest::mouseClick(sheet->deselectAllButton(), Qt::LeftButton);
        QCOMPARE(sheet->selectionCount(), QString("0 items selected"));
        QVERIFY(!sheet->nextButton()->isEnabled());

        // Cloud copies only, then both kinds; each time the review and the last step say what happens.
        const QStringList cloudCards{"iCloud copies are evicted locally"};
        const struct {
            CategoryKind tick;
            QString review, last;
            QStringList cards;
        } selections[] = {
            {CategoryKind::cloudClutter,
             "iCloud items are evicted locally — they stay in iCloud and re-download on demand. Nothing is "
             "permanently deleted.",
             "Last step. Reclaim frees local iCloud copies without deleting cloud files.", cloudCards},
            {CategoryKind::userCaches,
             "Trashable items go to Trash first (undoable). "
             "iCloud items are only evicted locally and stay in the cloud.",
             "Last step. Reclaim trashes selected files (then empties Trash) "
             "and evicts selected iCloud local copies.",
             cloudCards + trashCards}};
        std::set<std::string> expected;
        for (const auto& s : selections) {
            sheet->setStep(0);
            toggleRow(sheet, s.tick);
            expected.merge(TestTree::urls(w.scan.result(s.tick)->items));
            QCOMPARE(selectedUrls(w.scan), expected);
            QTest::mouseClick(sheet->nextButton(), Qt::LeftButton);
            QCOMPARE(sheet->caption(), s.review);
            QCOMPARE(sheet->cardTitles(), s.cards);
            QTest::mouseClick(sheet->nextButton(), Qt::LeftButton);
            QCOMPARE(sheet->caption(), s.last);
        }
        QCOMPARE(sheet->finalSummary(), QString("2 items · 2 categories"));
        QTest::mouseClick(sheet->backButton(), Qt::LeftButton);
        QTest::mouseClick(sheet->backButton(), Qt::LeftButton);

        // Unticking one category removes exactly its items.
        toggleRow(sheet, CategoryKind::cloudClutter);
        QCOMPARE(selectedUrls(w.scan), cacheOnly);
        QTest::mouseClick(sheet->deselectAllButton(), Qt::LeftButton);
        QVERIFY(!sheet->nextButton()->isEnabled());
        sheet->setStep(2);
        QVERIFY(!sheet->reclaimButton()->isEnabled());
        QTest::mouseClick(sheet->reclaimButton(), Qt::LeftButton);
        QVERIFY(!w.window->isReclaiming());

        // Escape discards; so does a click on the dimmed window. Nothing was touched.
        QTest::mouseClick(sheet->recommendedButton(), Qt::LeftButton);
        QCOMPARE(selectedUrls(w.scan), cacheOnly);
        QTest::keyClick(sheet->reclaimButton(), Qt::Key_Escape);
        QVERIFY(!w.window->overlay()->isPresenting());
        QVERIFY(openSheet(w));
        QTest::mouseClick(w.window->overlay(), Qt::LeftButton, {}, QPoint(4, 4));
        QVERIFY(!w.window->overlay()->isPresenting() && !w.window->isReclaiming());
        QCOMPARE(TestTree::snapshot(w.home.path()), before);
    }

    void theSidebarAndTheBarsRouteAndAVanishedCategoryShowsTheOverview() {
        Window w(locationScanners());
        ScreenTest::checkModel(&w.window->sidebarModel());
        w.make({{"Library/Caches/com.example.cache/blob", 9'000'000},
                {"Library/Logs/app/app.log", 3'000'000},
                {"Downloads/Tool.zip", 6'000'000, 60}});
        QVERIFY(w.start());
        QCOMPARE(w.window->statusMenu(), nullptr); // no tray offscreen, and the window works without it
        QAction* refresh = w.window->actions().refreshDiskMap;
        refresh->trigger();
        QVERIFY(w.treemap.isBuilding() && !refresh->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(w.idle(), 60'000);
        QVERIFY(refresh->isEnabled());

        // The bars: largest first, the selected share of safe ones only; a click opens the category.
        OverviewPane* overview = w.window->overview();
        overview->refresh();
        CategoryBars* bars = overview->categoryBars();
        QCOMPARE(bars->rows().size(), std::size_t{3});
        QCOMPARE(bars->rows()[0].kind, CategoryKind::userCaches);
        QCOMPARE(bars->rows()[1].kind, CategoryKind::downloads);
        QVERIFY(bars->selectedText(1).isEmpty()); // review: nothing selected, no figure
        QCOMPARE(bars->selectedText(0), QString("%1 of %1 selected").arg(human(bars->rows()[0].bytes)));
        QCOMPARE(overview->compositionBar()->shownSegments().size(), std::size_t{3});
        QTest::mouseClick(bars, Qt::LeftButton, {}, bars->rowRect(1).center());
        QVERIFY(w.window->pane() == Pane::of(CategoryKind::downloads));
        QCOMPARE(w.window->shownPane(), w.window->category());

        SidebarModel& model = w.window->sidebarModel();
        QCOMPARE(model.rowCount(), SidebarModel::paneRows + 1 + 3);
        const QModelIndex logsRow = model.indexOf(Pane::of(CategoryKind::logs));
        QCOMPARE(logsRow.data(int(SidebarModel::Role::total)).toInt(), 1);
        SidebarView* sidebar = w.window->sidebar();
        const auto clickRow = [sidebar](const QModelIndex& row) {
            QTest::mouseClick(sidebar->viewport(), Qt::LeftButton, {}, sidebar->visualRect(row).center());
        };
        clickRow(logsRow);
        QVERIFY(w.window->pane() == Pane::of(CategoryKind::logs));
        QCOMPARE(w.window->shownPane(), w.window->category());
        QVERIFY(w.window->actionBar()->isVisible());
        clickRow(model.indexOf(Pane{Pane::Kind::treemap, {}}));
        QVERIFY(w.window->pane().kind == Pane::Kind::treemap);
        QVERIFY(w.window->shownPane() != w.window->overview());
        QVERIFY(!w.window->actionBar()->isVisible());

        w.window->setPane(Pane::of(CategoryKind::logs));
        std::filesystem::remove_all(w.home / "Library/Logs");
        QTest::keyClick(w.window.get(), Qt::Key_R, Qt::ControlModifier);
        QTRY_VERIFY_WITH_TIMEOUT(w.idle(), 60'000);
        QCOMPARE(w.window->shownPane(), w.window->overview());
        QVERIFY(sidebar->selectionModel()->selectedIndexes().isEmpty());

        // Six segments largest first, then the rest as one "other".
        std::vector<ChartEntry> seven;
        for (int i = 0; i < 7; ++i) {
            seven.push_back({CategoryKinds::allCases()[std::size_t(i)], std::int64_t(1000 * (i + 1)), 0});
        }
        const auto segments = CompositionBar::segments(seven);
        QCOMPARE(segments.size(), std::size_t{7});
        QCOMPARE(segments[0].kind, std::optional(CategoryKinds::allCases()[6]));
        QCOMPARE(segments[5].bytes, std::int64_t{2000});
        QVERIFY(!segments[6].kind && segments[6].bytes == 1000);
    }

    // The gate stays until a check finds access; then the scan starts, and while it runs the hero and the
    // action bar say what it does. The scan of an empty home then says there is nothing to sweep, and the
    // window's size and split are kept for the next start (a frame saved by an older version is dropped).
    void theGateStaysUntilAccessThenTheScanSaysWhatItDoesAndTheGeometryIsKept() {
        std::promise<void> release;
        bool granted = false;
        Window w({std::make_shared<UserCachesScanner>(),
                  std::make_shared<HeldScanner>(release.get_future().share())},
                 [&granted] { return granted; });
        TestTree::writeFile(w.home / "Documents/notes.txt", "nothing to reclaim here");
        ReclaimSheet sheet({w.scan, w.treemap, w.activity, w.uninstall});
        QCOMPARE(sheet.emptyExplanation(),
                 QString("Run a scan from Overview first, then open Reclaim again."));
        w.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
        QCOMPARE(w.window->size(), QSize(1130, 820));
        QCOMPARE(w.window->minimumSize(), QSize(760, 480));
        PermissionGate* gate = w.window->gate();
        QTest::mouseClick(gate->openSettingsButton(), Qt::LeftButton);
        QVERIFY(!gate->isHintShown());
        QTest::mouseClick(gate->checkAgainButton(), Qt::LeftButton);
        QVERIFY(gate->isHintShown() && gate->isVisible());
        QVERIFY(!w.scan.isScanning() && !w.scan.hasScanned());
        granted = true;
        QTest::mouseClick(gate->checkAgainButton(), Qt::LeftButton);
        QVERIFY(!gate->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(w.scan.step(), 1, 30'000);
        OverviewPane* overview = w.window->overview();
        ActionBar* bar = w.window->actionBar();
        overview->refresh();
        QVERIFY(w.scan.isScanning() && overview->isHoldOnShown());
        QCOMPARE(overview->caption(), QString("found so far"));
        QCOMPARE(overview->scanningMessage(), QString("Scanning Caches… (1 of 2)"));
        QCOMPARE(bar->statusText(), QString("Scanning Caches…"));
        QVERIFY(bar->sizeText().isEmpty());
        QVERIFY(!bar->reclaimButton()->isEnabled() && !w.window->actions().rescan->isEnabled());
        QCOMPARE(sheet.emptyExplanation(),
                 QString("Scan is still running — categories will show up here when it finishes."));
        release.set_value();
        QTRY_VERIFY_WITH_TIMEOUT(w.idle(), 60'000);
        overview->refresh();
        QVERIFY(!overview->isHoldOnShown() && overview->isEmptyStateShown() &&
                !overview->isTrashBannerShown());
        QCOMPARE(overview->caption(), QString("reclaimable"));
        QCOMPARE(overview->bigFigure(), QString("—"));
        QCOMPARE(bar->statusText(), QString("0 selected"));
        QCOMPARE(sheet.emptyExplanation(),
                 QString("The last scan found nothing Kestrune can move to Trash."));

        w.window->resize(900, 600);
        w.window->splitter()->setSizes({300, 600});
        const QList<int> sizes = w.window->splitter()->sizes();
        QVERIFY(w.window->close());
        MainWindow again({w.scan, w.treemap, w.activity, w.uninstall}, w.settings, [] { return true; });
        QCOMPARE(again.size(), QSize(900, 600));
        again.show();
        QCOMPARE(again.splitter()->sizes(), sizes);
        again.hide();

        const QString file = QString::fromStdString(w.home / "old.ini");
        QSettings(file, QSettings::IniFormat).setValue("window/geometry", QByteArray("an older frame"));
        AppSettings old(file);
        old.migrateDefaultWindowSizeIfNeeded();
        QVERIFY(old.windowGeometry().isEmpty() && old.didResetWindowFrame());
        old.setWindowGeometry("kept");
        old.migrateDefaultWindowSizeIfNeeded();
        QCOMPARE(old.windowGeometry(), QByteArray("kept"));
    }
};

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
