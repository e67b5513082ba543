#include "Kestrune/Screens/CompositionBar.h"

#include "KestruneCore/Model/DiskMath.h"

#include <QHelpEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

#include <algorithm>

namespace {

constexpr int barHeight = 14;
constexpr int legendGap = 8;
constexpr std::size_t namedSegments = 6;

} // namespace

std::vector<CompositionBar::Segment> CompositionBar::segments(std::vector<ChartEntry> entries) {
    std::stable_sort(entries.begin(), entries.end(),
                     [](const ChartEntry& a, const ChartEntry& b) { return a.bytes > b.bytes; });
    std::vector<Segment> out;
    std::int64_t rest = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i < namedSegments) {
            out.push_back({entries[i].kind, entries[i].bytes});
        } else {
            rest += entries[i].bytes;
        }
    }
    if (entries.size() > namedSegments) {
        out.push_back({std::nullopt, rest});
    }
    return out;
}

CompositionBar::CompositionBar(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void CompositionBar::setEntries(std::vector<ChartEntry> entries) {
    shown = segments(std::move(entries));
    total = 0;
    for (const auto& s : shown) {
        total += s.bytes;
    }
    update();
}

QSize CompositionBar::sizeHint() const {
    return {360, barHeight + legendGap + fontMetrics().height()};
}

QSize CompositionBar::minimumSizeHint() const {
    return {120, sizeHint().height()};
}

QRect CompositionBar::barRect() const {
    return {0, 0, width(), barHeight};
}

std::vector<QRectF> CompositionBar::segmentRects() const {
    std::vector<QRectF> rects;
    const QRectF bar = barRect();
    double x = bar.left();
    for (const auto& s : shown) {
        const double w = total > 0 ? bar.width() * double(s.bytes) / double(total) : 0;
        rects.emplace_back(x, bar.top(), w, bar.height());
        x += w;
    }
    return rects;
}

void CompositionBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bar = barRect();
    QPainterPath clip;
    clip.addRoundedRect(bar, 4, 4);
    painter.setClipPath(clip);
    painter.fillRect(bar, ChartPalette::track(palette()));
    const auto rects = segmentRects();
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const QColor colour =
            shown[i].kind ? ChartPalette::of(*shown[i].kind, palette()) : ChartPalette::advisory(palette());
        QColor c = colour;
        // Neighbours of one colour class stay apart: every other segment a little lighter.
        if (i % 2 == 1) {
            c = c.lighter(118);
        }
        painter.fillRect(rects[i], c);
    }
    painter.setClipping(false);

    // Legend.
    const struct {
        QString text;
        QColor colour;
    } keys[] = {{tr("Safe to remove"), ChartPalette::safe()},
                {tr("Needs review"), ChartPalette::review()},
                {tr("Advisory"), ChartPalette::advisory(palette())}};
    int x = 0;
    const int y = barHeight + legendGap;
    const int h = fontMetrics().height();
    for (const auto& key : keys) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(key.colour);
        painter.drawEllipse(QRectF(x, y + (h - 8) / 2.0, 8, 8));
        x += 12;
        painter.setPen(ChartPalette::secondaryText(palette()));
        painter.drawText(QRect(x, y, width() - x, h), Qt::AlignLeft | Qt::AlignVCenter, key.text);
        x += fontMetrics().horizontalAdvance(key.text) + 16;
    }
}

bool CompositionBar::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const auto rects = segmentRects();
        for (std::size_t i = 0; i < rects.size(); ++i) {
            if (rects[i].contains(help->pos())) {
                const QString title = shown[i].kind ? QString::fromUtf8(CategoryKinds::title(*shown[i].kind))
                                                    : tr("Everything else");
                QToolTip::showText(help->globalPos(),
                                   title + QStringLiteral(" · ") +
                                       QString::fromStdString(DiskMath::human(shown[i].bytes)),
                                   this);
                return true;
            }
        }
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    return QWidget::event(event);
}
