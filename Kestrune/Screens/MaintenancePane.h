// The maintenance pane: the housekeeping tasks, the package updates and the login and background
// items, one section under the other. Tasks run off the GUI thread with a busy indicator; a broken item
// of the user's own is moved to the Trash after an inline confirmation. GUI thread only.
#pragma once

#include <QWidget>

#include <map>
#include <string>

class LoginItemModel;
class MaintenanceEngine;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeView;
class QVBoxLayout;
class UpdateModel;

class MaintenancePane : public QWidget {
    Q_OBJECT

public:
    explicit MaintenancePane(MaintenanceEngine& engine, QWidget* parent = nullptr);

    // What the tests and the screenshots look at.
    [[nodiscard]] QPushButton* taskButton(const std::string& id) const;
    [[nodiscard]] QProgressBar* taskBusy(const std::string& id) const;
    [[nodiscard]] QLabel* taskOutcome(const std::string& id) const;
    [[nodiscard]] QLabel* updatesStatus() const { return updatesText; }
    [[nodiscard]] QTreeView* updatesView() const { return updateList; }
    [[nodiscard]] QWidget* upgradeButtons() const { return upgradeRow; }
    [[nodiscard]] QLabel* brokenSummary() const { return broken; }
    [[nodiscard]] QTreeView* itemsView() const { return itemList; }
    [[nodiscard]] QPushButton* revealButton() const { return reveal; }
    [[nodiscard]] QPushButton* removeButton() const { return remove; }
    [[nodiscard]] QWidget* removeConfirmation() const { return confirmation; }
    [[nodiscard]] QPushButton* confirmRemoveButton() const { return confirmRemove; }
    [[nodiscard]] QLabel* removalError() const { return removeError; }

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct TaskRow {
        QPushButton* button = nullptr;
        QProgressBar* busy = nullptr;
        QWidget* outcomeRow = nullptr;
        QLabel* icon = nullptr;
        QLabel* outcome = nullptr;
    };

    void buildTasks();
    void refreshTasks();
    void refreshUpdates();
    void refreshItems();
    void askRemove();
    [[nodiscard]] std::string selectedPath() const;

    MaintenanceEngine& engine;
    QWidget* tasksBox;
    QVBoxLayout* tasksLayout;
    std::map<std::string, TaskRow> rows;
    UpdateModel* updates;
    LoginItemModel* items;
    QLabel* updatesText;
    QTreeView* updateList;
    QWidget* upgradeRow;
    QLabel* broken;
    QTreeView* itemList;
    QPushButton* reveal;
    QPushButton* remove;
    QWidget* confirmation;
    QLabel* confirmText;
    QPushButton* confirmRemove;
    QLabel* removeError;
    std::string pendingRemoval;
};
