// One category of the last scan: what it is and "Select all", or for the two categories whose space a
// tool owns, the command and a runner; then the list of its items.
#pragma once

#include "Kestrune/Screens/Engines.h"
#include "KestruneCore/Model/CategoryKind.h"

#include <QWidget>

#include <optional>

class AppActions;
class CategoryItemModel;
class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeView;

class CategoryPane : public QWidget {
    Q_OBJECT

public:
    CategoryPane(Engines engines, AppActions& actions, QWidget* parent = nullptr);

    void setCategory(CategoryKind kind);
    [[nodiscard]] std::optional<CategoryKind> category() const { return kind; }

    [[nodiscard]] CategoryItemModel& itemModel() const { return *model; }
    [[nodiscard]] QTreeView* list() const { return view; }
    [[nodiscard]] QCheckBox* selectAllBox() const { return selectAll; }
    [[nodiscard]] QPushButton* runButton() const { return run; }
    [[nodiscard]] QPushButton* confirmRunButton() const { return confirmRun; }
    [[nodiscard]] QPushButton* copyCommandButton() const { return copyCommand; }
    [[nodiscard]] QString toolOutcome() const;
    [[nodiscard]] QString noteText() const; // "" when no note is shown
    [[nodiscard]] bool isToolOutcomeProblem() const { return outcomeIsProblem; }
    [[nodiscard]] bool isRunningTool() const { return runningTool; }

    // Whether an outcome sentence reports a problem: it mentions a failure, a negation or a missing tool.
    [[nodiscard]] static bool isProblem(const QString& outcome);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void refreshHeader();
    void refreshSelectAll();
    void runTool();
    [[nodiscard]] QString currentPath() const;

    Engines engines;
    std::optional<CategoryKind> kind;
    CategoryItemModel* model;
    QTreeView* view;
    // Header of a category whose items are reclaimed.
    QWidget* header;
    QLabel* icon;
    QLabel* title;
    QLabel* blurb;
    QLabel* size;
    QCheckBox* selectAll;
    QLabel* note;
    // Panel of a category whose space a tool owns.
    QWidget* advisory;
    QLabel* advisoryTitle;
    QLabel* command;
    QPushButton* copyCommand;
    QPushButton* run;
    QWidget* confirmRow;
    QPushButton* confirmRun;
    QPushButton* cancelRun;
    QProgressBar* busy;
    QLabel* outcome;
    bool outcomeIsProblem = false;
    bool runningTool = false;
};
