// The pane reads the disk map engine and the scan engine; the reclaim index of the last scan is made
// only while the pane is on screen, once per new set of results.
#include "Kestrune/Screens/DiskMapPane.h"
#include "Kestrune/Screens/Labels.h"

#include "Kestrune/Engines/ScanEngine.h"
#include "Kestrune/Engines/TreemapEngine.h"
#include "Kestrune/Screens/AppActions.h"
#include "Kestrune/Screens/ChartPalette.h"
#include "Kestrune/Screens/Desktop.h"
#include "Kestrune/Screens/Format.h"
#include "Kestrune/Screens/Icons.h"
#include "Kestrune/Screens/TreemapView.h"
#include "KestruneCore/Model/ReclaimIndex.h"

#include <QAction>
#include <QButtonGroup>
#include <QDateTime>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

using Labels::makeSecondary;

QLabel* text(QWidget* parent, double scale = 1.0, QFont::Weight weight = QFont::Normal) {
    auto* l = new QLabel(parent);
    QFont f = l->font();
    f.setPointSizeF(f.pointSizeF() * scale);
    f.setWeight(weight);
    l->setFont(f);
    return l;
}

QPixmap swatch(const QColor& colour, qreal ratio) {
    QPixmap p(QSize(10, 10) * ratio);
    p.setDevicePixelRatio(ratio);
    p.fill(Qt::transparent);
    QPainter painter(&p);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawRoundedRect(QRectF(0, 0, 10, 10), 2.5, 2.5);
    return p;
}

QString lowered(const std::string& title) {
    return QString::fromStdString(title).toLower();
}

} // namespace

QString DiskMapPane::statusText(const TreemapEngine& e) {
    QStringList parts;
    if (e.scopesQueued() > 0) {
        parts
            << tr("%1 of %2").arg(std::min(e.scopesCompleted() + 1, e.scopesQueued())).arg(e.scopesQueued());
    }
    if (!e.progressLabel().empty()) {
        parts << QString::fromStdString(e.progressLabel());
    }
    if (e.directories() > 0) {
        QLocale grouped;
        grouped.setNumberOptions(grouped.numberOptions() & ~QLocale::OmitGroupSeparator);
        parts << tr("%1 folders").arg(grouped.toString(e.directories()));
    }
    if (e.bytesFound() > 0) {
        parts << Format::human(e.bytesFound());
    }
    return parts.join(QStringLiteral(" \u00B7 "));
}

QString DiskMapPane::emptyTitle(const TreemapEngine& e) {
    if (const auto& id = e.buildingScopeID()) {
        if (*id == e.scope().id) {
            return tr("Measuring %1").arg(lowered(e.scope().title));
        }
        for (const auto& root : e.roots()) {
            if (root.id == *id) {
                return tr("Building %1 in the background").arg(lowered(root.title));
            }
        }
    }
    return tr("Measuring disk");
}

DiskMapPane::DiskMapPane(Engines e, AppActions& a, QWidget* parent)
    : QWidget(parent), engines(e), actions(a) {
    setObjectName(QStringLiteral("diskMapPane"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 12);
    layout->setSpacing(8);

    // Title, size, scope picker, Refresh all.
    auto* top = new QHBoxLayout;
    top->setSpacing(10);
    auto* title = text(this, 1.5, QFont::DemiBold);
    title->setText(tr("Disk Map"));
    size = text(this, 1.25, QFont::Medium);
    size->setObjectName(QStringLiteral("mapSize"));
    makeSecondary(size);
    scopeBar = new QWidget(this);
    auto* scopeLayout = new QHBoxLayout(scopeBar);
    scopeLayout->setContentsMargins(0, 0, 0, 0);
    scopeLayout->setSpacing(0);
    scopes = new QButtonGroup(this);
    scopes->setExclusive(true);
    const auto& roots = engines.treemap.roots();
    for (int i = 0; i < int(roots.size()); ++i) {
        auto* b = new QToolButton(scopeBar);
        b->setText(QString::fromStdString(roots[std::size_t(i)].title));
        b->setCheckable(true);
        b->setToolButtonStyle(Qt::ToolButtonTextOnly);
        b->setObjectName(QStringLiteral("scope%1").arg(i));
        scopes->addButton(b, i);
        scopeLayout->addWidget(b);
    }
    refresh = new QPushButton(Icons::symbol("arrow.clockwise", palette()), tr("Refresh all"), this);
    refresh->setObjectName(QStringLiteral("refreshAll"));
    refresh->setToolTip(tr("Rebuild Home, Applications, and Whole disk"));
    top->addWidget(title);
    top->addWidget(size);
    top->addStretch(1);
    top->addWidget(scopeBar);
    top->addSpacing(8);
    top->addWidget(refresh);
    layout->addLayout(top);

    // Breadcrumb on the left, the build's state on the right.
    auto* trailRow = new QHBoxLayout;
    trailRow->setSpacing(4);
    up = new QToolButton(this);
    up->setObjectName(QStringLiteral("upOneLevel"));
    up->setIcon(Icons::symbol("chevron.left", palette()));
    up->setToolTip(tr("Up one level"));
    up->setAccessibleName(tr("Up one level"));
    up->setAutoRaise(true);
    crumbs = new QWidget(this);
    crumbLayout = new QHBoxLayout(crumbs);
    crumbLayout->setContentsMargins(0, 0, 0, 0);
    crumbLayout->setSpacing(2);
    // A deep trail is clipped rather than widening the window.
    crumbs->setMinimumWidth(1);
    progress = new QProgressBar(this);
    progress->setRange(0, 1000);
    progress->setTextVisible(false);
    progress->setFixedSize(110, 6);
    status = text(this, 0.9);
    status->setObjectName(QStringLiteral("buildStatus"));
    makeSecondary(status);
    // Elided to the room it gets, so that a long status never widens the window.
    status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    status->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    status->installEventFilter(this);
    stop = new QPushButton(tr("Stop"), this);
    stop->setObjectName(QStringLiteral("stopBuild"));
    QFont small = stop->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    stop->setFont(small);
    trailRow->addWidget(up);
    trailRow->addWidget(crumbs);
    trailRow->addWidget(status, 1);
    trailRow->addWidget(progress);
    trailRow->addWidget(stop);
    layout->addLayout(trailRow);

    // Legend.
    auto* legend = new QHBoxLayout;
    legend->setSpacing(6);
    const qreal ratio = devicePixelRatioF();
    const std::pair<QColor, QString> keys[] = {{ChartPalette::safe(), tr("Safe to remove")},
                                               {ChartPalette::review(), tr("Needs review")},
                                               {ChartPalette::track(palette()), tr("Not reclaimable")}};
    for (const auto& [colour, name] : keys) {
        auto* box = new QLabel(this);
        box->setPixmap(swatch(colour, ratio));
        trackKey = box; // the last key follows the palette
        auto* label = text(this, 0.9);
        label->setText(name);
        legend->addWidget(box);
        legend->addWidget(label);
        legend->addSpacing(10);
    }
    scanNote = text(this, 0.9);
    scanNote->setObjectName(QStringLiteral("scanNote"));
    scanNote->setText(tr("Run a scan to see what's reclaimable"));
    makeSecondary(scanNote);
    legend->addWidget(scanNote);
    legend->addStretch(1);
    layout->addLayout(legend);

    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setForegroundRole(QPalette::Mid);
    layout->addWidget(line);

    content = new QStackedWidget(this);
    view = new TreemapView(content);
    empty = new QWidget(content);
    auto* emptyLayout = new QVBoxLayout(empty);
    emptyLayout->addStretch(1);
    emptyIcon = new QLabel(empty);
    emptyIcon->setAlignment(Qt::AlignCenter);
    emptyTitleLabel = text(empty, 1.3, QFont::DemiBold);
    emptyTitleLabel->setObjectName(QStringLiteral("emptyTitle"));
    emptyDescription = text(empty);
    emptyDescription->setObjectName(QStringLiteral("emptyDescription"));
    emptyStatus = text(empty, 0.9);
    emptyStatus->setObjectName(QStringLiteral("emptyStatus"));
    makeSecondary(emptyStatus);
    emptyRefresh = new QPushButton(tr("Refresh all"), empty);
    emptyRefresh->setObjectName(QStringLiteral("emptyRefreshAll"));
    emptyRefresh->setDefault(true);
    emptyLayout->addWidget(emptyIcon);
    for (QLabel* l : {emptyTitleLabel, emptyDescription, emptyStatus}) {
        l->setAlignment(Qt::AlignCenter);
        l->setWordWrap(true);
        emptyLayout->addWidget(l);
    }
    emptyLayout->addSpacing(6);
    emptyLayout->addWidget(emptyRefresh, 0, Qt::AlignHCenter);
    emptyLayout->addStretch(2);
    content->addWidget(view);
    content->addWidget(empty);
    layout->addWidget(content, 1);

    connect(scopes, &QButtonGroup::idClicked, this, [this](int i) {
        const auto& all = engines.treemap.roots();
        if (i >= 0 && i < int(all.size())) {
            engines.treemap.setScope(all[std::size_t(i)]);
        }
    });
    connect(refresh, &QPushButton::clicked, this, [this] { (void)engines.treemap.refreshAll(); });
    connect(emptyRefresh, &QPushButton::clicked, this, [this] { (void)engines.treemap.refreshAll(); });
    connect(stop, &QPushButton::clicked, this, [this] {
        stoppedByUser = engines.treemap.isBuilding();
        engines.treemap.cancel();
    });
    connect(up, &QToolButton::clicked, this, [this] { engines.treemap.ascend(); });
    connect(view, &TreemapView::upRequested, this, [this] { engines.treemap.ascend(); });
    connect(view, &TreemapView::drillRequested, this,
            [this](const TreemapEngine::Node& node) { engines.treemap.drill(node); });
    connect(view, &TreemapView::revealRequested, this, &DiskMapPane::reveal);
    connect(view, &TreemapView::contextMenuRequested, this, &DiskMapPane::showMenu);

    // The shared item actions act on the focused tile while this pane is on screen.
    auto focusedPath = [this] {
        const auto node = view->focusedNode();
        return isVisible() && node && !node->isAggregate ? QString::fromStdString(node->path()) : QString();
    };
    connect(actions.revealItem, &QAction::triggered, this, [this, focusedPath] {
        if (const QString path = focusedPath(); !path.isEmpty()) {
            reveal(path);
        }
    });
    connect(actions.openItem, &QAction::triggered, this, [focusedPath] {
        if (const QString path = focusedPath(); !path.isEmpty()) {
            Desktop::open(path);
        }
    });
    connect(actions.copyPath, &QAction::triggered, this, [focusedPath] {
        if (const QString path = focusedPath(); !path.isEmpty()) {
            Desktop::copyText(path);
        }
    });
    connect(actions.drillIn, &QAction::triggered, this, [this] {
        if (isVisible()) {
            engines.treemap.drill(view->focusedNode());
        }
    });

    for (auto signal : {&TreemapEngine::isBuildingChanged, &TreemapEngine::progressChanged,
                        &TreemapEngine::progressLabelChanged, &TreemapEngine::directoriesChanged,
                        &TreemapEngine::bytesFoundChanged, &TreemapEngine::builtAtChanged,
                        &TreemapEngine::buildingScopeIDChanged, &TreemapEngine::scopesCompletedChanged,
                        &TreemapEngine::scopesQueuedChanged, &TreemapEngine::scopeChanged}) {
        connect(&engines.treemap, signal, this, [this] {
            if (isVisible()) {
                refreshHeader();
            }
        });
    }
    connect(&engines.treemap, &TreemapEngine::isBuildingChanged, this, [this] {
        if (engines.treemap.isBuilding()) {
            stoppedByUser = false;
        }
    });
    connect(&engines.treemap, &TreemapEngine::trailChanged, this, [this] {
        if (isVisible()) {
            refreshTrail();
        }
    });
    connect(&engines.scan, &ScanEngine::resultsChanged, this, [this] {
        flagsStale = true;
        if (isVisible()) {
            refreshFlags();
            refreshTrail();
        }
    });
}

void DiskMapPane::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refreshAll();
}

void DiskMapPane::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        emptyIcon->setPixmap(Icons::symbol("square.grid.3x3", palette()).pixmap(48, 48));
        trackKey->setPixmap(swatch(ChartPalette::track(palette()), devicePixelRatioF()));
        refreshHeader();
    }
}

void DiskMapPane::refreshAll() {
    if (flagsStale) {
        refreshFlags();
    }
    refreshTrail();
}

void DiskMapPane::refreshFlags() {
    flagsStale = false;
    flags = engines.scan.results().empty() ? nullptr
                                           : std::make_shared<const ReclaimIndex>(engines.scan.results());
    scanNote->setVisible(engines.scan.results().empty());
}

void DiskMapPane::refreshTrail() {
    const auto& trail = engines.treemap.trail();
    const auto current = engines.treemap.current();
    if (current != view->folder() || flags != view->flagIndex()) {
        view->setFolder(current, flags);
    }
    // The breadcrumb: the scope's title, then each folder drilled into.
    // A crumb may be the sender of the click that changed the trail: it goes once that click is over.
    while (QLayoutItem* item = crumbLayout->takeAt(0)) {
        if (QWidget* old = item->widget()) {
            old->hide();
            old->setObjectName({});
            old->deleteLater();
        }
        delete item;
    }
    for (int i = 0; i < int(trail.size()); ++i) {
        if (i > 0) {
            auto* separator = new QLabel(crumbs);
            separator->setPixmap(Icons::symbol("chevron.right", palette()).pixmap(12, 12));
            crumbLayout->addWidget(separator);
        }
        auto* b = new QToolButton(crumbs);
        b->setObjectName(QStringLiteral("crumb%1").arg(i));
        b->setAutoRaise(true);
        b->setText(i == 0 ? QString::fromStdString(engines.treemap.scope().title)
                          : QString::fromStdString(trail[std::size_t(i)]->name()));
        connect(b, &QToolButton::clicked, this, [this, i] { engines.treemap.popTo(i); });
        crumbLayout->addWidget(b);
    }
    crumbLayout->addStretch(1);
    up->setEnabled(trail.size() >= 2);
    refreshHeader();
}

void DiskMapPane::refreshHeader() {
    const TreemapEngine& t = engines.treemap;
    const auto current = t.current();
    size->setText(current ? Format::human(current->bytes) : QString());
    const auto& roots = t.roots();
    for (int i = 0; i < int(roots.size()); ++i) {
        // The chosen segment in the accent colour: the style's sunken look alone is hard to tell apart.
        QAbstractButton* b = scopes->button(i);
        const bool chosen = roots[std::size_t(i)] == t.scope();
        b->setChecked(chosen);
        QPalette pal = palette();
        if (chosen) {
            pal.setColor(QPalette::Button, pal.color(QPalette::Highlight));
            pal.setColor(QPalette::ButtonText, pal.color(QPalette::HighlightedText));
        }
        b->setPalette(pal);
    }
    refresh->setEnabled(!t.isBuilding());
    progress->setVisible(t.isBuilding());
    stop->setVisible(t.isBuilding());
    progress->setValue(int(std::clamp(t.progress(), 0.0, 1.0) * 1000));
    QString line;
    if (t.isBuilding()) {
        line = statusText(t);
    } else if (stoppedByUser) {
        line = tr("Stopped · %1 of %2 maps built").arg(t.scopesCompleted()).arg(t.scopesQueued());
    } else if (const auto& at = t.builtAt()) {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(at->time_since_epoch()).count();
        line = tr("Built %1")
                   .arg(QLocale().toString(QDateTime::fromMSecsSinceEpoch(ms).time(), QLocale::ShortFormat));
        // Folders the user may not open count nothing in the map; say so, or the sizes look complete.
        if (const auto map = t.builtMap(t.scope().id); map && map->unreadable > 0) {
            line += QStringLiteral(" \u00B7 ") + Format::counted(int(map->unreadable),
                                                                 tr("%1 entry could not be read"),
                                                                 tr("%1 entries could not be read"));
        }
    }
    statusLine = line;
    status->setToolTip(line);
    status->setText(status->fontMetrics().elidedText(line, Qt::ElideRight, status->width()));

    const bool hasMap = current && !current->children.empty();
    content->setCurrentWidget(hasMap ? static_cast<QWidget*>(view) : empty);
    if (!hasMap) {
        emptyIcon->setPixmap(Icons::symbol("square.grid.3x3", palette()).pixmap(48, 48));
        if (t.isBuilding()) {
            emptyTitleLabel->setText(emptyTitle(t));
            emptyDescription->setText(
                tr("Maps build in the background for Home, Applications, and Whole disk."));
            emptyStatus->setText(statusText(t));
            emptyStatus->setVisible(!emptyStatus->text().isEmpty());
            emptyRefresh->hide();
        } else {
            emptyTitleLabel->setText(tr("No map yet"));
            emptyDescription->setText(
                tr("Refresh to measure every byte on disk, not just what Kestrune can reclaim."));
            emptyStatus->clear();
            emptyStatus->hide();
            emptyRefresh->show();
        }
    }
}

void DiskMapPane::reveal(const QString& path) {
    Desktop::revealInFileManager(path);
}

void DiskMapPane::showMenu(const QPoint& globalPos) {
    const auto node = view->focusedNode();
    if (!node || node->isAggregate) {
        return;
    }
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("mapMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(actions.revealItem);
    if (node->isDirectory && !node->children.empty()) {
        menu->addAction(actions.drillIn);
    }
    menu->addSeparator();
    menu->addAction(actions.openItem);
    menu->addAction(actions.copyPath);
    menu->popup(globalPos);
}

bool DiskMapPane::isMapShown() const {
    return content->currentWidget() == view;
}

QString DiskMapPane::emptyTitleText() const {
    return isMapShown() ? QString() : emptyTitleLabel->text();
}

QString DiskMapPane::emptyDescriptionText() const {
    return isMapShown() ? QString() : emptyDescription->text();
}

QString DiskMapPane::emptyStatusText() const {
    return isMapShown() || emptyStatus->isHidden() ? QString() : emptyStatus->text();
}

QString DiskMapPane::buildStatus() const {
    return statusLine;
}

bool DiskMapPane::eventFilter(QObject* watched, QEvent* event) {
    if (watched == status && event->type() == QEvent::Resize) {
        status->setText(status->fontMetrics().elidedText(statusLine, Qt::ElideRight, status->width()));
    }
    return QWidget::eventFilter(watched, event);
}

QString DiskMapPane::sizeText() const {
    return size->text();
}

QStringList DiskMapPane::breadcrumb() const {
    QStringList out;
    for (int i = 0; QToolButton* b = crumb(i); ++i) {
        out << b->text();
    }
    return out;
}

QToolButton* DiskMapPane::crumb(int index) const {
    return crumbs->findChild<QToolButton*>(QStringLiteral("crumb%1").arg(index), Qt::FindDirectChildrenOnly);
}

QToolButton* DiskMapPane::scopeButton(int index) const {
    return qobject_cast<QToolButton*>(scopes->button(index));
}

bool DiskMapPane::isScanNoteShown() const {
    return !scanNote->isHidden();
}
