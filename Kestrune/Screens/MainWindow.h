// The one main window: the permission gate or the sidebar with its panes, the action bar, the menu
// commands and the sheets. It routes between panes; the panes do the rest. GUI thread only.
#pragma once

#include "Kestrune/Screens/Engines.h"
#include "Kestrune/Screens/Pane.h"

#include <QMainWindow>

#include <functional>

class ActionBar;
class ActivityPane;
class AppActions;
class AppSettings;
class CategoryPane;
class DiskMapPane;
class MaintenanceEngine;
class MaintenancePane;
class OverviewPane;
class PermissionGate;
class QSplitter;
class QStackedWidget;
class SheetOverlay;
class SidebarModel;
class SidebarView;
class StatusMenu;

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    // `hasAccess` answers whether the program may read the user's protected folders.
    MainWindow(Engines engines, AppSettings& settings, std::function<bool()> hasAccess,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    void setPane(const Pane& pane);
    [[nodiscard]] const Pane& pane() const { return current; }
    // What the detail column really shows: the overview stands in for a category the scan no longer has.
    [[nodiscard]] QWidget* shownPane() const;

    void requestReclaim();
    void requestEmptyTrash();
    // Asks before the audit log is cleared.
    void requestClearHistory();

    [[nodiscard]] AppActions& actions() const { return *appActions; }
    [[nodiscard]] OverviewPane* overview() const { return overviewPane; }
    [[nodiscard]] CategoryPane* category() const { return categoryPane; }
    [[nodiscard]] DiskMapPane* diskMap() const { return diskMapPane; }
    [[nodiscard]] ActivityPane* history() const { return historyPane; }
    [[nodiscard]] MaintenancePane* maintenance() const { return maintenancePane; }
    [[nodiscard]] MaintenanceEngine& maintenanceTasks() const { return *maintenanceEngine; }
    [[nodiscard]] ActionBar* actionBar() const { return bar; }
    [[nodiscard]] SidebarView* sidebar() const { return sidebarView; }
    [[nodiscard]] SidebarModel& sidebarModel() const { return *sidebarItems; }
    [[nodiscard]] SheetOverlay* overlay() const { return sheets; }
    [[nodiscard]] PermissionGate* gate() const { return permissionGate; }
    [[nodiscard]] StatusMenu* statusMenu() const { return tray; }
    [[nodiscard]] QSplitter* splitter() const { return split; }
    [[nodiscard]] bool isReclaiming() const { return reclaiming; }

signals:
    // A reclaim started from the confirmation has ended, its rescan included.
    void reclaimFinished();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void route();
    void enterMainInterface();
    void startWork();

    Engines engines;
    AppSettings& settings;
    AppActions* appActions;
    QStackedWidget* root;
    PermissionGate* permissionGate;
    QWidget* mainInterface;
    QSplitter* split;
    SidebarModel* sidebarItems;
    SidebarView* sidebarView;
    QStackedWidget* panes;
    OverviewPane* overviewPane;
    CategoryPane* categoryPane;
    DiskMapPane* diskMapPane;
    ActivityPane* historyPane;
    QWidget* uninstallerPane;
    MaintenanceEngine* maintenanceEngine;
    MaintenancePane* maintenancePane;
    ActionBar* bar;
    SheetOverlay* sheets;
    StatusMenu* tray = nullptr;
    Pane current;
    bool hasAccess;
    bool started = false;
    bool reclaiming = false;
    bool closeConfirmed = false;
};
