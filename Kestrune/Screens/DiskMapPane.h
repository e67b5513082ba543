// The "Disk Map" pane: size and scope of the folder on screen, the build's progress with Stop, the
// breadcrumb, the legend, and the treemap or an empty state. GUI thread only.
#pragma once

#include "Kestrune/Screens/Engines.h"

#include <QWidget>

#include <memory>

class AppActions;
class QButtonGroup;
class QHBoxLayout;
class QLabel;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QToolButton;
class ReclaimIndex;
class TreemapEngine;
class TreemapView;

class DiskMapPane : public QWidget {
    Q_OBJECT

public:
    DiskMapPane(Engines engines, AppActions& actions, QWidget* parent = nullptr);

    // The text under a running build: "2 of 3 · Home · Projects · 1,234 folders · 3.4 GB".
    [[nodiscard]] static QString statusText(const TreemapEngine& engine);
    // The empty state's title while a build runs.
    [[nodiscard]] static QString emptyTitle(const TreemapEngine& engine);

    [[nodiscard]] TreemapView* map() const { return view; }
    [[nodiscard]] bool isMapShown() const;
    [[nodiscard]] QString emptyTitleText() const;
    [[nodiscard]] QString emptyDescriptionText() const;
    [[nodiscard]] QString emptyStatusText() const; // "" when hidden
    [[nodiscard]] QString buildStatus() const;     // the header's status line, "" when hidden
    [[nodiscard]] QString sizeText() const;
    [[nodiscard]] QStringList breadcrumb() const;
    [[nodiscard]] QToolButton* crumb(int index) const;
    [[nodiscard]] QToolButton* upButton() const { return up; }
    [[nodiscard]] QPushButton* stopButton() const { return stop; }
    [[nodiscard]] QPushButton* refreshButton() const { return refresh; }
    [[nodiscard]] QPushButton* emptyRefreshButton() const { return emptyRefresh; }
    [[nodiscard]] QToolButton* scopeButton(int index) const;
    [[nodiscard]] bool isScanNoteShown() const;

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refreshAll();
    void refreshHeader();
    void refreshTrail();
    void refreshFlags();
    void showMenu(const QPoint& globalPos);
    void reveal(const QString& path);

    Engines engines;
    AppActions& actions;
    std::shared_ptr<const ReclaimIndex> flags;
    bool flagsStale = true;
    bool stoppedByUser = false;

    QLabel* size;
    QButtonGroup* scopes;
    QWidget* scopeBar;
    QPushButton* refresh;
    QToolButton* up;
    QWidget* crumbs;
    QHBoxLayout* crumbLayout;
    QProgressBar* progress;
    QLabel* status;
    QString statusLine; // the whole text; the label shows what fits
    QPushButton* stop;
    QLabel* scanNote;
    QLabel* trackKey;
    QStackedWidget* content;
    TreemapView* view;
    QWidget* empty;
    QLabel* emptyIcon;
    QLabel* emptyTitleLabel;
    QLabel* emptyDescription;
    QLabel* emptyStatus;
    QPushButton* emptyRefresh;
};
