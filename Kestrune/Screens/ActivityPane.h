// The "History" pane: the audit log's events newest first, each expandable to the paths it touched,
// the lifetime total, and the support report's three actions. GUI thread only.
#pragma once

// Qt first: moc cannot parse <compare> (pulled in by Uuid) before Qt has set up its view of the
// standard headers.
#include <QWidget>

#include "Kestrune/Screens/Engines.h"
#include "KestruneCore/Model/Uuid.h"

#include <set>

class ActivityModel;
class QFileDialog;
class QLabel;
class QPushButton;
class QStackedWidget;
class QTreeView;

class ActivityPane : public QWidget {
    Q_OBJECT

public:
    explicit ActivityPane(Engines engines, QWidget* parent = nullptr);

    [[nodiscard]] ActivityModel& eventModel() const { return *model; }
    [[nodiscard]] QTreeView* list() const { return view; }
    [[nodiscard]] QPushButton* copyButton() const { return copy; }
    [[nodiscard]] QPushButton* exportButton() const { return exportReport; }
    [[nodiscard]] QPushButton* clearButton() const { return clear; }
    [[nodiscard]] QString totalText() const; // "" when hidden
    [[nodiscard]] bool isEmptyStateShown() const;
    [[nodiscard]] QString exportProblem() const; // "" when the last export was written
    // The save dialog of a running export, if one is open.
    [[nodiscard]] QFileDialog* saveDialog() const;
    // The "Show N paths" line of an event row, in the list's viewport; empty for an event without paths.
    [[nodiscard]] QRect toggleRect(const QModelIndex& event) const;
    [[nodiscard]] QString toggleText(const QModelIndex& event) const;
    [[nodiscard]] bool isExpanded(const Uuid& id) const { return expanded.contains(id); }
    void toggle(const QModelIndex& event);

signals:
    // "Clear…" was clicked: the window asks before anything is cleared.
    void clearRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void refresh();
    void startExport();
    void reapplyExpansion();

    Engines engines;
    ActivityModel* model;
    QTreeView* view;
    QStackedWidget* body;
    QWidget* empty;
    QLabel* icon;
    QLabel* total;
    QLabel* problem;
    QPushButton* copy;
    QPushButton* exportReport;
    QPushButton* clear;
    std::set<Uuid> expanded;
    bool copied = false;
};
