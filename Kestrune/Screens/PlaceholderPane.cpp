#include "Kestrune/Screens/PlaceholderPane.h"

#include <QLabel>
#include <QVBoxLayout>

PlaceholderPane::PlaceholderPane(const QString& title, QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->addStretch(1);
    auto* heading = new QLabel(title, this);
    QFont font = heading->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.4);
    heading->setFont(font);
    heading->setAlignment(Qt::AlignCenter);
    auto* text =
        new QLabel(tr("This pane is not available yet. It comes in a later version of Kestrune."), this);
    text->setObjectName(QStringLiteral("placeholderText"));
    text->setAlignment(Qt::AlignCenter);
    text->setWordWrap(true);
    layout->addWidget(heading);
    layout->addWidget(text);
    layout->addStretch(2);
}
