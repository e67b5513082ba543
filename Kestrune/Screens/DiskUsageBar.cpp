#include "Kestrune/Screens/DiskUsageBar.h"

#include "Kestrune/Screens/ChartPalette.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace {

constexpr int barHeight = 12;
constexpr int gap = 8;

} // namespace

DiskUsageBar::DiskUsageBar(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void DiskUsageBar::setFigures(std::int64_t t, std::int64_t f, std::int64_t r) {
    total = t;
    free = f;
    reclaimable = r;
    update();
}

QSize DiskUsageBar::sizeHint() const {
    return {300, barHeight + gap + fontMetrics().height()};
}

QString DiskUsageBar::reclaimableLegend() const {
    const double share = double(reclaimable) / double(total > 0 ? total : 1);
    return tr("Reclaimable (%1 of disk)").arg(QString::asprintf("%.0f%%", share * 100));
}

void DiskUsageBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double whole = double(total > 0 ? total : 1);
    const double used = std::clamp(double(total - free) / whole, 0.0, 1.0);
    const double found = std::clamp(double(reclaimable) / whole, 0.0, used);
    const QRectF bar(0, 0, width(), barHeight);
    QPainterPath clip;
    clip.addRoundedRect(bar, 4, 4);
    painter.setClipPath(clip);
    painter.fillRect(bar, ChartPalette::track(palette()));
    QColor usedColour = palette().color(QPalette::WindowText);
    usedColour.setAlphaF(0.45f);
    painter.fillRect(QRectF(0, 0, bar.width() * (used - found), barHeight), usedColour);
    painter.fillRect(QRectF(bar.width() * (used - found), 0, bar.width() * found, barHeight),
                     ChartPalette::safe());
    painter.setClipping(false);

    const struct {
        QString text;
        QColor colour;
    } keys[] = {{tr("Used"), usedColour},
                {reclaimableLegend(), ChartPalette::safe()},
                {tr("Free"), ChartPalette::track(palette())}};
    int x = 0;
    const int y = barHeight + gap;
    const int h = fontMetrics().height();
    for (const auto& key : keys) {
        painter.setPen(key.colour == ChartPalette::track(palette()) ? ChartPalette::secondaryText(palette())
                                                                    : Qt::NoPen);
        painter.setBrush(key.colour);
        painter.drawEllipse(QRectF(x + 0.5, y + (h - 8) / 2.0, 8, 8));
        x += 13;
        painter.setPen(ChartPalette::secondaryText(palette()));
        painter.drawText(QRect(x, y, width() - x, h), Qt::AlignLeft | Qt::AlignVCenter, key.text);
        x += fontMetrics().horizontalAdvance(key.text) + 16;
    }
}
