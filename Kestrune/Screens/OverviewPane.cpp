// Engine signals arrive in bursts (a scanner's report changes several values at once); the pane
// redraws once per burst.
#include "Kestrune/Screens/OverviewPane.h"
#include "Kestrune/Screens/Format.h"
#include "Kestrune/Screens/Labels.h"

#include "Kestrune/Engines/ScanEngine.h"
#include "Kestrune/Screens/AppActions.h"
#include "Kestrune/Screens/Card.h"
#include "Kestrune/Screens/CategoryBars.h"
#include "Kestrune/Screens/ChartPalette.h"
#include "Kestrune/Screens/CompositionBar.h"
#include "Kestrune/Screens/Desktop.h"
#include "Kestrune/Screens/DiskUsageBar.h"
#include "Kestrune/Screens/Icons.h"
#include "KestruneCore/Walk/DiskMeasure.h"

#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <unordered_map>

namespace {

using Labels::label;
using Labels::makeSecondary;

using Format::human;
using Format::percent;

QLabel* figureBlock(QWidget* parent, QGridLayout* grid, int column, const QString& name) {
    auto* title = label(parent, 0.9);
    title->setText(name);
    makeSecondary(title);
    auto* value = label(parent, 1.3, true);
    grid->addWidget(title, 0, column);
    grid->addWidget(value, 1, column);
    return value;
}

} // namespace

OverviewPane::OverviewPane(Engines e, AppActions& actions, QWidget* parent) : QWidget(parent), engines(e) {
    setObjectName(QStringLiteral("overviewPane"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    outer->addWidget(scroll);
    auto* content = new QWidget(scroll);
    content->setAutoFillBackground(false);
    scroll->setWidget(content);
    scroll->viewport()->setAutoFillBackground(false);
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(14);

    // Hero.
    auto* hero = new QWidget(content);
    heroLayout = new QBoxLayout(QBoxLayout::LeftToRight, hero);
    heroLayout->setContentsMargins(0, 0, 0, 0);
    auto* figures = new QVBoxLayout;
    figures->setSpacing(2);
    figure = label(hero, 2.6, true);
    figure->setObjectName(QStringLiteral("bigFigure"));
    figureCaption = label(hero, 1.05);
    makeSecondary(figureCaption);
    scanning = label(hero);
    scanning->setObjectName(QStringLiteral("scanningMessage"));
    scanning->setWordWrap(true);
    holdOn = label(hero);
    holdOn->setText(tr("Finding more reclaimable space — hold on…"));
    makeSecondary(holdOn);
    figures->addWidget(figure);
    figures->addWidget(figureCaption);
    figures->addWidget(scanning);
    figures->addWidget(holdOn);
    heroLayout->addLayout(figures, 1);
    auto* heroButtons = new QHBoxLayout;
    heroButtons->setSpacing(8);
    scan = new QPushButton(tr("Scan"), hero);
    scan->setObjectName(QStringLiteral("overviewScan"));
    scan->setToolTip(tr("Rescan everything, preselect what's safe, and run the maintenance tasks that don't "
                        "need a password"));
    reclaim = new QToolButton(hero);
    reclaim->setDefaultAction(actions.reclaim);
    reclaim->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    reclaim->setFocusPolicy(Qt::StrongFocus);
    heroButtons->addWidget(scan);
    heroButtons->addWidget(reclaim);
    heroButtons->addStretch(1);
    heroLayout->addLayout(heroButtons);
    layout->addWidget(hero);

    // Trash banner.
    trashBanner = new Card(content, Card::Tone::warning);
    trashBanner->setObjectName(QStringLiteral("trashBanner"));
    auto* banner = new QGridLayout(trashBanner);
    banner->setContentsMargins(16, 12, 16, 12);
    banner->setHorizontalSpacing(12);
    trashIcon = new QLabel(trashBanner);
    auto* trashTitle = label(trashBanner, 1.1, true);
    trashTitle->setText(tr("Still in Trash"));
    trashSize = label(trashBanner, 1.1, true);
    trashText = label(trashBanner);
    trashText->setWordWrap(true);
    emptyTrash = new QPushButton(tr("Empty Trash"), trashBanner);
    emptyTrash->setObjectName(QStringLiteral("emptyTrash"));
    emptyTrash->setAutoRepeat(false);
    openTrash = new QPushButton(tr("Open in File Manager"), trashBanner);
    auto* bannerButtons = new QHBoxLayout;
    bannerButtons->setSpacing(8);
    bannerButtons->addStretch(1);
    bannerButtons->addWidget(openTrash);
    bannerButtons->addWidget(emptyTrash);
    banner->addWidget(trashIcon, 0, 0, 2, 1, Qt::AlignTop);
    banner->addWidget(trashTitle, 0, 1);
    banner->addWidget(trashSize, 0, 2, Qt::AlignRight);
    banner->addWidget(trashText, 1, 1, 1, 2);
    banner->addLayout(bannerButtons, 2, 1, 1, 2);
    banner->setColumnStretch(1, 1);
    layout->addWidget(trashBanner);

    moved = new QWidget(content);
    auto* movedLayout = new QHBoxLayout(moved);
    movedLayout->setContentsMargins(4, 0, 0, 0);
    movedIcon = new QLabel(moved);
    movedText = label(moved);
    movedText->setObjectName(QStringLiteral("movedLine"));
    movedLayout->addWidget(movedIcon);
    movedLayout->addWidget(movedText, 1);
    layout->addWidget(moved);

    // Empty state.
    emptyState = new Card(content);
    emptyState->setObjectName(QStringLiteral("emptyState"));
    auto* empty = new QHBoxLayout(emptyState);
    empty->setContentsMargins(16, 14, 16, 14);
    emptyIcon = new QLabel(emptyState);
    auto* emptyTexts = new QVBoxLayout;
    auto* emptyTitle = label(emptyState, 1.1, true);
    emptyTitle->setText(tr("Nothing to sweep"));
    auto* emptyText = label(emptyState);
    emptyText->setText(tr("Kestrune found no reclaimable files."));
    emptyTexts->addWidget(emptyTitle);
    emptyTexts->addWidget(emptyText);
    empty->addWidget(emptyIcon, 0, Qt::AlignTop);
    empty->addLayout(emptyTexts, 1);
    layout->addWidget(emptyState);

    // Errors of the last reclaim.
    errorsCard = new Card(content, Card::Tone::warning);
    errorsCard->setObjectName(QStringLiteral("errorsCard"));
    auto* errors = new QGridLayout(errorsCard);
    errors->setContentsMargins(16, 12, 16, 12);
    errorsIcon = new QLabel(errorsCard);
    errorsHeading = label(errorsCard, 1.05, true);
    errorsText = label(errorsCard);
    errorsText->setObjectName(QStringLiteral("errorsText"));
    errorsText->setWordWrap(true);
    errorsText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    errorsText->setTextFormat(Qt::PlainText);
    errors->addWidget(errorsIcon, 0, 0, Qt::AlignTop);
    errors->addWidget(errorsHeading, 0, 1);
    errors->addWidget(errorsText, 1, 1);
    errors->setColumnStretch(1, 1);
    layout->addWidget(errorsCard);

    // Disk.
    auto* disk = new Card(content);
    auto* diskLayout = new QVBoxLayout(disk);
    diskLayout->setContentsMargins(16, 14, 16, 14);
    diskLayout->setSpacing(10);
    auto* diskTitle = label(disk, 1.1, true);
    diskTitle->setText(tr("Disk"));
    diskLayout->addWidget(diskTitle);
    auto* diskFigures = new QGridLayout;
    diskFigures->setVerticalSpacing(0);
    totalFigure = figureBlock(disk, diskFigures, 0, tr("Total"));
    freeFigure = figureBlock(disk, diskFigures, 1, tr("Free"));
    reclaimableFigure = figureBlock(disk, diskFigures, 2, tr("Reclaimable"));
    diskLayout->addLayout(diskFigures);
    usage = new DiskUsageBar(disk);
    diskLayout->addWidget(usage);
    trashCaption = label(disk, 0.92);
    trashCaption->setWordWrap(true);
    makeSecondary(trashCaption);
    diskLayout->addWidget(trashCaption);
    layout->addWidget(disk);

    // Categories.
    auto* categories = new Card(content);
    auto* categoriesLayout = new QVBoxLayout(categories);
    categoriesLayout->setContentsMargins(16, 14, 16, 14);
    categoriesLayout->setSpacing(10);
    auto* categoriesHead = new QHBoxLayout;
    auto* categoriesTitle = label(categories, 1.1, true);
    categoriesTitle->setText(tr("Where it is"));
    categoriesSummary = label(categories);
    categoriesSummary->setObjectName(QStringLiteral("categoriesSummary"));
    makeSecondary(categoriesSummary);
    categoriesHead->addWidget(categoriesTitle);
    categoriesHead->addStretch(1);
    categoriesHead->addWidget(categoriesSummary);
    categoriesLayout->addLayout(categoriesHead);
    composition = new CompositionBar(categories);
    categoriesLayout->addWidget(composition);
    bars = new CategoryBars(categories);
    bars->setObjectName(QStringLiteral("categoryBars"));
    categoriesLayout->addWidget(bars);
    layout->addWidget(categories);
    layout->addStretch(1);

    applyIcons();
    connect(scan, &QPushButton::clicked, this, &OverviewPane::scanRequested);
    connect(emptyTrash, &QPushButton::clicked, this, &OverviewPane::emptyTrashRequested);
    connect(openTrash, &QPushButton::clicked, this,
            [] { Desktop::open(QString::fromStdString(ScanEngine::trashDirectoryURL())); });
    connect(bars, &CategoryBars::picked, this, &OverviewPane::categoryPicked);
    for (auto signal :
         {&ScanEngine::resultsChanged, &ScanEngine::isScanningChanged, &ScanEngine::progressChanged,
          &ScanEngine::progressLabelChanged, &ScanEngine::stepChanged, &ScanEngine::hasScannedChanged,
          &ScanEngine::lastReclaimedChanged, &ScanEngine::freeSpaceChanged,
          &ScanEngine::trashBytesLiveChanged, &ScanEngine::selectedChanged, &ScanEngine::errorsChanged}) {
        connect(&engines.scan, signal, this, &OverviewPane::schedule);
    }
    refresh();
}

void OverviewPane::applyIcons() {
    const QPalette p = palette();
    scan->setIcon(Icons::symbol("wand.and.stars", p));
    trashIcon->setPixmap(Icons::symbol("trash.circle.fill", p).pixmap(32, 32));
    emptyTrash->setIcon(Icons::symbol("trash.fill", p));
    openTrash->setIcon(Icons::symbol("arrow.up.right.square", p));
    movedIcon->setPixmap(Icons::symbol("sparkles", p).pixmap(16, 16));
    emptyIcon->setPixmap(Icons::symbol("checkmark.circle.fill", p).pixmap(32, 32));
    errorsIcon->setPixmap(Icons::symbol("exclamationmark.triangle", p).pixmap(24, 24));
}

void OverviewPane::schedule() {
    if (scheduled) {
        return;
    }
    scheduled = true;
    QTimer::singleShot(0, this, [this] {
        if (scheduled) {
            refresh();
        }
    });
}

void OverviewPane::refresh() {
    scheduled = false;
    const ScanEngine& s = engines.scan;
    const bool isScanning = s.isScanning();
    const std::int64_t found = s.totalFound();
    figure->setText(human(found));
    figureCaption->setText(isScanning ? tr("found so far") : tr("reclaimable"));
    scanning->setVisible(isScanning);
    if (isScanning) {
        const QString what =
            s.progressLabel().empty() ? tr("Looking…") : QString::fromStdString(s.progressLabel());
        scanning->setText(what + tr(" (%1 of %2)").arg(s.step()).arg(s.stepCount()));
    }
    holdOn->setVisible(isScanning && found <= 0);
    scan->setEnabled(!isScanning);

    const std::int64_t trash = s.trashBytesLive();
    const bool banner = trash > 1'000'000;
    trashBanner->setVisible(banner);
    moved->setVisible(!banner && s.lastReclaimed() >= 1);
    if (banner) {
        trashSize->setText(human(trash));
        trashText->setText(
            s.lastReclaimed() >= 1
                ? tr("Last reclaim moved %1 here. Linux still counts Trash as used disk until it’s emptied — "
                     "free space won’t rise before then.")
                      .arg(human(s.lastReclaimed()))
                : tr("These files are already in Trash. Empty Trash to permanently delete them and free the "
                     "space. Put Back in File Manager won’t work after that."));
        emptyTrash->setEnabled(!isScanning);
    }
    movedText->setText(tr("Moved %1 to Trash last run").arg(human(s.lastReclaimed())));

    emptyState->setVisible(s.hasScanned() && !isScanning && s.results().empty());

    const auto& messages = s.errors();
    errorsCard->setVisible(!messages.empty());
    if (!messages.empty()) {
        errorsHeading->setText(tr("%1 items could not be removed").arg(messages.size()));
        QStringList lines;
        for (const auto& m : messages) {
            lines << QString::fromStdString(m);
        }
        errorsText->setText(lines.join(QLatin1Char('\n')));
    }

    const std::int64_t total = DiskMath::totalSpace();
    const double whole = double(total > 0 ? total : 1);
    totalFigure->setText(human(total));
    freeFigure->setText(human(s.freeSpace()));
    reclaimableFigure->setText(human(found) + tr(" (%1 of disk)").arg(percent(double(found) / whole)));
    usage->setFigures(total, s.freeSpace(), found);
    trashCaption->setVisible(trash > 0);
    trashCaption->setText(
        tr("File Manager free space usually won’t rise until Trash is emptied (%1 waiting). "
           "Use Empty Trash above.")
            .arg(human(trash)));

    std::unordered_map<std::string, std::int64_t> selectedByUrl;
    std::vector<ChartEntry> entries;
    for (const auto& r : s.results()) {
        ChartEntry entry{r.kind, r.bytes(), 0};
        for (const auto& item : r.items) {
            if (s.selected().contains(item)) {
                entry.selectedBytes += item.bytes;
            }
        }
        entries.push_back(entry);
    }
    composition->setEntries(entries);
    bars->setEntries(entries);
    categoriesSummary->setText(isScanning
                                   ? tr("still counting…")
                                   : tr("%1 of %2 selected").arg(human(s.selectedBytes()), human(found)));
}

QString OverviewPane::bigFigure() const {
    return figure->text();
}
QString OverviewPane::caption() const {
    return figureCaption->text();
}
QString OverviewPane::scanningMessage() const {
    return scanning->isHidden() ? QString() : scanning->text();
}
bool OverviewPane::isHoldOnShown() const {
    return !holdOn->isHidden();
}
bool OverviewPane::isTrashBannerShown() const {
    return !trashBanner->isHidden();
}
QString OverviewPane::movedLine() const {
    return moved->isHidden() ? QString() : movedText->text();
}
bool OverviewPane::isEmptyStateShown() const {
    return !emptyState->isHidden();
}
QString OverviewPane::errorsTitle() const {
    return errorsCard->isHidden() ? QString() : errorsHeading->text();
}

QStringList OverviewPane::errorLines() const {
    return errorsCard->isHidden() ? QStringList() : errorsText->text().split(QLatin1Char('\n'));
}

void OverviewPane::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // A Trash the user emptied elsewhere leaves the figures.
    (void)engines.scan.reconcileTrashWithDisk();
}

void OverviewPane::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // Narrow windows put the hero's buttons under the figure.
    heroLayout->setDirection(width() < 620 ? QBoxLayout::TopToBottom : QBoxLayout::LeftToRight);
}

void OverviewPane::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) {
        applyIcons();
        update();
    }
    QWidget::changeEvent(event);
}
