// The Applications pane: the installed applications with search and sort on the left; on the right an
// overview with totals and three short lists, or the picked application's support files with Reset and
// Uninstall and their confirmations. Keeps presentation state only; every change goes through the
// uninstall engine. GUI thread only.
#pragma once

#include "Kestrune/Screens/Engines.h"
#include "KestruneCore/Apps/InstalledApp.h"

#include <QWidget>

class AppListModel;
class QComboBox;
class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QStackedWidget;
class QToolButton;
class QTreeView;
class QVBoxLayout;
class SheetOverlay;
class SupportFileModel;

class UninstallerPane : public QWidget {
    Q_OBJECT

public:
    UninstallerPane(Engines engines, QWidget* parent = nullptr);

    [[nodiscard]] AppListModel& listModel() const { return *apps; }
    [[nodiscard]] SheetOverlay* overlay() const { return sheets; }

    // Asks to uninstall or reset the selected application: shows the confirmation.
    void requestUninstall();
    void requestReset();

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void updateOverview();
    void updateDetail();
    void updateButtons();
    void updateCount();
    void fillCard(QVBoxLayout* body, const std::vector<InstalledApp>& list, std::size_t shown,
                  const QString& emptyText);
    void pick(const QModelIndex& index);

    Engines engines;
    AppListModel* apps;
    SupportFileModel* files;
    SheetOverlay* sheets;

    QLineEdit* search;
    QLabel* count;
    QComboBox* sort;
    QListView* list;
    QStackedWidget* sides;

    // Overview.
    QLabel* overviewLine;
    QLabel* neverCount;
    QLabel* staleCount;
    QVBoxLayout* neverBody;
    QVBoxLayout* staleBody;
    QVBoxLayout* largestBody;
    QPushButton* neverAll;
    QPushButton* staleAll;

    // Detail.
    QLabel* icon;
    QLabel* name;
    QLabel* path;
    QLabel* size;
    QToolButton* close;
    QLabel* running;
    QLabel* supportHeading;
    QWidget* emptyState;
    QLabel* searching;
    QTreeView* supportView;
    QLabel* lastRemoved;
    QLabel* errors;
    QWidget* commandRow;
    QLineEdit* command;
    QPushButton* reset;
    QPushButton* uninstall;
};
