// The bar under the overview and category panes: scan progress or the selection's count and size,
// Rescan, and the prominent Reclaim button.
#pragma once

#include "Kestrune/Screens/Engines.h"

#include <QWidget>

#include <cstdint>

class AppActions;
class QLabel;
class QProgressBar;
class QToolButton;
class QVariantAnimation;

class ActionBar : public QWidget {
    Q_OBJECT

public:
    ActionBar(Engines engines, AppActions& actions, QWidget* parent = nullptr);

    [[nodiscard]] QString statusText() const;
    [[nodiscard]] QString sizeText() const;
    [[nodiscard]] QToolButton* rescanButton() const { return rescan; }
    [[nodiscard]] QToolButton* reclaimButton() const { return reclaim; }

protected:
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();
    void restyle();

    Engines engines;
    QProgressBar* progress;
    QLabel* status;
    QLabel* size;
    QToolButton* rescan;
    QToolButton* reclaim;
    // Counts the size from the figure shown to the new one when the selection changes.
    QVariantAnimation* sizeAnimation;
    std::int64_t shownBytes = 0;
};
