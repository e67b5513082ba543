// Every command of the window as one typed action, shared by the menus, the action bar, the tray
// menu and the context menus. GUI thread only.
#pragma once

#include "Kestrune/Screens/Engines.h"

#include <QObject>

class QAction;

class AppActions : public QObject {
    Q_OBJECT

public:
    AppActions(Engines engines, QObject* parent);

    QAction* rescan;
    QAction* refreshDiskMap;
    QAction* reclaim;
    QAction* quit;
    // The current item of the category list.
    QAction* revealItem;
    QAction* openItem;
    QAction* copyPath;
    // The focused tile of the disk map.
    QAction* drillIn;

    // Sets what is enabled from the engines' state; connected to every signal that can change it.
    void updateActions();

    // True when some category other than simulators and Docker has an item.
    [[nodiscard]] bool hasReclaimableCategories() const;

private:
    Engines engines;
};
