#include "Kestrune/Screens/PermissionGate.h"

#include "Kestrune/Screens/ChartPalette.h"
#include "Kestrune/Screens/Icons.h"
#include "KestruneCore/Maintenance/Permissions.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

QWidget* step(int number, const QString& text, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    auto* badge = new QLabel(QString::number(number), row);
    badge->setFixedSize(17, 17);
    badge->setAlignment(Qt::AlignCenter);
    badge->setStyleSheet(QStringLiteral("background:%1; color:white; border-radius:8px; font-weight:bold; "
                                        "font-size:10px;")
                             .arg(ChartPalette::safe().name()));
    layout->addWidget(badge);
    layout->addWidget(new QLabel(text, row), 1);
    return row;
}

} // namespace

PermissionGate::PermissionGate(std::function<bool()> c, QWidget* parent)
    : QWidget(parent), check(std::move(c)) {
    setObjectName(QStringLiteral("permissionGate"));
    auto* outer = new QVBoxLayout(this);
    outer->addStretch(1);
    auto* column = new QWidget(this);
    // A fixed width lets the wrapped texts take the height they need.
    column->setFixedWidth(520);
    auto* layout = new QVBoxLayout(column);
    layout->setSpacing(12);
    auto* icon = new QLabel(column);
    icon->setPixmap(Icons::symbol("lock.shield", palette()).pixmap(38, 38));
    layout->addWidget(icon, 0, Qt::AlignHCenter);
    auto* title = new QLabel(tr("Kestrune needs Full Disk Access"), column);
    QFont font = title->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.5);
    title->setFont(font);
    title->setAlignment(Qt::AlignCenter);
    layout->addWidget(title);
    // A wrapped label is given the height its text takes at the column's fixed width, since the
    // centred column is laid out by size hints, which do not know the width.
    const QMargins margins = layout->contentsMargins();
    const int textWidth = 520 - margins.left() - margins.right();
    const QString paragraphs =
        tr("Linux protects every app's cache and support folder individually. Without Full Disk Access, "
           "Kestrune can only see a fraction of your disk — and Linux asks for permission separately for "
           "every single app it tries to look at.\n\nGranting it once replaces all of those prompts.");
    for (const QString& paragraph : paragraphs.split(QStringLiteral("\n\n"))) {
        auto* explanation = new QLabel(paragraph, column);
        explanation->setWordWrap(true);
        explanation->setFixedWidth(textWidth);
        explanation->setMinimumHeight(explanation->heightForWidth(textWidth));
        layout->addWidget(explanation);
    }
    layout->addWidget(step(1, tr("Open Privacy & Security → Full Disk Access"), column));
    layout->addWidget(step(2, tr("Turn on Kestrune in the list"), column));
    layout->addWidget(step(3, tr("Come back here — Kestrune rechecks automatically"), column));
    auto* buttons = new QHBoxLayout;
    openSettings =
        new QPushButton(Icons::symbol("arrow.up.forward.app", palette()), tr("Open Settings"), column);
    openSettings->setDefault(true);
    checkAgain = new QPushButton(tr("Check again"), column);
    buttons->addStretch(1);
    buttons->addWidget(openSettings);
    buttons->addWidget(checkAgain);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    hint = new QLabel(
        tr("Still not granted. If you just enabled it, Linux sometimes needs the app relaunched."), column);
    hint->setObjectName(QStringLiteral("permissionHint"));
    hint->setStyleSheet(QStringLiteral("color:%1;").arg(ChartPalette::review().name()));
    hint->setWordWrap(true);
    hint->setAlignment(Qt::AlignCenter);
    hint->setFixedWidth(textWidth);
    hint->setMinimumHeight(hint->heightForWidth(textWidth));
    hint->hide();
    layout->addWidget(hint);
    auto* footer = new QLabel(tr("Kestrune never sends anything anywhere. Full Disk Access is read-only "
                                 "until you choose what to remove."),
                              column);
    footer->setWordWrap(true);
    footer->setFixedWidth(textWidth);
    footer->setMinimumHeight(footer->heightForWidth(textWidth));
    footer->setAlignment(Qt::AlignCenter);
    footer->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(footer);
    outer->addWidget(column, 0, Qt::AlignHCenter);
    outer->addStretch(2);

    connect(checkAgain, &QPushButton::clicked, this, &PermissionGate::recheck);
    connect(openSettings, &QPushButton::clicked, this, [] {
        const auto url = QString::fromStdString(Permissions::fullDiskAccessSettingsURL());
        if (!url.isEmpty()) {
            QDesktopServices::openUrl(QUrl(url));
        }
    });
    // Returning from the settings makes the application active again.
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive && isVisible()) {
            recheck();
        }
    });
}

void PermissionGate::recheck() {
    if (checking) {
        return;
    }
    checking = true;
    checkAgain->setEnabled(false);
    const bool granted = check();
    hint->setVisible(!granted);
    checking = false;
    checkAgain->setEnabled(true);
    emit checked(granted);
}

bool PermissionGate::isHintShown() const {
    return !hint->isHidden();
}
