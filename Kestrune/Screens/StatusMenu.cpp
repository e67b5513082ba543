#include "Kestrune/Screens/StatusMenu.h"

#include "Kestrune/Engines/ScanEngine.h"
#include "Kestrune/Screens/AppActions.h"
#include "Kestrune/Screens/Icons.h"
#include "KestruneCore/Model/DiskMath.h"

#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>

StatusMenu* StatusMenu::createIfAvailable(Engines engines, AppActions& actions, QWidget* window) {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        return nullptr;
    }
    return new StatusMenu(engines, actions, window);
}

StatusMenu::StatusMenu(Engines e, AppActions& actions, QWidget* window) : QObject(window), engines(e) {
    items = new QMenu(window);
    reclaimable = items->addAction(QString());
    reclaimable->setEnabled(false);
    free = items->addAction(QString());
    free->setEnabled(false);
    items->addSeparator();
    items->addAction(actions.rescan);
    items->addSeparator();
    items->addAction(actions.quit);
    icon = new QSystemTrayIcon(Icons::application(), this);
    icon->setToolTip(QStringLiteral("Kestrune"));
    icon->setContextMenu(items);
    connect(icon, &QSystemTrayIcon::activated, window, [window](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) {
            window->showNormal();
            window->raise();
            window->activateWindow();
        }
    });
    connect(&engines.scan, &ScanEngine::resultsChanged, this, &StatusMenu::refresh);
    connect(&engines.scan, &ScanEngine::freeSpaceChanged, this, &StatusMenu::refresh);
    refresh();
    icon->show();
}

void StatusMenu::refresh() {
    reclaimable->setText(tr("Reclaimable: ") +
                         QString::fromStdString(DiskMath::human(engines.scan.totalFound())));
    free->setText(tr("Free: ") + QString::fromStdString(DiskMath::human(engines.scan.freeSpace())));
}
