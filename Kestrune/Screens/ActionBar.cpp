#include "Kestrune/Screens/ActionBar.h"

#include "Kestrune/Engines/ScanEngine.h"
#include "Kestrune/Screens/AppActions.h"
#include "KestruneCore/Model/DiskMath.h"

#include <QAction>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QToolButton>
#include <QVariantAnimation>

#include <cmath>

ActionBar::ActionBar(Engines e, AppActions& actions, QWidget* parent) : QWidget(parent), engines(e) {
    setObjectName(QStringLiteral("actionBar"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(16, 10, 16, 10);
    layout->setSpacing(12);
    progress = new QProgressBar(this);
    progress->setRange(0, 1000);
    progress->setTextVisible(false);
    progress->setFixedWidth(160);
    status = new QLabel(this);
    status->setObjectName(QStringLiteral("actionStatus"));
    status->setMinimumWidth(60);
    size = new QLabel(this);
    size->setObjectName(QStringLiteral("actionSize"));
    QFont big = size->font();
    big.setPointSizeF(big.pointSizeF() * 1.35);
    big.setBold(true);
    size->setFont(big);
    layout->addWidget(progress);
    layout->addWidget(status, 1);
    layout->addWidget(size);
    rescan = new QToolButton(this);
    rescan->setDefaultAction(actions.rescan);
    rescan->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    rescan->setFocusPolicy(Qt::StrongFocus);
    reclaim = new QToolButton(this);
    reclaim->setObjectName(QStringLiteral("reclaimButton"));
    reclaim->setDefaultAction(actions.reclaim);
    reclaim->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    reclaim->setFocusPolicy(Qt::StrongFocus);
    QFont bold = reclaim->font();
    bold.setBold(true);
    reclaim->setFont(bold);
    layout->addWidget(rescan);
    layout->addWidget(reclaim);
    restyle();
    sizeAnimation = new QVariantAnimation(this);
    sizeAnimation->setDuration(250);
    sizeAnimation->setEasingCurve(QEasingCurve::OutCubic);
    connect(sizeAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        shownBytes = std::llround(value.toDouble());
        size->setText(QString::fromStdString(DiskMath::human(shownBytes)));
    });

    for (auto signal : {&ScanEngine::isScanningChanged, &ScanEngine::progressChanged,
                        &ScanEngine::progressLabelChanged, &ScanEngine::selectedChanged}) {
        connect(&engines.scan, signal, this, &ActionBar::refresh);
    }
    refresh();
}

void ActionBar::refresh() {
    const bool scanning = engines.scan.isScanning();
    progress->setVisible(scanning);
    size->setVisible(!scanning);
    if (scanning) {
        progress->setValue(int(engines.scan.progress() * 1000));
        status->setText(QString::fromStdString(engines.scan.progressLabel()));
    } else {
        status->setText(tr("%n selected", nullptr, int(engines.scan.selected().size())));
        const std::int64_t target = engines.scan.selectedBytes();
        if (target != shownBytes || size->text().isEmpty()) {
            sizeAnimation->stop();
            if (isVisible() && !size->text().isEmpty()) {
                sizeAnimation->setStartValue(double(shownBytes));
                sizeAnimation->setEndValue(double(target));
                sizeAnimation->start();
            } else {
                shownBytes = target;
                size->setText(QString::fromStdString(DiskMath::human(target)));
            }
        }
    }
}

QString ActionBar::statusText() const {
    return status->text();
}

QString ActionBar::sizeText() const {
    return size->isVisible() ? size->text() : QString();
}

void ActionBar::restyle() {
    // The accent colour marks the one button that frees space.
    QPalette accent = reclaim->palette();
    accent.setColor(QPalette::Button, palette().color(QPalette::Highlight));
    accent.setColor(QPalette::ButtonText, palette().color(QPalette::HighlightedText));
    reclaim->setPalette(accent);
    reclaim->setAutoRaise(false);
    rescan->setAutoRaise(false);
}

void ActionBar::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) {
        restyle();
    }
    QWidget::changeEvent(event);
}

void ActionBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawLine(rect().topLeft(), rect().topRight());
}
