// One proportional bar per category, largest first; a click, Return or Space on a row picks it.
#pragma once

#include "Kestrune/Screens/ChartPalette.h"

#include <QWidget>

#include <vector>

class CategoryBars : public QWidget {
    Q_OBJECT

public:
    explicit CategoryBars(QWidget* parent = nullptr);
    void setEntries(std::vector<ChartEntry> entries);
    [[nodiscard]] const std::vector<ChartEntry>& rows() const { return entries; }
    // The rectangle of a row, for tests that click it.
    [[nodiscard]] QRect rowRect(int row) const;
    // The text of a row's selected figure: "" when nothing of it is selected.
    [[nodiscard]] QString selectedText(int row) const;

    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] bool hasHeightForWidth() const override { return false; }

signals:
    void picked(CategoryKind kind);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    [[nodiscard]] int rowAt(const QPoint& point) const;
    [[nodiscard]] int rowHeight() const;

    std::vector<ChartEntry> entries;
    int hovered = -1;
    int current = 0;
};
