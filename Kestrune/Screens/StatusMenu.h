// The small menu in the desktop's tray: what the scan found, free space, Rescan and Quit. Created only
// where a tray exists; the window never depends on it.
#pragma once

#include "Kestrune/Screens/Engines.h"

#include <QObject>

class AppActions;
class QAction;
class QMenu;
class QSystemTrayIcon;
class QWidget;

class StatusMenu : public QObject {
    Q_OBJECT

public:
    // Null where the desktop has no tray.
    [[nodiscard]] static StatusMenu* createIfAvailable(Engines engines, AppActions& actions, QWidget* window);

    [[nodiscard]] QMenu* menu() const { return items; }

private:
    StatusMenu(Engines engines, AppActions& actions, QWidget* window);
    void refresh();

    Engines engines;
    QMenu* items;
    QAction* reclaimable;
    QAction* free;
    QSystemTrayIcon* icon;
};
