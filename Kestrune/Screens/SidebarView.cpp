#include "Kestrune/Screens/SidebarView.h"

#include "Kestrune/Screens/ChartPalette.h"
#include "Kestrune/Screens/SidebarModel.h"

#include <QPainter>
#include <QStyledItemDelegate>

namespace {

using Role = SidebarModel::Role;
using RowType = SidebarModel::RowType;

class SidebarDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const int line = option.fontMetrics.height();
        if (RowType(index.data(int(Role::rowType)).toInt()) == RowType::heading) {
            return {100, line + 18};
        }
        if (RowType(index.data(int(Role::rowType)).toInt()) == RowType::category) {
            return {100, 2 * line + 10};
        }
        return {100, line + 14};
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const auto type = RowType(index.data(int(Role::rowType)).toInt());
        const QPalette& palette = option.palette;
        const QRect r = option.rect.adjusted(6, 1, -6, -1);
        const int line = option.fontMetrics.height();
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        if (type == RowType::heading) {
            QFont font = option.font;
            font.setBold(true);
            font.setPointSizeF(font.pointSizeF() * 0.9);
            painter->setFont(font);
            painter->setPen(ChartPalette::secondaryText(palette));
            painter->drawText(r.adjusted(8, 0, 0, -4), Qt::AlignLeft | Qt::AlignBottom,
                              index.data(Qt::DisplayRole).toString());
            painter->restore();
            return;
        }
        const bool selected = option.state & QStyle::State_Selected;
        if (selected) {
            QColor fill = palette.color(QPalette::Highlight);
            if (!(option.state & QStyle::State_HasFocus) && !(option.state & QStyle::State_Active)) {
                fill.setAlphaF(0.6f);
            }
            painter->setPen(Qt::NoPen);
            painter->setBrush(fill);
            painter->drawRoundedRect(r, 6, 6);
        } else if (option.state & QStyle::State_MouseOver) {
            QColor fill = palette.color(QPalette::Highlight);
            fill.setAlphaF(0.12f);
            painter->setPen(Qt::NoPen);
            painter->setBrush(fill);
            painter->drawRoundedRect(r, 6, 6);
        }
        if (option.state & QStyle::State_HasFocus) {
            painter->setPen(QPen(palette.color(QPalette::Highlight).darker(130), 1));
            painter->setBrush(Qt::NoBrush);
            painter->drawRoundedRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
        }
        const QColor text =
            selected ? palette.color(QPalette::HighlightedText) : palette.color(QPalette::WindowText);
        QColor secondary = text;
        secondary.setAlphaF(selected ? 0.85f : 0.6f);
        const int iconSize = 16;
        const QRect firstLine(r.left() + 8, r.top() + 5, r.width() - 16, line);
        const QIcon icon = index.data(Qt::DecorationRole).value<QIcon>();
        icon.paint(painter,
                   QRect(firstLine.left(), firstLine.top() + (line - iconSize) / 2, iconSize, iconSize));
        const int textLeft = firstLine.left() + iconSize + 8;
        int right = firstLine.right();

        const double progress = index.data(int(Role::progress)).toDouble();
        const QString accessory = index.data(int(Role::accessory)).toString();
        if (progress >= 0) {
            const QRectF track(right - 42, firstLine.center().y() - 2, 42, 5);
            QColor t = text;
            t.setAlphaF(0.15f);
            painter->setPen(Qt::NoPen);
            painter->setBrush(t);
            painter->drawRoundedRect(track, 2.5, 2.5);
            painter->setBrush(selected ? text : ChartPalette::safe());
            painter->drawRoundedRect(QRectF(track.left(), track.top(),
                                            track.width() * std::clamp(progress, 0.0, 1.0), track.height()),
                                     2.5, 2.5);
            right -= 50;
        } else if (!accessory.isEmpty()) {
            const int w = option.fontMetrics.horizontalAdvance(accessory);
            painter->setPen(secondary);
            painter->drawText(QRect(right - w, firstLine.top(), w, line), Qt::AlignRight | Qt::AlignVCenter,
                              accessory);
            right -= w + 8;
        }
        painter->setPen(text);
        painter->drawText(QRect(textLeft, firstLine.top(), right - textLeft, line),
                          Qt::AlignLeft | Qt::AlignVCenter,
                          option.fontMetrics.elidedText(index.data(Qt::DisplayRole).toString(),
                                                        Qt::ElideRight, right - textLeft));
        if (type == RowType::category) {
            const int checked = index.data(int(Role::checked)).toInt();
            const int total = index.data(int(Role::total)).toInt();
            QFont small = option.font;
            small.setPointSizeF(small.pointSizeF() * 0.88);
            painter->setFont(small);
            painter->setPen(secondary);
            painter->drawText(QRect(textLeft, firstLine.bottom() + 1, firstLine.right() - textLeft, line),
                              Qt::AlignLeft | Qt::AlignVCenter,
                              SidebarView::tr("%1 of %2 selected").arg(checked).arg(total));
        }
        painter->restore();
    }
};

} // namespace

SidebarView::SidebarView(SidebarModel& m, QWidget* parent) : QListView(parent), model(m) {
    setObjectName(QStringLiteral("sidebar"));
    setModel(&model);
    setItemDelegate(new SidebarDelegate(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setMouseTracking(true);
    setUniformItemSizes(false);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setAttribute(Qt::WA_MacShowFocusRect, false);
    viewport()->setAutoFillBackground(false);
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex& index) {
        if (applying) {
            return;
        }
        if (const auto pane = model.paneAt(index)) {
            current = *pane;
            emit paneSelected(*pane);
        }
    });
    connect(&model, &QAbstractItemModel::rowsInserted, this, &SidebarView::reselect);
    connect(&model, &QAbstractItemModel::rowsRemoved, this, &SidebarView::reselect);
    reselect();
}

void SidebarView::setPane(const Pane& pane) {
    current = pane;
    reselect();
}

void SidebarView::reselect() {
    applying = true;
    const QModelIndex index = model.indexOf(current);
    if (index.isValid()) {
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    } else {
        selectionModel()->clearSelection();
        selectionModel()->setCurrentIndex({}, QItemSelectionModel::NoUpdate);
    }
    applying = false;
}
