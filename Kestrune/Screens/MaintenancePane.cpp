#include "Kestrune/Screens/MaintenancePane.h"
#include "Kestrune/Screens/Labels.h"

#include "Kestrune/Engines/MaintenanceEngine.h"
#include "Kestrune/Screens/Card.h"
#include "Kestrune/Screens/ChartPalette.h"
#include "Kestrune/Screens/Desktop.h"
#include "Kestrune/Screens/Icons.h"
#include "Kestrune/Screens/LoginItemModel.h"
#include "Kestrune/Screens/UpdateModel.h"
#include "KestruneCore/Model/Utf8.h"

#include <QEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace {

using Labels::label;
using Labels::secondary;

void colour(QLabel* l, const QColor& c) {
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, c);
    l->setPalette(p);
}

QTreeView* table(QWidget* parent, QAbstractItemModel* model) {
    auto* view = new QTreeView(parent);
    view->setModel(model);
    view->setRootIsDecorated(false);
    view->setUniformRowHeights(true);
    view->setAlternatingRowColors(true);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->header()->setStretchLastSection(false);
    view->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    return view;
}

// A list as tall as its rows (up to a dozen, then it scrolls), so that a short list leaves no hole.
void fitRows(QTreeView* view) {
    const int rows = std::min(view->model()->rowCount(), 12);
    const int row = view->sizeHintForRow(0) > 0 ? view->sizeHintForRow(0) : view->fontMetrics().height() + 6;
    view->setFixedHeight(view->header()->sizeHint().height() + std::max(rows, 1) * row +
                         2 * view->frameWidth());
}

// The success mark's green, readable on light and dark windows.
QColor success() {
    return {0x2e, 0xa0, 0x4f};
}

QString text(const std::string& bytes) {
    return QString::fromStdString(Utf8::valid(bytes));
}

} // namespace

MaintenancePane::MaintenancePane(MaintenanceEngine& e, QWidget* parent) : QWidget(parent), engine(e) {
    setObjectName(QStringLiteral("maintenancePane"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    outer->addWidget(scroll);
    auto* content = new QWidget(scroll);
    scroll->setWidget(content);
    scroll->viewport()->setAutoFillBackground(false);
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(14);

    auto* title = label(content, 1.6, true);
    title->setText(tr("Maintenance"));
    auto* note = secondary(content);
    note->setText(
        tr("Kestrune never asks for an admin password and installs no privileged helper. Tasks that "
           "need root show the command instead."));
    layout->addWidget(title);
    layout->addWidget(note);

    // Tasks.
    tasksBox = new Card(content);
    tasksLayout = new QVBoxLayout(tasksBox);
    tasksLayout->setContentsMargins(16, 12, 16, 12);
    tasksLayout->setSpacing(16);
    layout->addWidget(tasksBox);

    // Updates.
    auto* updatesCard = new Card(content);
    auto* updatesLayout = new QVBoxLayout(updatesCard);
    updatesLayout->setContentsMargins(16, 12, 16, 12);
    auto* updatesTitle = label(updatesCard, 1.15, true);
    updatesTitle->setText(tr("Updates"));
    updatesText = label(updatesCard);
    updatesText->setObjectName(QStringLiteral("updatesStatus"));
    updatesText->setTextFormat(Qt::RichText);
    updates = new UpdateModel(engine, this);
    updateList = table(updatesCard, updates);
    updateList->setObjectName(QStringLiteral("updatesView"));
    updateList->header()->setSectionResizeMode(UpdateModel::Column::name, QHeaderView::Stretch);
    upgradeRow = new QWidget(updatesCard);
    upgradeRow->setLayout(new QHBoxLayout);
    upgradeRow->layout()->setContentsMargins(0, 0, 0, 0);
    updatesLayout->addWidget(updatesTitle);
    updatesLayout->addWidget(updatesText);
    updatesLayout->addWidget(updateList);
    updatesLayout->addWidget(upgradeRow);
    layout->addWidget(updatesCard);

    // Login and background items.
    auto* itemsCard = new Card(content);
    auto* itemsLayout = new QVBoxLayout(itemsCard);
    itemsLayout->setContentsMargins(16, 12, 16, 12);
    auto* itemsTitle = label(itemsCard, 1.15, true);
    itemsTitle->setText(tr("Login & Background Items"));
    auto* itemsNote = secondary(itemsCard);
    itemsNote->setText(
        tr("Working agents stay reveal-only. Broken user agents (missing binary) can be moved to "
           "Trash."));
    broken = label(itemsCard, 0.9);
    broken->setObjectName(QStringLiteral("brokenSummary"));
    broken->setTextFormat(Qt::RichText);
    items = new LoginItemModel(engine, this);
    itemList = table(itemsCard, items);
    itemList->setObjectName(QStringLiteral("itemsView"));
    itemList->header()->setSectionResizeMode(LoginItemModel::Column::program, QHeaderView::Stretch);
    auto* buttons = new QHBoxLayout;
    reveal = new QPushButton(tr("Reveal in File Manager"), itemsCard);
    reveal->setObjectName(QStringLiteral("revealItem"));
    remove = new QPushButton(tr("Remove"), itemsCard);
    remove->setObjectName(QStringLiteral("removeItem"));
    remove->setAutoRepeat(false);
    buttons->addWidget(reveal);
    buttons->addWidget(remove);
    buttons->addStretch(1);
    confirmation = new Card(itemsCard, Card::Tone::warning);
    confirmation->setObjectName(QStringLiteral("removeConfirmation"));
    auto* confirmLayout = new QHBoxLayout(confirmation);
    confirmLayout->setContentsMargins(12, 8, 12, 8);
    confirmText = label(confirmation);
    confirmRemove = new QPushButton(tr("Move to Trash"), confirmation);
    confirmRemove->setObjectName(QStringLiteral("confirmRemove"));
    confirmRemove->setAutoRepeat(false);
    auto* cancelRemove = new QPushButton(tr("Cancel"), confirmation);
    confirmLayout->addWidget(confirmText, 1);
    confirmLayout->addWidget(confirmRemove);
    confirmLayout->addWidget(cancelRemove);
    confirmation->hide();
    removeError = label(itemsCard);
    removeError->setObjectName(QStringLiteral("removalError"));
    colour(removeError, ChartPalette::review());
    removeError->hide();
    itemsLayout->addWidget(itemsTitle);
    itemsLayout->addWidget(itemsNote);
    itemsLayout->addWidget(broken);
    itemsLayout->addWidget(itemList);
    itemsLayout->addLayout(buttons);
    itemsLayout->addWidget(confirmation);
    itemsLayout->addWidget(removeError);
    layout->addWidget(itemsCard);
    layout->addStretch(1);

    connect(&engine, &MaintenanceEngine::tasksChanged, this, &MaintenancePane::buildTasks);
    connect(&engine, &MaintenanceEngine::outcomesChanged, this, &MaintenancePane::refreshTasks);
    connect(&engine, &MaintenanceEngine::runningChanged, this, &MaintenancePane::refreshTasks);
    connect(&engine, &MaintenanceEngine::updatesChanged, this, &MaintenancePane::refreshUpdates);
    connect(&engine, &MaintenanceEngine::loadingChanged, this, &MaintenancePane::refreshUpdates);
    connect(&engine, &MaintenanceEngine::itemsChanged, this, &MaintenancePane::refreshItems);
    connect(&engine, &MaintenanceEngine::outcomesChanged, this, &MaintenancePane::refreshItems);
    connect(itemList->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &MaintenancePane::refreshItems);
    connect(reveal, &QPushButton::clicked, this, [this] {
        if (const auto path = selectedPath(); !path.empty()) {
            Desktop::revealInFileManager(text(path));
        }
    });
    connect(remove, &QPushButton::clicked, this, &MaintenancePane::askRemove);
    connect(cancelRemove, &QPushButton::clicked, this, [this] {
        pendingRemoval.clear();
        confirmation->hide();
    });
    connect(confirmRemove, &QPushButton::clicked, this, [this] {
        confirmation->hide();
        if (!pendingRemoval.empty()) {
            (void)engine.removeItem(std::exchange(pendingRemoval, {}));
        }
    });
    buildTasks();
    refreshUpdates();
    refreshItems();
}

void MaintenancePane::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Each appearance asks afresh: items and updates change behind our back.
    (void)engine.load();
}

void MaintenancePane::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) {
        buildTasks();
        refreshUpdates();
        refreshItems();
    }
    QWidget::changeEvent(event);
}

void MaintenancePane::buildTasks() {
    while (auto* child = tasksLayout->takeAt(0)) {
        delete child->widget();
        delete child;
    }
    rows.clear();
    for (const auto& task : engine.tasks()) {
        auto* row = new QWidget(tasksBox);
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(0, 0, 0, 0);
        line->setSpacing(12);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(3);
        auto* name = label(row, 1.0, true);
        name->setText(text(task.title));
        auto* detail = secondary(row);
        detail->setText(text(task.detail));
        texts->addWidget(name);
        texts->addWidget(detail);
        if (task.command) {
            auto* command = label(row);
            command->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
            command->setText(text(*task.command));
            command->setWordWrap(false);
            command->setTextInteractionFlags(Qt::TextSelectableByMouse);
            command->setObjectName(QStringLiteral("command-") + QString::fromStdString(task.id));
            texts->addWidget(command);
        }
        TaskRow r;
        // One widget for the mark and the sentence: a layout whose widgets are all hidden would cap the
        // width of the column it sits in.
        r.outcomeRow = new QWidget(row);
        auto* outcomeLine = new QHBoxLayout(r.outcomeRow);
        outcomeLine->setContentsMargins(0, 0, 0, 0);
        outcomeLine->setSpacing(6);
        r.icon = new QLabel(r.outcomeRow);
        r.outcome = label(r.outcomeRow);
        r.outcome->setObjectName(QStringLiteral("outcome-") + QString::fromStdString(task.id));
        outcomeLine->addWidget(r.icon, 0, Qt::AlignTop);
        outcomeLine->addWidget(r.outcome, 1);
        r.outcomeRow->hide();
        texts->addWidget(r.outcomeRow);
        line->addLayout(texts, 1);
        r.busy = new QProgressBar(row);
        r.busy->setRange(0, 0); // no known length: the bar moves while the tool runs
        r.busy->setTextVisible(false);
        r.busy->setFixedWidth(70);
        r.busy->setObjectName(QStringLiteral("busy-") + QString::fromStdString(task.id));
        line->addWidget(r.busy, 0, Qt::AlignTop);
        if (task.isRunnable()) {
            r.button = new QPushButton(tr("Run"), row);
            r.button->setProperty("runnable", true);
            const std::string id = task.id;
            connect(r.button, &QPushButton::clicked, this, [this, id] { (void)engine.runTask(id); });
        } else if (task.command) {
            r.button = new QPushButton(tr("Copy command"), row);
            const QString command = text(*task.command);
            connect(r.button, &QPushButton::clicked, this, [command] { Desktop::copyText(command); });
        }
        if (r.button) {
            r.button->setObjectName(QStringLiteral("task-") + QString::fromStdString(task.id));
            r.button->setIcon(Icons::symbol(task.isRunnable() ? "play.fill" : "doc.on.clipboard", palette()));
            line->addWidget(r.button, 0, Qt::AlignTop);
        }
        tasksLayout->addWidget(row);
        rows[task.id] = r;
    }
    refreshTasks();
}

void MaintenancePane::refreshTasks() {
    using Status = Maintenance::TaskOutcome::Status;
    const QPalette p = palette();
    for (auto& [id, row] : rows) {
        const bool running = engine.isRunning(id);
        row.busy->setVisible(running);
        if (row.button && row.button->property("runnable").toBool()) {
            row.button->setEnabled(!running);
        }
        const auto found = engine.outcomes().find(id);
        if (found == engine.outcomes().end()) {
            row.outcomeRow->hide();
            continue;
        }
        const auto& outcome = found->second;
        // A failure is never shown with the success mark.
        const QColor tone = outcome.status == Status::done     ? success()
                            : outcome.status == Status::failed ? ChartPalette::review()
                                                               : ChartPalette::secondaryText(p);
        const char* icon = outcome.status == Status::done     ? "checkmark.circle.fill"
                           : outcome.status == Status::failed ? "exclamationmark.triangle.fill"
                                                              : "info.circle";
        QPalette tinted = p;
        tinted.setColor(QPalette::WindowText, tone);
        row.icon->setPixmap(Icons::symbol(icon, tinted).pixmap(16, 16));
        row.icon->setProperty("status", static_cast<int>(outcome.status));
        row.outcome->setText(text(outcome.sentence));
        colour(row.outcome, tone);
        row.outcomeRow->show();
    }
}

void MaintenancePane::refreshUpdates() {
    const auto& checks = engine.updates();
    delete upgradeRow->layout();
    qDeleteAll(upgradeRow->findChildren<QWidget*>(Qt::FindDirectChildrenOnly));
    auto* buttons = new QHBoxLayout(upgradeRow);
    buttons->setContentsMargins(0, 0, 0, 0);
    const QString secondaryColour = ChartPalette::secondaryText(palette()).name();
    if (engine.isLoading() && checks.empty()) {
        updatesText->setText(QStringLiteral("<span style='color:%1'>%2</span>")
                                 .arg(secondaryColour, tr("Checking for updates…").toHtmlEscaped()));
    } else if (checks.empty()) {
        updatesText->setText(
            QStringLiteral("<span style='color:%1'>%2</span>")
                .arg(
                    secondaryColour,
                    tr("No update source was found: neither Flatpak nor Homebrew is installed, so Kestrune "
                       "can't "
                       "check app versions. It doesn't maintain its own catalogue of update feeds — those go "
                       "stale silently.")
                        .toHtmlEscaped()));
    } else {
        QStringList lines;
        for (const auto& check : checks) {
            const QString source = QString::fromStdString(Updater::name(check.source));
            if (check.failure) {
                lines << QStringLiteral("<span style='color:%1'>⚠ %2</span>")
                             .arg(ChartPalette::review().name(), tr("%1: couldn't check for updates. %2")
                                                                     .arg(source, text(*check.failure))
                                                                     .toHtmlEscaped());
            } else if (check.outdated.empty()) {
                lines << QStringLiteral("<span style='color:%1'>✔ %2</span>")
                             .arg(success().name(),
                                  tr("Everything from %1 is up to date.").arg(source).toHtmlEscaped());
            } else {
                const int n = static_cast<int>(check.outdated.size());
                lines << (n == 1 ? tr("%1: 1 update available.").arg(source)
                                 : tr("%1: %2 updates available.").arg(source).arg(n))
                             .toHtmlEscaped();
                auto* copy = new QPushButton(tr("Copy upgrade command"), upgradeRow);
                const QString command = QString::fromStdString(Updater::upgradeCommand(check.source));
                copy->setObjectName(QStringLiteral("upgrade-") + source.toLower());
                copy->setToolTip(command);
                copy->setIcon(Icons::symbol("doc.on.clipboard", palette()));
                connect(copy, &QPushButton::clicked, this, [command] { Desktop::copyText(command); });
                auto* shown = label(upgradeRow);
                shown->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
                shown->setText(command);
                shown->setWordWrap(false);
                buttons->addWidget(copy);
                buttons->addWidget(shown);
            }
        }
        if (engine.isLoading()) {
            lines << tr("Checking for updates…").toHtmlEscaped();
        }
        updatesText->setText(lines.join(QStringLiteral("<br>")));
    }
    buttons->addStretch(1);
    updateList->setVisible(updates->rowCount() > 0);
    fitRows(updateList);
    upgradeRow->setVisible(buttons->count() > 1);
}

std::string MaintenancePane::selectedPath() const {
    const QModelIndex current = itemList->currentIndex();
    if (!current.isValid()) {
        return {};
    }
    return engine.items()[static_cast<std::size_t>(current.row())].path;
}

void MaintenancePane::refreshItems() {
    const auto& all = engine.items();
    fitRows(itemList);
    const auto count =
        std::count_if(all.begin(), all.end(), [](const BackgroundItem& i) { return i.isBroken(); });
    broken->setVisible(count > 0);
    broken->setText(QStringLiteral("<span style='color:%1'>⚠ %2</span>")
                        .arg(ChartPalette::review().name(), tr("%1 broken — binary missing").arg(count)));
    const QModelIndex current = itemList->currentIndex();
    const BackgroundItem* item = current.isValid() && current.row() < static_cast<int>(all.size())
                                     ? &all[static_cast<std::size_t>(current.row())]
                                     : nullptr;
    reveal->setEnabled(item != nullptr);
    remove->setEnabled(item && item->isBroken() && item->isUserWritable);
    // Only a broken item of the user's own offers removal.
    remove->setVisible(std::any_of(all.begin(), all.end(),
                                   [](const BackgroundItem& i) { return i.isBroken() && i.isUserWritable; }));
    reveal->setIcon(Icons::symbol("magnifyingglass", palette()));
    remove->setIcon(Icons::symbol("trash", palette()));
    QString error;
    for (const auto& [key, outcome] : engine.outcomes()) {
        if (key.starts_with("login-")) {
            error = text(outcome.sentence);
        }
    }
    removeError->setText(error);
    removeError->setVisible(!error.isEmpty());
}

void MaintenancePane::askRemove() {
    const QModelIndex current = itemList->currentIndex();
    if (!current.isValid() || !remove->isEnabled()) {
        return;
    }
    const BackgroundItem& item = engine.items()[static_cast<std::size_t>(current.row())];
    pendingRemoval = item.path;
    confirmText->setText(
        tr("Move “%1” to the Trash? Its program is missing, so it starts nothing; you can put it "
           "back from the Trash.")
            .arg(text(item.label)));
    confirmation->show();
}

QPushButton* MaintenancePane::taskButton(const std::string& id) const {
    const auto it = rows.find(id);
    return it == rows.end() ? nullptr : it->second.button;
}

QProgressBar* MaintenancePane::taskBusy(const std::string& id) const {
    const auto it = rows.find(id);
    return it == rows.end() ? nullptr : it->second.busy;
}

QLabel* MaintenancePane::taskOutcome(const std::string& id) const {
    const auto it = rows.find(id);
    return it == rows.end() ? nullptr : it->second.outcome;
}
