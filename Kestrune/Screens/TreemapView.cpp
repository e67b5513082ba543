// While the window is being resized the cached pixmap is stretched to the new size; the layout and the
// pixmap are made again once the size has stayed put for a moment, so a drag never waits on a repaint.
#include "Kestrune/Screens/TreemapView.h"

#include "Kestrune/Screens/ChartPalette.h"
#include "Kestrune/Screens/Format.h"
#include "KestruneCore/DiskMap/Treemap.h"

#include <QAccessible>
#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace {

constexpr double inset = 8;
constexpr int resizeSettleMs = 80;

QFont captionFont(const QFont& base, bool medium) {
    QFont f = base;
    f.setPointSizeF(base.pointSizeF() * 0.8);
    if (medium) {
        f.setWeight(QFont::Medium);
    }
    return f;
}

} // namespace

int TreemapView::labelLines(QSizeF size) {
    if (size.width() <= 54 || size.height() <= 26) {
        return 0;
    }
    return size.height() > 40 ? 2 : 1;
}

QString TreemapView::tooltip(const DiskNode& node, ReclaimIndex::Flagged flagged, bool canDrill) {
    if (node.isAggregate) {
        return tr("Other — %1 across items too small to draw").arg(Format::human(node.bytes));
    }
    QStringList lines{QString::fromStdString(node.name()) + QStringLiteral(" — ") +
                      Format::human(node.bytes)};
    if (flagged.safe + flagged.review >= 1) {
        lines << tr("%1 flagged (%2 safe, %3 review)")
                     .arg(Format::human(flagged.safe + flagged.review), Format::human(flagged.safe),
                          Format::human(flagged.review));
    }
    lines << (canDrill ? tr("Click to drill in") : tr("Click to reveal in File Manager"));
    return lines.join(QLatin1Char('\n'));
}

std::pair<double, double> TreemapView::bandHeights(const Tile& tile) {
    const double total = double(std::max<std::int64_t>(tile.node->bytes, 1));
    const double h = tile.rect.height();
    return {h * double(tile.flagged.safe) / total, h * double(tile.flagged.review) / total};
}

TreemapView::TreemapView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("treemap"));
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(120, 90);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    resizeDebounce.setSingleShot(true);
    resizeDebounce.setInterval(resizeSettleMs);
    connect(&resizeDebounce, &QTimer::timeout, this, &TreemapView::relayoutNow);
}

void TreemapView::setFolder(TreemapEngine::Node folder, std::shared_ptr<const ReclaimIndex> flags) {
    const bool sameFolder = folder == shown;
    shown = std::move(folder);
    index = std::move(flags);
    cached.clear();
    if (shown) {
        std::vector<TreemapEngine::Node> children(shown->children.begin(), shown->children.end());
        std::stable_sort(children.begin(), children.end(),
                         [](const auto& a, const auto& b) { return a->bytes > b->bytes; });
        cached.reserve(children.size());
        for (auto& child : children) {
            Tile tile;
            tile.canDrill = child->isDirectory && !child->isAggregate && !child->children.empty();
            if (!child->isAggregate && index) {
                tile.flagged = index->flagged(child->path());
            }
            tile.node = std::move(child);
            cached.push_back(std::move(tile));
        }
    }
    if (!sameFolder) {
        hovered = -1;
        focused = cached.empty() ? -1 : 0;
    } else {
        hovered = std::min(hovered, int(cached.size()) - 1);
        focused = std::min(focused, int(cached.size()) - 1);
    }
    relayout();
    paintCache();
    update();
    if (!sameFolder && hasFocus() && focused >= 0) {
        setFocusedTile(focused);
    }
}

void TreemapView::relayoutNow() {
    resizeDebounce.stop();
    relayout();
    paintCache();
    update();
}

void TreemapView::relayout() {
    cachedSize = size();
    std::vector<double> values;
    values.reserve(cached.size());
    for (const auto& tile : cached) {
        values.push_back(double(tile.node->bytes));
    }
    const Rect area{inset, inset, std::max(0.0, width() - 2 * inset), std::max(0.0, height() - 2 * inset)};
    const std::vector<Rect> rects = Treemap::layout(values, area);
    for (std::size_t i = 0; i < cached.size(); ++i) {
        cached[i].rect = QRectF(rects[i].x, rects[i].y, rects[i].width, rects[i].height);
    }
}

void TreemapView::paintCache() {
    const qreal ratio = devicePixelRatioF();
    pixmap = QPixmap((QSizeF(cachedSize) * ratio).toSize());
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    if (cached.empty() || pixmap.isNull()) {
        return;
    }
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QPalette& pal = palette();
    const QColor track = ChartPalette::track(pal);
    QColor border = pal.color(QPalette::WindowText);
    border.setAlphaF(0.12f);
    const QColor text = pal.color(QPalette::WindowText);
    const QColor secondary = ChartPalette::secondaryText(pal);
    const QFont nameFont = captionFont(font(), true);
    const QFont sizeFont = captionFont(font(), false);
    const QFontMetricsF nameMetrics(nameFont);
    const QFontMetricsF sizeMetrics(sizeFont);
    for (const auto& tile : cached) {
        if (tile.rect.isEmpty()) {
            continue;
        }
        // A hairline of space between neighbours keeps small tiles apart.
        const QRectF r = tile.rect.adjusted(0.5, 0.5, -0.5, -0.5);
        p.setPen(Qt::NoPen);
        p.setBrush(track);
        p.drawRoundedRect(r, 3, 3);
        // The bands rise from the bottom edge: their lower corners follow the tile's, their top edge is
        // straight (no clip path, which costs more than the rest of the tile).
        const auto fillBand = [&p, &r](double h, const QColor& colour) {
            h = std::min(h, r.height());
            if (h <= 0) {
                return;
            }
            const double radius = std::min(3.0, h / 2);
            const double top = r.bottom() - h;
            p.setBrush(colour);
            p.drawRoundedRect(QRectF(r.left(), top, r.width(), h), radius, radius);
            if (h < r.height() - 3) {
                p.fillRect(QRectF(r.left(), top, r.width(), radius), colour);
            }
        };
        const auto [safe, review] = bandHeights(tile);
        fillBand(safe + review, ChartPalette::review());
        fillBand(safe, ChartPalette::safe());
        p.setPen(QPen(border, 1));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(r, 3, 3);
        const int lines = labelLines(r.size());
        if (lines == 0) {
            continue;
        }
        const double pad = 5;
        const double textWidth = r.width() - 2 * pad;
        // On a band the text is white, which both band colours carry in either colour scheme.
        const double labelHeight = pad + nameMetrics.height() + (lines == 2 ? sizeMetrics.height() : 0);
        const bool onBand = safe + review >= labelHeight;
        const QColor nameColour = onBand ? QColor(Qt::white) : text;
        QColor sizeColour = onBand ? QColor(Qt::white) : secondary;
        if (onBand) {
            sizeColour.setAlphaF(0.85f);
        }
        double baseline = r.bottom() - pad - (lines == 2 ? sizeMetrics.descent() : nameMetrics.descent());
        if (lines == 2) {
            p.setFont(sizeFont);
            p.setPen(sizeColour);
            p.drawText(QPointF(r.left() + pad, baseline),
                       sizeMetrics.elidedText(Format::human(tile.node->bytes), Qt::ElideRight, textWidth));
            baseline -= sizeMetrics.height();
        }
        p.setFont(nameFont);
        p.setPen(nameColour);
        p.drawText(
            QPointF(r.left() + pad, baseline),
            nameMetrics.elidedText(QString::fromStdString(tile.node->name()), Qt::ElideMiddle, textWidth));
    }
}

QTransform TreemapView::toWidget() const {
    if (cachedSize.isEmpty() || cachedSize == size()) {
        return {};
    }
    return QTransform::fromScale(double(width()) / cachedSize.width(),
                                 double(height()) / cachedSize.height());
}

QRectF TreemapView::tileRect(int i) const {
    if (i < 0 || i >= int(cached.size())) {
        return {};
    }
    return toWidget().mapRect(cached[std::size_t(i)].rect);
}

int TreemapView::tileAt(QPointF point) const {
    const QPointF at = toWidget().inverted().map(point);
    for (std::size_t i = 0; i < cached.size(); ++i) {
        if (cached[i].rect.contains(at)) {
            return int(i);
        }
    }
    return -1;
}

TreemapEngine::Node TreemapView::focusedNode() const {
    return focused >= 0 && focused < int(cached.size()) ? cached[std::size_t(focused)].node : nullptr;
}

QString TreemapView::accessibleTileName(int i) const {
    if (i < 0 || i >= int(cached.size())) {
        return {};
    }
    const auto& node = *cached[std::size_t(i)].node;
    return QStringLiteral("%1, %2").arg(QString::fromStdString(node.name()), Format::human(node.bytes));
}

void TreemapView::setFocusedTile(int i) {
    if (i < 0 || i >= int(cached.size())) {
        return;
    }
    focused = i;
    setAccessibleName(accessibleTileName(i));
    QAccessibleEvent changed(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&changed);
    update();
}

void TreemapView::setHovered(int i) {
    if (i == hovered) {
        return;
    }
    hovered = i;
    // The tile under the pointer is what the view describes while the pointer rests on it.
    setAccessibleDescription(accessibleTileName(i));
    QAccessibleEvent changed(this, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&changed);
    update();
}

void TreemapView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (!pixmap.isNull()) {
        if (cachedSize == size()) {
            p.drawPixmap(0, 0, pixmap);
        } else {
            p.drawPixmap(rect(), pixmap);
        }
    }
    p.setRenderHint(QPainter::Antialiasing);
    if (hasFocus() && focused >= 0 && focused != hovered) {
        QPen pen(palette().color(QPalette::Highlight), 2, Qt::DashLine);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(tileRect(focused).adjusted(1.5, 1.5, -1.5, -1.5), 3, 3);
    }
    if (hovered >= 0) {
        p.setPen(QPen(palette().color(QPalette::Highlight), 2));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(tileRect(hovered).adjusted(1.5, 1.5, -1.5, -1.5), 3, 3);
    }
}

void TreemapView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    resizeDebounce.start();
}

bool TreemapView::event(QEvent* e) {
    if (e->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(e);
        const int i = tileAt(help->pos());
        if (i < 0) {
            QToolTip::hideText();
            e->ignore();
            return true;
        }
        const Tile& tile = cached[std::size_t(i)];
        QToolTip::showText(help->globalPos(), tooltip(*tile.node, tile.flagged, tile.canDrill), this,
                           tileRect(i).toAlignedRect());
        return true;
    }
    return QWidget::event(e);
}

void TreemapView::mouseMoveEvent(QMouseEvent* event) {
    setHovered(tileAt(event->position()));
}

void TreemapView::leaveEvent(QEvent*) {
    setHovered(-1);
}

void TreemapView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const int i = tileAt(event->position());
    if (i >= 0) {
        setFocusedTile(i);
        activate(i);
    }
}

void TreemapView::activate(int i) {
    if (i < 0 || i >= int(cached.size())) {
        return;
    }
    const Tile tile = cached[std::size_t(i)]; // a drill replaces the tiles
    if (tile.canDrill) {
        emit drillRequested(tile.node);
    } else if (!tile.node->isAggregate) {
        emit revealRequested(QString::fromStdString(tile.node->path()));
    }
}

void TreemapView::contextMenuEvent(QContextMenuEvent* event) {
    const int i = event->reason() == QContextMenuEvent::Mouse ? tileAt(event->pos()) : focused;
    if (i < 0 || cached[std::size_t(i)].node->isAggregate) {
        return;
    }
    setFocusedTile(i);
    emit contextMenuRequested(event->reason() == QContextMenuEvent::Mouse
                                  ? event->globalPos()
                                  : mapToGlobal(tileRect(i).center().toPoint()));
}

int TreemapView::neighbour(int from, int key) const {
    if (cached.empty()) {
        return -1;
    }
    if (from < 0) {
        return 0;
    }
    const QRectF here = cached[std::size_t(from)].rect;
    const QPointF c = here.center();
    int best = -1;
    double bestScore = 0;
    for (std::size_t i = 0; i < cached.size(); ++i) {
        const QRectF r = cached[i].rect;
        if (int(i) == from || r.isEmpty()) {
            continue;
        }
        // Tiles that lie wholly beyond the edge in the key's direction; the nearest edge wins, and among
        // those the one most in line with this tile.
        double gap = 0;
        double off = 0;
        switch (key) {
        case Qt::Key_Left:
            gap = here.left() - r.right();
            off = std::abs(r.center().y() - c.y());
            break;
        case Qt::Key_Right:
            gap = r.left() - here.right();
            off = std::abs(r.center().y() - c.y());
            break;
        case Qt::Key_Up:
            gap = here.top() - r.bottom();
            off = std::abs(r.center().x() - c.x());
            break;
        case Qt::Key_Down:
            gap = r.top() - here.bottom();
            off = std::abs(r.center().x() - c.x());
            break;
        default:
            return from;
        }
        if (gap < -0.5) {
            continue;
        }
        const double score = std::max(gap, 0.0) * 4 + off;
        if (best < 0 || score < bestScore) {
            best = int(i);
            bestScore = score;
        }
    }
    return best < 0 ? from : best;
}

void TreemapView::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (key == Qt::Key_Backspace || (key == Qt::Key_Up && event->modifiers() & Qt::AltModifier)) {
        emit upRequested();
        return;
    }
    switch (key) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
        setFocusedTile(neighbour(focused, key));
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        activate(focused);
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void TreemapView::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    // Tabbing into the map names the tile the arrows start from.
    setFocusedTile(focused >= 0 ? focused : 0);
}

void TreemapView::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    update();
}

void TreemapView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange) {
        paintCache();
        update();
    }
}
