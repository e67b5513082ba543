#include "Kestrune/Screens/ConfirmSheet.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

ConfirmSheet::ConfirmSheet(const QString& title, const QString& message, const QString& confirmText,
                           const QString& cancelText, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("confirmSheet"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 22, 24, 20);
    layout->setSpacing(12);
    auto* heading = new QLabel(title, this);
    heading->setObjectName(QStringLiteral("confirmTitle"));
    QFont font = heading->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.15);
    heading->setFont(font);
    heading->setWordWrap(true);
    auto* text = new QLabel(message, this);
    text->setObjectName(QStringLiteral("confirmMessage"));
    text->setWordWrap(true);
    layout->addWidget(heading);
    layout->addWidget(text);
    layout->addSpacing(6);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    cancel = new QPushButton(cancelText, this);
    confirm = new QPushButton(confirmText, this);
    confirm->setAutoRepeat(false);
    buttons->addWidget(cancel);
    buttons->addWidget(confirm);
    layout->addLayout(buttons);
    setMinimumWidth(500);
    setMaximumWidth(560);
    connect(confirm, &QPushButton::clicked, this, &ConfirmSheet::confirmed);
    connect(cancel, &QPushButton::clicked, this, &ConfirmSheet::cancelled);
}
