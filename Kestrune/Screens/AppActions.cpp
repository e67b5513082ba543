#include "Kestrune/Screens/AppActions.h"

#include "Kestrune/Engines/ScanEngine.h"
#include "Kestrune/Engines/TreemapEngine.h"
#include "Kestrune/Screens/Icons.h"

#include <QAction>
#include <QApplication>

AppActions::AppActions(Engines e, QObject* parent) : QObject(parent), engines(e) {
    const QPalette palette = QApplication::palette();
    rescan = new QAction(Icons::symbol("arrow.clockwise", palette), tr("Rescan"), this);
    rescan->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    rescan->setObjectName(QStringLiteral("rescanAction"));
    refreshDiskMap = new QAction(tr("Refresh Disk Map"), this);
    refreshDiskMap->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));
    refreshDiskMap->setObjectName(QStringLiteral("refreshDiskMapAction"));
    reclaim = new QAction(Icons::symbol("trash", palette), tr("Reclaim"), this);
    reclaim->setToolTip(tr("Move selected junk to Trash and free space"));
    reclaim->setAutoRepeat(false);
    reclaim->setObjectName(QStringLiteral("reclaimAction"));
    quit = new QAction(tr("Quit Kestrune"), this);
    quit->setShortcut(QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);
    revealItem = new QAction(Icons::symbol("magnifyingglass", palette), tr("Reveal in File Manager"), this);
    openItem = new QAction(tr("Open"), this);
    copyPath = new QAction(Icons::symbol("doc.on.clipboard", palette), tr("Copy Path"), this);
    drillIn = new QAction(tr("Drill in"), this);

    connect(&engines.scan, &ScanEngine::isScanningChanged, this, &AppActions::updateActions);
    connect(&engines.scan, &ScanEngine::resultsChanged, this, &AppActions::updateActions);
    connect(&engines.treemap, &TreemapEngine::isBuildingChanged, this, &AppActions::updateActions);
    // A scan started from a menu, the tray or a shortcut: the engine ignores a second request.
    connect(rescan, &QAction::triggered, this, [this] { (void)engines.scan.scan(); });
    connect(refreshDiskMap, &QAction::triggered, this, [this] { (void)engines.treemap.refreshAll(); });
    connect(quit, &QAction::triggered, this, [] { QApplication::closeAllWindows(); });
    updateActions();
}

bool AppActions::hasReclaimableCategories() const {
    for (const auto& r : engines.scan.results()) {
        if (r.kind != CategoryKind::simulators && r.kind != CategoryKind::docker && !r.items.empty()) {
            return true;
        }
    }
    return false;
}

void AppActions::updateActions() {
    const bool scanning = engines.scan.isScanning();
    rescan->setEnabled(!scanning);
    refreshDiskMap->setEnabled(!engines.treemap.isBuilding());
    reclaim->setEnabled(hasReclaimableCategories() && !scanning);
}
