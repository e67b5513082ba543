#include "Kestrune/Screens/SheetOverlay.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QShortcut>

namespace {

constexpr int margin = 24;

} // namespace

SheetOverlay::SheetOverlay(QWidget* host) : QWidget(host) {
    setObjectName(QStringLiteral("sheetOverlay"));
    host->installEventFilter(this);
    hide();
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WidgetWithChildrenShortcut);
    connect(escape, &QShortcut::activated, this, &SheetOverlay::dismissRequested);
}

void SheetOverlay::present(QWidget* sheet) {
    if (current) {
        current->deleteLater();
    }
    current = sheet;
    sheet->setParent(this);
    setGeometry(parentWidget()->rect());
    raise();
    show();
    sheet->show();
    placeSheet();
    sheet->setFocus();
    if (QWidget* first = sheet->nextInFocusChain(); first && sheet->isAncestorOf(first)) {
        first->setFocus(Qt::TabFocusReason);
    }
}

void SheetOverlay::close() {
    if (current) {
        current->hide();
        current->deleteLater();
        current = nullptr;
    }
    hide();
}

bool SheetOverlay::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize) {
        setGeometry(parentWidget()->rect());
    }
    return QWidget::eventFilter(watched, event);
}

void SheetOverlay::resizeEvent(QResizeEvent*) {
    placeSheet();
}

void SheetOverlay::placeSheet() {
    if (!current) {
        return;
    }
    const QSize room = size() - QSize(2 * margin, 2 * margin);
    QSize want = current->sizeHint().expandedTo(current->minimumSizeHint());
    want = want.boundedTo(room);
    current->setGeometry(QRect(QPoint((width() - want.width()) / 2, (height() - want.height()) / 2), want));
    update();
}

void SheetOverlay::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), QColor(0, 0, 0, 110));
    if (current) {
        const QRectF panel = QRectF(current->geometry()).adjusted(-1, -1, 1, 1);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, 50));
        painter.drawRoundedRect(panel.translated(0, 3), 12, 12);
        painter.setBrush(palette().color(QPalette::Window));
        painter.setPen(palette().color(QPalette::Mid));
        painter.drawRoundedRect(panel, 12, 12);
    }
}

void SheetOverlay::mousePressEvent(QMouseEvent* event) {
    if (current && !current->geometry().contains(event->position().toPoint())) {
        emit dismissRequested();
    }
}
