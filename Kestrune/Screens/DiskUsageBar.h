// The disk as one bar: used, the part of it the scan found reclaimable, and free, with a legend.
#pragma once

#include <QWidget>

#include <cstdint>

class DiskUsageBar : public QWidget {
    Q_OBJECT

public:
    explicit DiskUsageBar(QWidget* parent = nullptr);
    void setFigures(std::int64_t total, std::int64_t free, std::int64_t reclaimable);
    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] QString reclaimableLegend() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::int64_t total = 0;
    std::int64_t free = 0;
    std::int64_t reclaimable = 0;
};
