// Start-up: the engines' first scan and the background disk-map build begin when the main interface
// first comes up with access granted, not before (the gate may be shown first).
#include "Kestrune/Screens/MainWindow.h"

#include "Kestrune/Engines/ActivityEngine.h"
#include "Kestrune/Engines/Background.h"
#include "Kestrune/Engines/MaintenanceEngine.h"
#include "Kestrune/Engines/ScanEngine.h"
#include "Kestrune/Engines/TreemapEngine.h"
#include "Kestrune/Screens/ActionBar.h"
#include "Kestrune/Screens/ActivityPane.h"
#include "Kestrune/Screens/AppActions.h"
#include "Kestrune/Screens/AppSettings.h"
#include "Kestrune/Screens/CategoryPane.h"
#include "Kestrune/Screens/ConfirmSheet.h"
#include "Kestrune/Screens/DiskMapPane.h"
#include "Kestrune/Screens/Icons.h"
#include "Kestrune/Screens/MaintenancePane.h"
#include "Kestrune/Screens/OverviewPane.h"
#include "Kestrune/Screens/PermissionGate.h"
#include "Kestrune/Screens/ReclaimSheet.h"
#include "Kestrune/Screens/SheetOverlay.h"
#include "Kestrune/Screens/SidebarModel.h"
#include "Kestrune/Screens/SidebarView.h"
#include "Kestrune/Screens/StatusMenu.h"
#include "Kestrune/Screens/UninstallerPane.h"
#include "KestruneCore/Model/DiskMath.h"

#include <QCloseEvent>
#include <QMenuBar>
#include <QPushButton>
#include <QSplitter>
#include <QStackedWidget>
#include <QVBoxLayout>

MainWindow::MainWindow(Engines e, AppSettings& s, std::function<bool()> check, QWidget* parent)
    : QMainWindow(parent), engines(e), settings(s), hasAccess(check()) {
    setWindowTitle(QStringLiteral("Kestrune"));
    setWindowIcon(Icons::application());
    setMinimumSize(760, 480);
    appActions = new AppActions(engines, this);
    Icons::preloadCategories(palette());

    auto* file = menuBar()->addMenu(tr("&File"));
    file->addAction(appActions->rescan);
    file->addAction(appActions->refreshDiskMap);
    file->addSeparator();
    file->addAction(appActions->reclaim);
    file->addSeparator();
    file->addAction(appActions->quit);

    root = new QStackedWidget(this);
    setCentralWidget(root);
    permissionGate = new PermissionGate(std::move(check), root);
    root->addWidget(permissionGate);

    mainInterface = new QWidget(root);
    auto* mainLayout = new QVBoxLayout(mainInterface);
    mainLayout->setContentsMargins(0, 0, 0, 0);
    split = new QSplitter(Qt::Horizontal, mainInterface);
    split->setChildrenCollapsible(false);
    sidebarItems = new SidebarModel(engines, this);
    sidebarView = new SidebarView(*sidebarItems, split);
    sidebarView->setMinimumWidth(190);
    sidebarView->setMaximumWidth(340);
    auto* detail = new QWidget(split);
    auto* detailLayout = new QVBoxLayout(detail);
    detailLayout->setContentsMargins(0, 0, 0, 0);
    detailLayout->setSpacing(0);
    panes = new QStackedWidget(detail);
    overviewPane = new OverviewPane(engines, *appActions, panes);
    categoryPane = new CategoryPane(engines, *appActions, panes);
    panes->addWidget(overviewPane);
    panes->addWidget(categoryPane);
    diskMapPane = new DiskMapPane(engines, *appActions, panes);
    historyPane = new ActivityPane(engines, panes);
    panes->addWidget(diskMapPane);
    panes->addWidget(historyPane);
    uninstallerPane = new UninstallerPane(engines, panes);
    panes->addWidget(uninstallerPane);
    maintenanceEngine = new MaintenanceEngine(this);
    maintenanceEngine->activity = &engines.activity;
    maintenancePane = new MaintenancePane(*maintenanceEngine, panes);
    panes->addWidget(maintenancePane);
    bar = new ActionBar(engines, *appActions, detail);
    detailLayout->addWidget(panes, 1);
    detailLayout->addWidget(bar);
    split->addWidget(sidebarView);
    split->addWidget(detail);
    split->setStretchFactor(1, 1);
    split->setSizes({240, 890});
    mainLayout->addWidget(split);
    root->addWidget(mainInterface);

    sheets = new SheetOverlay(root);

    connect(sidebarView, &SidebarView::paneSelected, this, &MainWindow::setPane);
    // The one-click Scan: the scan, then every task that runs itself, each recorded.
    connect(overviewPane, &OverviewPane::scanRequested, this, [this] {
        Background::after(engines.scan.scan(), maintenanceEngine,
                          [m = maintenanceEngine] { (void)m->runSelfRunning(); });
    });
    connect(overviewPane, &OverviewPane::categoryPicked, this,
            [this](CategoryKind kind) { setPane(Pane::of(kind)); });
    connect(overviewPane, &OverviewPane::emptyTrashRequested, this, &MainWindow::requestEmptyTrash);
    connect(appActions->reclaim, &QAction::triggered, this, &MainWindow::requestReclaim);
    connect(&engines.scan, &ScanEngine::resultsChanged, this, &MainWindow::route);
    connect(permissionGate, &PermissionGate::checked, this, [this](bool granted) {
        hasAccess = granted;
        if (granted) {
            enterMainInterface();
        }
    });
    connect(sheets, &SheetOverlay::dismissRequested, this, [this] { sheets->close(); });
    connect(historyPane, &ActivityPane::clearRequested, this, &MainWindow::requestClearHistory);

    tray = StatusMenu::createIfAvailable(engines, *appActions, this);

    settings.migrateDefaultWindowSizeIfNeeded();
    if (!restoreGeometry(settings.windowGeometry())) {
        resize(1130, 820);
    }
    split->restoreState(settings.splitterState());
    root->setCurrentWidget(hasAccess ? mainInterface : static_cast<QWidget*>(permissionGate));
    setPane(Pane{});
}

MainWindow::~MainWindow() = default;

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (hasAccess && !started) {
        startWork();
    }
}

void MainWindow::enterMainInterface() {
    root->setCurrentWidget(mainInterface);
    if (!started && isVisible()) {
        startWork();
    }
}

void MainWindow::startWork() {
    started = true;
    (void)engines.treemap.startBackgroundBuildIfNeeded();
    (void)engines.scan.scan();
}

void MainWindow::setPane(const Pane& pane) {
    current = pane;
    sidebarView->setPane(pane);
    route();
}

void MainWindow::route() {
    QWidget* show = overviewPane;
    switch (current.kind) {
    case Pane::Kind::category:
        if (engines.scan.result(current.category)) {
            if (categoryPane->category() != current.category) {
                categoryPane->setCategory(current.category);
            }
            show = categoryPane;
        }
        break;
    case Pane::Kind::overview:
        break;
    case Pane::Kind::treemap:
        show = diskMapPane;
        break;
    case Pane::Kind::uninstaller:
        show = uninstallerPane;
        break;
    case Pane::Kind::maintenance:
        show = maintenancePane;
        break;
    case Pane::Kind::history:
        show = historyPane;
        break;
    }
    panes->setCurrentWidget(show);
    bar->setVisible(show == overviewPane || show == categoryPane);
}

QWidget* MainWindow::shownPane() const {
    return panes->currentWidget();
}

void MainWindow::requestReclaim() {
    if (!appActions->reclaim->isEnabled()) {
        return;
    }
    auto* sheet = new ReclaimSheet(engines);
    connect(sheet, &ReclaimSheet::discarded, this, [this] { sheets->close(); });
    connect(sheet, &ReclaimSheet::proceed, this, [this] {
        sheets->close();
        reclaiming = true;
        Background::after(engines.scan.reclaimAndEmptyTrash(), this, [this] {
            reclaiming = false;
            emit reclaimFinished();
        });
    });
    sheets->present(sheet);
}

void MainWindow::requestEmptyTrash() {
    const QString size = QString::fromStdString(DiskMath::human(engines.scan.trashBytesLive()));
    auto* sheet =
        new ConfirmSheet(tr("Empty Trash and permanently delete %1?").arg(size),
                         tr("This cannot be undone. Files will be removed from disk, not kept in Trash."),
                         tr("Empty Trash"), tr("Cancel"));
    sheet->setObjectName(QStringLiteral("emptyTrashSheet"));
    connect(sheet, &ConfirmSheet::cancelled, this, [this] { sheets->close(); });
    connect(sheet, &ConfirmSheet::confirmed, this, [this] {
        sheets->close();
        if (!engines.scan.isScanning()) {
            (void)engines.scan.emptyTrash(ScanEngine::Rescan::yes);
        }
    });
    sheets->present(sheet);
}

void MainWindow::requestClearHistory() {
    auto* sheet = new ConfirmSheet(
        tr("Clear all activity history?"),
        tr("This only deletes Kestrune’s local audit log. It does not restore any files from the Trash."),
        tr("Clear History"), tr("Cancel"));
    sheet->setObjectName(QStringLiteral("clearHistorySheet"));
    QPalette destructive = sheet->confirmButton()->palette();
    destructive.setColor(QPalette::ButtonText, QColor(0xd7, 0x37, 0x2f));
    sheet->confirmButton()->setPalette(destructive);
    connect(sheet, &ConfirmSheet::cancelled, this, [this] { sheets->close(); });
    connect(sheet, &ConfirmSheet::confirmed, this, [this] {
        sheets->close();
        engines.activity.clear();
    });
    sheets->present(sheet);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (reclaiming && !closeConfirmed) {
        event->ignore();
        auto* sheet =
            new ConfirmSheet(tr("A reclaim is still running"),
                             tr("Quitting now stops Kestrune before it has finished moving and emptying. "
                                "Items already moved stay in the Trash."),
                             tr("Quit Anyway"), tr("Keep Running"));
        sheet->setObjectName(QStringLiteral("closeSheet"));
        connect(sheet, &ConfirmSheet::cancelled, this, [this] { sheets->close(); });
        connect(sheet, &ConfirmSheet::confirmed, this, [this] {
            sheets->close();
            closeConfirmed = true;
            close();
        });
        sheets->present(sheet);
        return;
    }
    settings.setWindowGeometry(saveGeometry());
    settings.setSplitterState(split->saveState());
    settings.sync();
    QMainWindow::closeEvent(event);
}
