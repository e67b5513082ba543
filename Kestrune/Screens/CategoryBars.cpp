#include "Kestrune/Screens/CategoryBars.h"

#include "Kestrune/Screens/Format.h"
#include "Kestrune/Screens/Icons.h"
#include "KestruneCore/Model/DiskMath.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace {

using Format::human;

} // namespace

CategoryBars::CategoryBars(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
}

void CategoryBars::setEntries(std::vector<ChartEntry> value) {
    std::stable_sort(value.begin(), value.end(),
                     [](const ChartEntry& a, const ChartEntry& b) { return a.bytes > b.bytes; });
    const bool resized = value.size() != entries.size();
    entries = std::move(value);
    current = std::clamp(current, 0, std::max(0, int(entries.size()) - 1));
    if (resized) {
        updateGeometry();
    }
    update();
}

int CategoryBars::rowHeight() const {
    return fontMetrics().height() + 22;
}

QSize CategoryBars::sizeHint() const {
    return {360, int(entries.size()) * rowHeight()};
}

QRect CategoryBars::rowRect(int row) const {
    return {0, row * rowHeight(), width(), rowHeight()};
}

int CategoryBars::rowAt(const QPoint& point) const {
    const int row = point.y() / std::max(1, rowHeight());
    return point.y() >= 0 && row < int(entries.size()) ? row : -1;
}

QString CategoryBars::selectedText(int row) const {
    const auto& e = entries.at(std::size_t(row));
    if (e.selectedBytes <= 0) {
        return {};
    }
    return tr("%1 of %2 selected").arg(human(e.selectedBytes), human(e.bytes));
}

void CategoryBars::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const std::int64_t maxBytes = entries.empty() ? 0 : entries.front().bytes;
    const int textHeight = fontMetrics().height();
    const int iconSize = 16;
    for (int i = 0; i < int(entries.size()); ++i) {
        const auto& e = entries[std::size_t(i)];
        const QRect row = rowRect(i);
        if (i == hovered || (hasFocus() && i == current)) {
            QColor highlight = palette().color(QPalette::Highlight);
            highlight.setAlphaF(i == hovered ? 0.10f : 0.16f);
            painter.setPen(Qt::NoPen);
            painter.setBrush(highlight);
            painter.drawRoundedRect(row.adjusted(0, 1, 0, -1), 6, 6);
        }
        const int top = row.top() + 4;
        const QRect iconRect(row.left() + 6, top + (textHeight - iconSize) / 2, iconSize, iconSize);
        Icons::symbol(CategoryKinds::symbol(e.kind), palette()).paint(&painter, iconRect);
        const QString size = human(e.bytes);
        const int sizeWidth = fontMetrics().horizontalAdvance(size);
        const int textLeft = iconRect.right() + 8;
        const int right = row.right() - 6;
        QFont bold = font();
        bold.setBold(true);
        painter.setFont(bold);
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(QRect(right - sizeWidth - 8, top, sizeWidth + 8, textHeight),
                         Qt::AlignRight | Qt::AlignVCenter, size);
        painter.setFont(font());
        const QString title = QString::fromUtf8(CategoryKinds::title(e.kind));
        const QFontMetrics metrics = painter.fontMetrics();
        const int titleWidth =
            std::min(metrics.horizontalAdvance(title) + 2, right - sizeWidth - 16 - textLeft);
        painter.drawText(QRect(textLeft, top, titleWidth, textHeight), Qt::AlignLeft | Qt::AlignVCenter,
                         metrics.elidedText(title, Qt::ElideRight, titleWidth));
        const QString selected = selectedText(i);
        if (!selected.isEmpty()) {
            const int left = textLeft + titleWidth + 12;
            const int room = right - sizeWidth - 16 - left;
            if (room > 20) {
                painter.setPen(ChartPalette::secondaryText(palette()));
                painter.drawText(QRect(left, top, room, textHeight), Qt::AlignRight | Qt::AlignVCenter,
                                 fontMetrics().elidedText(selected, Qt::ElideLeft, room));
            }
        }
        const QRectF track(textLeft, top + textHeight + 5, right - textLeft, 7);
        painter.setPen(Qt::NoPen);
        painter.setBrush(ChartPalette::track(palette()));
        painter.drawRoundedRect(track, 3.5, 3.5);
        if (maxBytes > 0 && e.bytes > 0) {
            QRectF filled = track;
            filled.setWidth(std::max(7.0, track.width() * double(e.bytes) / double(maxBytes)));
            painter.setBrush(ChartPalette::of(e.kind, palette()));
            painter.drawRoundedRect(filled, 3.5, 3.5);
        }
    }
}

void CategoryBars::mouseMoveEvent(QMouseEvent* event) {
    const int row = rowAt(event->position().toPoint());
    if (row != hovered) {
        hovered = row;
        update();
    }
}

void CategoryBars::mouseReleaseEvent(QMouseEvent* event) {
    const int row = rowAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && row >= 0) {
        current = row;
        emit picked(entries[std::size_t(row)].kind);
    }
}

void CategoryBars::leaveEvent(QEvent*) {
    hovered = -1;
    update();
}

void CategoryBars::keyPressEvent(QKeyEvent* event) {
    if (entries.empty()) {
        QWidget::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
    case Qt::Key_Up:
        current = std::max(0, current - 1);
        update();
        return;
    case Qt::Key_Down:
        current = std::min(int(entries.size()) - 1, current + 1);
        update();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        emit picked(entries[std::size_t(current)].kind);
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void CategoryBars::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        updateGeometry();
    }
    QWidget::changeEvent(event);
}
