// The three-step confirmation before anything is removed: choose categories, read what will happen,
// confirm. It edits the scan engine's selection directly; "Reclaim" and "Discard" only signal.
#pragma once

#include "Kestrune/Screens/Engines.h"

#include <QWidget>

class QLabel;
class QListView;
class QPushButton;
class QStackedWidget;
class ReclaimCategoryModel;

class ReclaimSheet : public QWidget {
    Q_OBJECT

public:
    ReclaimSheet(Engines engines, QWidget* parent = nullptr);

    [[nodiscard]] int step() const { return current; }
    void setStep(int step);
    [[nodiscard]] QString caption() const;
    [[nodiscard]] QStringList cardTitles() const;   // the cards of the review step that are shown
    [[nodiscard]] QString emptyExplanation() const; // "" while categories are listed
    [[nodiscard]] QString selectionCount() const;
    [[nodiscard]] QString finalSummary() const;
    [[nodiscard]] QString finalSentence() const;
    // The final step's list of what the reclaim keeps back and why ("" when it keeps nothing back).
    [[nodiscard]] QString keptBackText() const;
    [[nodiscard]] ReclaimCategoryModel& categoryModel() const { return *model; }
    [[nodiscard]] QListView* categoryList() const { return list; }
    [[nodiscard]] QPushButton* nextButton() const { return next; }
    [[nodiscard]] QPushButton* backButton() const { return back; }
    [[nodiscard]] QPushButton* reclaimButton() const { return reclaim; }
    [[nodiscard]] QPushButton* discardButton() const { return discard; }
    [[nodiscard]] QPushButton* recommendedButton() const { return recommended; }
    [[nodiscard]] QPushButton* selectAllButton() const { return selectAll; }
    [[nodiscard]] QPushButton* deselectAllButton() const { return deselectAll; }

    [[nodiscard]] QSize sizeHint() const override { return {640, 560}; }

signals:
    void proceed();
    void discarded();

private:
    struct Kinds {
        bool evict = false;
        bool trash = false;
    };
    [[nodiscard]] Kinds selectionKinds() const;
    void refresh();

    Engines engines;
    int current = 0;
    ReclaimCategoryModel* model;
    QLabel* indicator;
    QLabel* captionLabel;
    QStackedWidget* pages;
    // Step 0.
    QLabel* count;
    QPushButton* recommended;
    QPushButton* selectAll;
    QPushButton* deselectAll;
    QListView* list;
    QWidget* emptyBox;
    QLabel* emptyText;
    // Step 1.
    QWidget* cards[4];
    // Step 2.
    QLabel* readySize;
    QLabel* summary;
    QLabel* secondStep;
    QLabel* freeNow;
    QLabel* freeAfter;
    QLabel* gain;
    QWidget* forecastBar;
    QLabel* freeShare;
    QLabel* keptBackNote;
    std::int64_t reclaimBytes = 0; // the selection less what the plan keeps back
    // Footer.
    QPushButton* discard;
    QPushButton* back;
    QPushButton* next;
    QPushButton* reclaim;
};
