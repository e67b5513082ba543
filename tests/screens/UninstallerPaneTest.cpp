// The Applications pane driven as a user would: search, the orders by size and by name, the overview's
// short lists, the buttons a running app disables, and an unticked support file left after an uninstall.
#include "Kestrune/Screens/UninstallerPane.h"
#include "Kestrune/Screens/AppListModel.h"
#include "tests/AppsFixture.h"
#include "tests/screens/ScreenHarness.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListView>
#include <QToolButton>
#include <QTreeView>

#include <fstream>

namespace {

// The Applications pane in the real window, over apps of several sizes; Café has two settings folders.
struct Fixture {
    Fixture() {
        const struct {
            const char* file;
            const char* name;
            std::int64_t extra;
        } apps[] = {
            {"Zeta", "Zeta", 3'000'000}, {"cafe", "Caf\u00E9", 1'000'000}, {"alpha", "alpha", 2'000'000}};
        for (const auto& a : apps) {
            const std::string path =
                AppsFixture::makeAppImage(home / (std::string("Applications/") + a.file + ".AppImage"));
            // A bigger AppImage: the program with a payload after it, as real ones carry their file system.
            std::ofstream(path, std::ios::app) << std::string(std::size_t(a.extra), 'x');
            AppsFixture::desktopEntry(home, std::string(a.file) + ".desktop", a.name, path);
        }
        TestTree::makeFile(home / ".config/Cafe/settings", 400'000);
        TestTree::makeFile(home / ".cache/caf\u00E9/blob", 900'000);
    }

    template <typename T> T* find(const char* name) const {
        return w.window->findChild<T*>(QString::fromLatin1(name));
    }
    [[nodiscard]] QStringList rows() const { return ScreenTest::texts(find<QListView>("appList")->model()); }
    [[nodiscard]] SheetOverlay* overlay() const { return w.window->findChild<UninstallerPane*>()->overlay(); }
    bool shown() {
        if (!w.start()) {
            return false;
        }
        w.window->setPane(Pane{Pane::Kind::uninstaller, {}});
        return QTest::qWaitFor([this] { return !uninstall.isLoading() && !uninstall.apps().empty(); },
                               20'000);
    }
    bool pick(const QString& name) {
        auto* list = find<QListView>("appList");
        const int row = rows().indexOf(name);
        if (row < 0) {
            return false;
        }
        const QRect rect = list->visualRect(list->model()->index(row, 0));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
        return QTest::qWaitFor([this] { return uninstall.selectedApp() && !uninstall.isSearching(); },
                               20'000);
    }

    ScreenTest::Window w{ScannerList{}};
    const TestTree::TemporaryHome& home = w.home;
    UninstallEngine& uninstall = w.uninstall;
};

} // namespace

class UninstallerPaneTest : public QObject {
    Q_OBJECT

private slots:
    void searchAndSortOrderTheListAndTheButtonsFollowTheState() {
        Fixture f;
        QVERIFY(f.shown());
        ScreenTest::checkModel(f.find<QListView>("appList")->model());
        QCOMPARE(f.rows(), (QStringList{"Zeta", "alpha", "Caf\u00E9"}));
        auto* search = f.find<QLineEdit>("appSearch");
        QTest::keyClicks(search, QStringLiteral("CAFE"));
        QCOMPARE(f.rows(), QStringList{"Caf\u00E9"});
        QCOMPARE(f.find<QLabel>("appCount")->text(), QStringLiteral("1 app"));
        search->clear();
        auto* sort = f.find<QComboBox>("appSort");
        sort->setCurrentIndex(sort->findText(QStringLiteral("Name")));
        QCOMPARE(f.rows(), (QStringList{"alpha", "Caf\u00E9", "Zeta"}));
        sort->setCurrentIndex(sort->findText(QStringLiteral("Largest")));
        QCOMPARE(f.rows().first(), QStringLiteral("Zeta"));
        // The overview: every app is unknown to the desktop's record, so both short lists are empty.
        QVERIFY(f.find<QLabel>("appsOverviewLine")
                    ->text()
                    .startsWith(QStringLiteral("3 removable apps \u00B7 ")));
        QVERIFY(!f.find<QPushButton>("neverOpenedCardShowAll")->isVisible());

        // The buttons follow the state (a running app, nothing ticked), Close returns to the overview;
        // picking shows the support files, and an unticked one stays after the confirmed uninstall.
        QVERIFY(f.pick(QStringLiteral("Caf\u00E9")));
        auto* uninstall = f.find<QPushButton>("uninstallApp");
        auto* reset = f.find<QPushButton>("resetApp");
        QVERIFY(reset->isEnabled());
        for (const auto& file : f.uninstall.leftovers()) {
            f.uninstall.toggle(file.item);
        }
        QVERIFY(!reset->isEnabled() && uninstall->isEnabled());
        f.uninstall.toggle(f.uninstall.leftovers().front().item);
        // Reset asks first, and Cancel changes nothing.
        QTest::mouseClick(reset, Qt::LeftButton);
        auto* sheet = qobject_cast<ConfirmSheet*>(f.overlay()->sheet());
        QVERIFY(sheet);
        QTest::mouseClick(sheet->cancelButton(), Qt::LeftButton);
        QVERIFY(!f.overlay()->isPresenting());
        QVERIFY(TestTree::exists(f.home / ".config/Cafe/settings"));
        {
            TestTree::RunningProgram running(f.home / "Applications", "cafe.AppImage");
            QVERIFY(running.started);
            QVERIFY(f.pick(QStringLiteral("alpha")));
            QVERIFY(f.pick(QStringLiteral("Caf\u00E9")));
            QVERIFY(!reset->isEnabled() && !uninstall->isEnabled());
            QCOMPARE(f.find<QLabel>("appRunning")->text(),
                     QStringLiteral("Caf\u00E9 is running. Quit it before removing."));
        }
        QTest::mouseClick(f.find<QToolButton>("closeDetail"), Qt::LeftButton);
        QVERIFY(!f.uninstall.selectedApp() && f.find<QWidget>("appsOverview")->isVisible());
        QVERIFY(f.pick(QStringLiteral("Caf\u00E9")));
        auto* view = f.find<QTreeView>("supportFiles");
        ScreenTest::checkModel(view->model());
        QCOMPARE(f.find<QLabel>("supportHeading")->text(), QStringLiteral("Support files (3)"));
        QCOMPARE(f.find<QLabel>("appPath")->text(), QStringLiteral("~/Applications/cafe.AppImage"));
        const int cacheRow = ScreenTest::texts(view->model()).indexOf(QRegularExpression("~/\\.cache/.*"));
        QVERIFY(cacheRow >= 0);
        view->setFocus();
        view->setCurrentIndex(view->model()->index(cacheRow, 0));
        QTest::keyClick(view, Qt::Key_Space);
        QCOMPARE(f.uninstall.selectedLeftovers().size(), std::size_t(2));

        const auto unticked = TestTree::snapshot(f.home / ".cache");
        QTest::mouseClick(uninstall, Qt::LeftButton);
        sheet = qobject_cast<ConfirmSheet*>(f.overlay()->sheet());
        QVERIFY(sheet);
        QCOMPARE(sheet->findChildren<QLabel*>().first()->text(), QStringLiteral("Remove Caf\u00E9?"));
        QTest::mouseClick(sheet->confirmButton(), Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&f] { return !f.uninstall.isRemoving() && !f.uninstall.selectedApp(); },
                                20'000));
        QCOMPARE(TestTree::snapshot(f.home / ".cache"), unticked);
        QCOMPARE(f.rows(), (QStringList{"Zeta", "alpha"}));
        QCOMPARE(f.find<QLabel>("appCount")->text(), QStringLiteral("2 apps"));
    }
};

QTEST_MAIN(UninstallerPaneTest)
#include "UninstallerPaneTest.moc"
