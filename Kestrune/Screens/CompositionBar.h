// One horizontal bar split by category, largest first, with a legend of the three colour classes.
#pragma once

#include "Kestrune/Screens/ChartPalette.h"

#include <QWidget>

#include <optional>
#include <vector>

class CompositionBar : public QWidget {
    Q_OBJECT

public:
    struct Segment {
        std::optional<CategoryKind> kind; // none: the rest after the six largest
        std::int64_t bytes = 0;
    };
    // The six largest categories in order, and one segment for the sum of the rest when there are more.
    [[nodiscard]] static std::vector<Segment> segments(std::vector<ChartEntry> entries);

    explicit CompositionBar(QWidget* parent = nullptr);
    void setEntries(std::vector<ChartEntry> entries);
    [[nodiscard]] const std::vector<Segment>& shownSegments() const { return shown; }

    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    [[nodiscard]] QRect barRect() const;
    [[nodiscard]] std::vector<QRectF> segmentRects() const;

    std::vector<Segment> shown;
    std::int64_t total = 0;
};
