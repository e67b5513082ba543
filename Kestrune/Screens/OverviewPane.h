// The first pane: how much the last scan found, the Trash, the last reclaim's failures, the disk, and
// where the reclaimable space lies. It changes nothing itself; its buttons ask the main window.
#pragma once

#include "Kestrune/Screens/Engines.h"
#include "KestruneCore/Model/CategoryKind.h"

#include <QWidget>

class AppActions;
class Card;
class CategoryBars;
class CompositionBar;
class DiskUsageBar;
class QBoxLayout;
class QLabel;
class QPushButton;
class QToolButton;

class OverviewPane : public QWidget {
    Q_OBJECT

public:
    OverviewPane(Engines engines, AppActions& actions, QWidget* parent = nullptr);

    // Brings every figure up to date now (normally done once per burst of engine signals).
    void refresh();

    // For tests and the screenshots: what the pane shows.
    [[nodiscard]] QString bigFigure() const;
    [[nodiscard]] QString caption() const;
    [[nodiscard]] QString scanningMessage() const; // "" when hidden
    [[nodiscard]] bool isHoldOnShown() const;
    [[nodiscard]] bool isTrashBannerShown() const;
    [[nodiscard]] QString movedLine() const; // "" when hidden
    [[nodiscard]] bool isEmptyStateShown() const;
    [[nodiscard]] QStringList errorLines() const; // empty when the card is hidden
    [[nodiscard]] QString errorsTitle() const;
    [[nodiscard]] QPushButton* scanButton() const { return scan; }
    [[nodiscard]] QPushButton* emptyTrashButton() const { return emptyTrash; }
    [[nodiscard]] CategoryBars* categoryBars() const { return bars; }
    [[nodiscard]] CompositionBar* compositionBar() const { return composition; }

signals:
    void scanRequested();
    void categoryPicked(CategoryKind kind);
    void reclaimRequested();
    void emptyTrashRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void schedule();
    void applyIcons();

    Engines engines;
    bool scheduled = false;
    QBoxLayout* heroLayout;
    QLabel* figure;
    QLabel* figureCaption;
    QLabel* scanning;
    QLabel* holdOn;
    QPushButton* scan;
    QToolButton* reclaim;
    Card* trashBanner;
    QLabel* trashIcon;
    QLabel* trashSize;
    QLabel* trashText;
    QPushButton* emptyTrash;
    QPushButton* openTrash;
    QWidget* moved;
    QLabel* movedIcon;
    QLabel* movedText;
    Card* emptyState;
    QLabel* emptyIcon;
    Card* errorsCard;
    QLabel* errorsIcon;
    QLabel* errorsHeading;
    QLabel* errorsText;
    QLabel* totalFigure;
    QLabel* freeFigure;
    QLabel* reclaimableFigure;
    DiskUsageBar* usage;
    QLabel* trashCaption;
    QLabel* categoriesSummary;
    CompositionBar* composition;
    CategoryBars* bars;
};
