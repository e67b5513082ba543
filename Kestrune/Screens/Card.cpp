#include "Kestrune/Screens/Card.h"

#include "Kestrune/Screens/ChartPalette.h"

#include <QPainter>

Card::Card(QWidget* parent, Tone t) : QFrame(parent), tone(t) {
    setContentsMargins(0, 0, 0, 0);
}

void Card::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = palette().color(QPalette::Base);
    QColor edge = palette().color(QPalette::WindowText);
    edge.setAlphaF(0.12f);
    if (tone == Tone::warning) {
        QColor tint = ChartPalette::review();
        tint.setAlphaF(0.12f);
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
        fill = tint;
        edge = ChartPalette::review();
        edge.setAlphaF(0.5f);
    }
    painter.setPen(edge);
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
}
