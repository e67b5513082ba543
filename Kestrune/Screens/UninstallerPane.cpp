#include "Kestrune/Screens/UninstallerPane.h"
#include "Kestrune/Screens/Labels.h"

#include "Kestrune/Engines/UninstallEngine.h"
#include "Kestrune/Screens/AppListModel.h"
#include "Kestrune/Screens/Card.h"
#include "Kestrune/Screens/ConfirmSheet.h"
#include "Kestrune/Screens/Format.h"
#include "Kestrune/Screens/Icons.h"
#include "Kestrune/Screens/SheetOverlay.h"
#include "Kestrune/Screens/SupportFileModel.h"
#include "KestruneCore/Activity/ActivityEvent.h"
#include "KestruneCore/Platform/Home.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

using Labels::label;
using Labels::makeSecondary;

// One application row: icon, name, usage below it, size on the right.
class AppRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return {200, option.fontMetrics.height() * 2 + 14};
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem base = option;
        initStyleOption(&base, index);
        base.text.clear();
        base.icon = QIcon();
        option.widget->style()->drawControl(QStyle::CE_ItemViewItem, &base, painter, option.widget);
        const bool selected = option.state & QStyle::State_Selected;
        const QPalette& palette = option.palette;
        const QColor text = palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
        QColor secondary = text;
        secondary.setAlphaF(0.65f);
        const QRect r = option.rect.adjusted(8, 6, -8, -6);
        const int iconSize = r.height();
        index.data(Qt::DecorationRole)
            .value<QIcon>()
            .paint(painter, QRect(r.left(), r.top(), iconSize, iconSize));
        const QString sizeText = Format::human(index.data(int(AppListModel::Role::bytes)).toLongLong());
        const int sizeWidth = option.fontMetrics.horizontalAdvance(sizeText) + 4;
        QRect textRect(r.left() + iconSize + 8, r.top(), r.width() - iconSize - 8 - sizeWidth - 8,
                       r.height() / 2);
        painter->save();
        QFont bold = option.font;
        bold.setBold(true);
        painter->setFont(bold);
        painter->setPen(text);
        painter->drawText(
            textRect, Qt::AlignLeft | Qt::AlignVCenter,
            QFontMetrics(bold).elidedText(index.data().toString(), Qt::ElideRight, textRect.width()));
        painter->setFont(option.font);
        painter->setPen(secondary);
        textRect.translate(0, r.height() / 2);
        painter->drawText(
            textRect, Qt::AlignLeft | Qt::AlignVCenter,
            option.fontMetrics.elidedText(index.data(int(AppListModel::Role::subtitle)).toString(),
                                          Qt::ElideRight, textRect.width()));
        painter->setPen(text);
        painter->drawText(QRect(r.right() - sizeWidth, r.top(), sizeWidth, r.height()),
                          Qt::AlignRight | Qt::AlignVCenter, sizeText);
        painter->restore();
    }
};

QString supportItems(int n) {
    return Format::counted(n, QObject::tr("%1 support item"), QObject::tr("%1 support items"));
}

} // namespace

UninstallerPane::UninstallerPane(Engines e, QWidget* parent) : QWidget(parent), engines(e) {
    setObjectName(QStringLiteral("uninstallerPane"));
    UninstallEngine& engine = engines.uninstall;
    apps = new AppListModel(engine, this);
    files = new SupportFileModel(engine, this);

    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* split = new QSplitter(Qt::Horizontal, this);
    split->setChildrenCollapsible(false);
    outer->addWidget(split);

    // Left column: search, count and order, the list.
    auto* left = new QWidget(split);
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(12, 12, 8, 12);
    leftLayout->setSpacing(8);
    search = new QLineEdit(left);
    search->setObjectName(QStringLiteral("appSearch"));
    search->setPlaceholderText(tr("Search apps"));
    search->addAction(Icons::symbol("magnifyingglass", palette()), QLineEdit::LeadingPosition);
    auto* clear =
        search->addAction(Icons::symbol("xmark.circle.fill", palette()), QLineEdit::TrailingPosition);
    clear->setObjectName(QStringLiteral("clearSearch"));
    clear->setToolTip(tr("Clear search"));
    clear->setVisible(false);
    leftLayout->addWidget(search);
    auto* countRow = new QHBoxLayout;
    count = label(left);
    count->setObjectName(QStringLiteral("appCount"));
    makeSecondary(count);
    sort = new QComboBox(left);
    sort->setObjectName(QStringLiteral("appSort"));
    for (const auto s : AppListing::allSorts) {
        sort->addItem(tr(std::string(AppListing::rawValue(s)).c_str()), int(s));
    }
    countRow->addWidget(count, 1);
    countRow->addWidget(sort);
    leftLayout->addLayout(countRow);
    list = new QListView(left);
    list->setObjectName(QStringLiteral("appList"));
    list->setModel(apps);
    list->setItemDelegate(new AppRowDelegate(list));
    list->setUniformItemSizes(true);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    leftLayout->addWidget(list, 1);
    left->setMinimumWidth(260);

    sides = new QStackedWidget(split);
    split->addWidget(left);
    split->addWidget(sides);
    split->setStretchFactor(1, 1);
    split->setSizes({320, 600});

    // Overview.
    auto* scroll = new QScrollArea(sides);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* overview = new QWidget(scroll);
    overview->setObjectName(QStringLiteral("appsOverview"));
    scroll->setWidget(overview);
    auto* ov = new QVBoxLayout(overview);
    ov->setContentsMargins(20, 16, 20, 16);
    ov->setSpacing(12);
    auto* title = label(overview, 1.6, true);
    title->setText(tr("Applications"));
    overviewLine = label(overview, 1.05);
    overviewLine->setObjectName(QStringLiteral("appsOverviewLine"));
    auto* note = label(overview);
    note->setWordWrap(true);
    note->setText(
        tr("Nothing is removed until you pick an app and confirm. Kestrune lists every support file it "
           "would take with it first."));
    makeSecondary(note);
    ov->addWidget(title);
    ov->addWidget(overviewLine);
    ov->addWidget(note);
    auto card = [&](const QString& heading, QLabel** headCount, QVBoxLayout** body, QPushButton** all,
                    const QString& objectName) {
        auto* c = new Card(overview);
        c->setObjectName(objectName);
        auto* l = new QVBoxLayout(c);
        l->setContentsMargins(16, 12, 16, 12);
        l->setSpacing(6);
        auto* head = new QHBoxLayout;
        auto* t = label(c, 1.1, true);
        t->setText(heading);
        head->addWidget(t, 1);
        if (headCount) {
            *headCount = label(c);
            makeSecondary(*headCount);
            head->addWidget(*headCount);
        }
        l->addLayout(head);
        *body = new QVBoxLayout;
        (*body)->setSpacing(4);
        l->addLayout(*body);
        if (all) {
            *all = new QPushButton(c);
            (*all)->setFlat(true);
            (*all)->setCursor(Qt::PointingHandCursor);
            (*all)->setObjectName(objectName + QStringLiteral("ShowAll"));
            auto* row = new QHBoxLayout;
            row->addWidget(*all);
            row->addStretch(1);
            l->addLayout(row);
            connect(*all, &QPushButton::clicked, this,
                    [this] { sort->setCurrentIndex(sort->findData(int(AppSort::leastUsed))); });
        }
        ov->addWidget(c);
    };
    card(tr("Never opened"), &neverCount, &neverBody, &neverAll, QStringLiteral("neverOpenedCard"));
    card(tr("Not opened in six months"), &staleCount, &staleBody, &staleAll, QStringLiteral("staleCard"));
    card(tr("Largest"), nullptr, &largestBody, nullptr, QStringLiteral("largestCard"));
    ov->addStretch(1);
    sides->addWidget(scroll);

    // Detail.
    auto* detail = new QWidget(sides);
    detail->setObjectName(QStringLiteral("appDetail"));
    auto* dl = new QVBoxLayout(detail);
    dl->setContentsMargins(20, 16, 20, 16);
    dl->setSpacing(10);
    auto* header = new QHBoxLayout;
    header->setSpacing(12);
    icon = new QLabel(detail);
    icon->setFixedSize(44, 44);
    auto* names = new QVBoxLayout;
    names->setSpacing(2);
    name = label(detail, 1.4, true);
    name->setObjectName(QStringLiteral("appName"));
    path = label(detail);
    path->setObjectName(QStringLiteral("appPath"));
    path->setTextInteractionFlags(Qt::TextSelectableByMouse);
    makeSecondary(path);
    names->addWidget(name);
    names->addWidget(path);
    size = label(detail, 1.1, true);
    size->setObjectName(QStringLiteral("appSize"));
    close = new QToolButton(detail);
    close->setObjectName(QStringLiteral("closeDetail"));
    close->setIcon(Icons::symbol("xmark.circle.fill", palette()));
    close->setAutoRaise(true);
    close->setToolTip(tr("Close — back to the overview"));
    header->addWidget(icon);
    header->addLayout(names, 1);
    header->addWidget(size);
    header->addWidget(close, 0, Qt::AlignTop);
    dl->addLayout(header);
    running = label(detail);
    running->setObjectName(QStringLiteral("appRunning"));
    running->setWordWrap(true);
    dl->addWidget(running);
    supportHeading = label(detail, 1.1, true);
    supportHeading->setObjectName(QStringLiteral("supportHeading"));
    dl->addWidget(supportHeading);
    searching = label(detail);
    searching->setText(tr("Looking for support files…"));
    makeSecondary(searching);
    dl->addWidget(searching);
    emptyState = new QWidget(detail);
    emptyState->setObjectName(QStringLiteral("noSupportFiles"));
    auto* el = new QVBoxLayout(emptyState);
    el->setContentsMargins(0, 24, 0, 24);
    auto* emptyTitle = label(emptyState, 1.1, true);
    emptyTitle->setText(tr("No support files found"));
    emptyTitle->setAlignment(Qt::AlignCenter);
    auto* emptyNote = label(emptyState);
    emptyNote->setText(tr("Only the app bundle will be removed."));
    emptyNote->setAlignment(Qt::AlignCenter);
    makeSecondary(emptyNote);
    el->addWidget(emptyTitle);
    el->addWidget(emptyNote);
    dl->addWidget(emptyState);
    supportView = new QTreeView(detail);
    supportView->setObjectName(QStringLiteral("supportFiles"));
    supportView->setModel(files);
    supportView->setRootIsDecorated(false);
    supportView->setUniformRowHeights(true);
    supportView->setAlternatingRowColors(true);
    supportView->header()->setStretchLastSection(false);
    supportView->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    supportView->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    dl->addWidget(supportView, 1);
    lastRemoved = label(detail);
    lastRemoved->setObjectName(QStringLiteral("lastRemoved"));
    lastRemoved->setWordWrap(true);
    errors = label(detail);
    errors->setObjectName(QStringLiteral("removalErrors"));
    errors->setWordWrap(true);
    errors->setTextFormat(Qt::PlainText);
    commandRow = new QWidget(detail);
    auto* cl = new QHBoxLayout(commandRow);
    cl->setContentsMargins(0, 0, 0, 0);
    auto* commandNote = label(commandRow);
    commandNote->setText(tr("Removing it needs administrator rights:"));
    command = new QLineEdit(commandRow);
    command->setObjectName(QStringLiteral("removalCommand"));
    command->setReadOnly(true);
    auto* copy = new QPushButton(Icons::symbol("doc.on.clipboard", palette()), tr("Copy"), commandRow);
    copy->setObjectName(QStringLiteral("copyCommand"));
    cl->addWidget(commandNote);
    cl->addWidget(command, 1);
    cl->addWidget(copy);
    dl->addWidget(lastRemoved);
    dl->addWidget(errors);
    dl->addWidget(commandRow);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    reset = new QPushButton(tr("Reset"), detail);
    reset->setObjectName(QStringLiteral("resetApp"));
    reset->setToolTip(tr("Delete settings and data but keep the app installed"));
    reset->setAutoRepeat(false);
    uninstall = new QPushButton(Icons::symbol("trash", palette()), tr("Uninstall"), detail);
    uninstall->setObjectName(QStringLiteral("uninstallApp"));
    uninstall->setDefault(true);
    uninstall->setAutoRepeat(false);
    buttons->addWidget(reset);
    buttons->addWidget(uninstall);
    dl->addLayout(buttons);
    sides->addWidget(detail);

    sheets = new SheetOverlay(this);

    connect(search, &QLineEdit::textChanged, this, [this, clear](const QString& text) {
        clear->setVisible(!text.isEmpty());
        apps->setSearch(text);
    });
    connect(clear, &QAction::triggered, search, &QLineEdit::clear);
    connect(sort, &QComboBox::currentIndexChanged, this,
            [this] { apps->setSort(AppSort(sort->currentData().toInt())); });
    connect(apps, &QAbstractItemModel::modelReset, this, &UninstallerPane::updateCount);
    connect(list, &QListView::clicked, this, &UninstallerPane::pick);
    connect(list, &QListView::activated, this, &UninstallerPane::pick);
    connect(close, &QToolButton::clicked, this, [this] { (void)engines.uninstall.select(std::nullopt); });
    connect(copy, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(command->text()); });
    connect(reset, &QPushButton::clicked, this, &UninstallerPane::requestReset);
    connect(uninstall, &QPushButton::clicked, this, &UninstallerPane::requestUninstall);
    connect(sheets, &SheetOverlay::dismissRequested, sheets, &SheetOverlay::close);
    connect(&engine, &UninstallEngine::appsChanged, this, &UninstallerPane::updateOverview);
    connect(&engine, &UninstallEngine::selectionChanged, this, &UninstallerPane::updateDetail);
    connect(&engine, &UninstallEngine::removingChanged, this, &UninstallerPane::updateButtons);
    connect(&engine, &UninstallEngine::outcomeChanged, this, &UninstallerPane::updateDetail);
    connect(&engine, &UninstallEngine::loadingChanged, this, &UninstallerPane::updateCount);

    updateOverview();
    updateDetail();
    updateCount();
}

void UninstallerPane::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    (void)engines.uninstall.load();
}

void UninstallerPane::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        updateDetail();
    }
}

void UninstallerPane::pick(const QModelIndex& index) {
    if (const InstalledApp* app = apps->app(index.row())) {
        const auto& selected = engines.uninstall.selectedApp();
        if (!selected || selected->url != app->url) {
            (void)engines.uninstall.select(*app);
        }
    }
}

void UninstallerPane::updateCount() {
    count->setText(engines.uninstall.isLoading()
                       ? tr("Listing apps…")
                       : Format::counted(apps->rowCount(), tr("%1 app"), tr("%1 apps")));
    // Keep the list's selection on the selected application across filtering and sorting.
    const auto& selected = engines.uninstall.selectedApp();
    const int row = selected ? apps->rowOf(selected->id) : -1;
    if (row >= 0) {
        list->setCurrentIndex(apps->index(row));
    } else {
        list->clearSelection();
    }
}

void UninstallerPane::fillCard(QVBoxLayout* body, const std::vector<InstalledApp>& items, std::size_t shown,
                               const QString& emptyText) {
    while (QLayoutItem* item = body->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    auto* holder = body->parentWidget() ? body->parentWidget() : static_cast<QWidget*>(this);
    if (items.empty()) {
        auto* empty = label(holder);
        empty->setText(emptyText);
        empty->setWordWrap(true);
        makeSecondary(empty);
        body->addWidget(empty);
        return;
    }
    for (std::size_t i = 0; i < std::min(shown, items.size()); ++i) {
        const auto& app = items[i];
        auto* row = new QWidget(holder);
        auto* rl = new QHBoxLayout(row);
        rl->setContentsMargins(0, 0, 0, 0);
        auto* iconLabel = new QLabel(row);
        iconLabel->setPixmap(AppListModel::iconOf(app, palette()).pixmap(20, 20));
        auto* nameLabel = new QLabel(QString::fromStdString(app.name), row);
        auto* usage = new QLabel(AppListModel::usageText(app.usage, std::chrono::system_clock::now()), row);
        makeSecondary(usage);
        auto* sizeLabel = new QLabel(Format::human(app.bytes), row);
        rl->addWidget(iconLabel);
        rl->addWidget(nameLabel);
        rl->addWidget(usage, 1);
        rl->addWidget(sizeLabel);
        body->addWidget(row);
    }
}

void UninstallerPane::updateOverview() {
    const auto& all = engines.uninstall.apps();
    overviewLine->setText(Format::counted(int(all.size()), tr("%1 removable app"), tr("%1 removable apps"))
                              .append(QStringLiteral(" \u00B7 "))
                              .append(Format::human(AppListing::totalBytes(all))));
    const auto never = AppListing::neverOpened(all);
    const auto stale = AppListing::stale(all, std::chrono::system_clock::now());
    auto head = [](QLabel* l, const std::vector<InstalledApp>& items) {
        l->setText(items.empty() ? tr("none")
                                 : QStringLiteral("%1 · %2")
                                       .arg(items.size())
                                       .arg(Format::human(AppListing::totalBytes(items))));
    };
    head(neverCount, never);
    head(staleCount, stale);
    fillCard(neverBody, never, 6, tr("Everything installed has been launched at least once."));
    fillCard(staleBody, stale, 6, tr("Everything installed has been opened recently."));
    fillCard(largestBody, all, 5, tr("No applications found."));
    neverAll->setVisible(never.size() >= 7);
    neverAll->setText(tr("Show all %1 in the list").arg(never.size()));
    staleAll->setVisible(stale.size() >= 7);
    staleAll->setText(tr("Show all %1 in the list").arg(stale.size()));
    updateCount();
}

void UninstallerPane::updateDetail() {
    const UninstallEngine& engine = engines.uninstall;
    const auto& app = engine.selectedApp();
    sides->setCurrentIndex(app ? 1 : 0);
    updateCount();
    if (!app) {
        updateButtons();
        return;
    }
    icon->setPixmap(AppListModel::iconOf(*app, palette()).pixmap(44, 44));
    name->setText(QString::fromStdString(app->name));
    path->setText(QString::fromStdString(ActivityPath::displayPath(app->url, Platform::homeFolder())));
    size->setText(tr("%1 total").arg(Format::human(app->bytes)));
    size->setToolTip(app->source == AppSource::flatpak
                         ? tr("The app's own files; runtimes shared with other apps are not counted")
                         : QString());
    const auto state = engine.selectedRunning();
    running->setVisible(state != AppInventory::Running::no);
    running->setText(
        state == AppInventory::Running::yes
            ? tr("%1 is running. Quit it before removing.").arg(QString::fromStdString(app->name))
            : tr("Kestrune cannot tell whether %1 is running. Quit it before removing.")
                  .arg(QString::fromStdString(app->name)));
    const int n = int(engine.leftovers().size());
    searching->setVisible(engine.isSearching());
    supportHeading->setVisible(!engine.isSearching() && n > 0);
    supportHeading->setText(tr("Support files (%1)").arg(n));
    emptyState->setVisible(!engine.isSearching() && n == 0);
    supportView->setVisible(n > 0);
    lastRemoved->setVisible(engine.lastRemoved().has_value());
    lastRemoved->setText(QString::fromStdString(engine.lastRemoved().value_or(std::string())));
    QStringList errorTexts;
    for (const auto& e : engine.errors()) {
        errorTexts << QString::fromStdString(e);
    }
    errors->setVisible(!errorTexts.isEmpty());
    errors->setText(errorTexts.join(QLatin1Char('\n')));
    const std::string needed =
        engine.neededCommand().empty() ? app->privilegedRemoval() : engine.neededCommand();
    commandRow->setVisible(!needed.empty());
    command->setText(QString::fromStdString(needed));
    updateButtons();
}

void UninstallerPane::updateButtons() {
    const UninstallEngine& engine = engines.uninstall;
    const bool busy = engine.isRemoving() || engine.isSearching() || !engine.selectedApp() ||
                      engine.selectedRunning() != AppInventory::Running::no;
    reset->setEnabled(!busy && !engine.selectedLeftovers().empty());
    uninstall->setEnabled(!busy);
    supportView->setEnabled(!engine.isRemoving());
}

void UninstallerPane::requestUninstall() {
    UninstallEngine& engine = engines.uninstall;
    if (!uninstall->isEnabled() || !engine.selectedApp()) {
        return;
    }
    // What needs administrator rights is not done here; the engine answers with the command to copy.
    if (!engine.selectedApp()->privilegedRemoval().empty()) {
        (void)engine.uninstall();
        return;
    }
    const QString appName = QString::fromStdString(engine.selectedApp()->name);
    auto* sheet = new ConfirmSheet(
        tr("Remove %1?").arg(appName.isEmpty() ? tr("this app") : appName),
        tr("The app and %1 go to the Trash — %2. Preferences and local data are included, so restore from "
           "the "
           "Trash if you reinstall.")
            .arg(supportItems(int(engine.selectedLeftovers().size())), Format::human(engine.removalTotal())),
        tr("Move to Trash"), tr("Cancel"));
    sheet->setObjectName(QStringLiteral("uninstallSheet"));
    connect(sheet, &ConfirmSheet::cancelled, sheets, &SheetOverlay::close);
    connect(sheet, &ConfirmSheet::confirmed, this, [this] {
        sheets->close();
        (void)engines.uninstall.uninstall();
    });
    sheets->present(sheet);
}

void UninstallerPane::requestReset() {
    UninstallEngine& engine = engines.uninstall;
    if (!reset->isEnabled() || !engine.selectedApp()) {
        return;
    }
    const auto chosen = engine.selectedLeftovers();
    std::int64_t bytes = 0;
    for (const auto& item : chosen) {
        bytes += item.bytes;
    }
    auto* sheet =
        new ConfirmSheet(tr("Reset %1?").arg(QString::fromStdString(engine.selectedApp()->name)),
                         tr("%1 of settings and data go to the Trash — %2. The app stays installed.")
                             .arg(supportItems(int(chosen.size())), Format::human(bytes)),
                         tr("Move to Trash"), tr("Cancel"));
    sheet->setObjectName(QStringLiteral("resetSheet"));
    connect(sheet, &ConfirmSheet::cancelled, sheets, &SheetOverlay::close);
    connect(sheet, &ConfirmSheet::confirmed, this, [this] {
        sheets->close();
        (void)engines.uninstall.resetApp();
    });
    sheets->present(sheet);
}
