// The tool runs on a thread of its own; its outcome comes back to this pane only if the pane still
// exists, and is recorded in the audit log before a rescan brings the figures up to date.
#include "Kestrune/Screens/CategoryPane.h"
#include "Kestrune/Screens/Labels.h"

#include "Kestrune/Engines/ActivityEngine.h"
#include "Kestrune/Engines/Background.h"
#include "Kestrune/Engines/ScanEngine.h"
#include "Kestrune/Screens/AppActions.h"
#include "Kestrune/Screens/CategoryItemModel.h"
#include "Kestrune/Screens/ChartPalette.h"
#include "Kestrune/Screens/Desktop.h"
#include "Kestrune/Screens/Icons.h"
#include "KestruneCore/Maintenance/ToolCleanup.h"
#include "KestruneCore/Model/DiskMath.h"

#include <QAction>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

CategoryPane::CategoryPane(Engines e, AppActions& actions, QWidget* parent) : QWidget(parent), engines(e) {
    setObjectName(QStringLiteral("categoryPane"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 0);
    layout->setSpacing(10);

    header = new QWidget(this);
    auto* headerLayout = new QGridLayout(header);
    headerLayout->setContentsMargins(0, 0, 0, 0);
    headerLayout->setHorizontalSpacing(12);
    icon = new QLabel(header);
    title = new QLabel(header);
    title->setObjectName(QStringLiteral("categoryTitle"));
    QFont big = title->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.5);
    title->setFont(big);
    size = new QLabel(header);
    size->setObjectName(QStringLiteral("categorySize"));
    size->setFont(big);
    blurb = Labels::secondary(header);
    selectAll = new QCheckBox(header);
    selectAll->setObjectName(QStringLiteral("selectAll"));
    note = new QLabel(header);
    note->setObjectName(QStringLiteral("categoryNote"));
    note->setWordWrap(true);
    headerLayout->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    headerLayout->addWidget(title, 0, 1);
    headerLayout->addWidget(size, 0, 2, Qt::AlignRight);
    headerLayout->addWidget(blurb, 1, 1, 1, 2);
    headerLayout->addWidget(selectAll, 2, 1, 1, 2);
    headerLayout->addWidget(note, 3, 1, 1, 2);
    headerLayout->setColumnStretch(1, 1);
    layout->addWidget(header);

    advisory = new QWidget(this);
    auto* advisoryLayout = new QVBoxLayout(advisory);
    advisoryLayout->setContentsMargins(0, 0, 0, 0);
    advisoryTitle = new QLabel(advisory);
    advisoryTitle->setFont(big);
    advisoryLayout->addWidget(advisoryTitle);
    auto* infoRow = new QHBoxLayout;
    auto* infoIcon = new QLabel(advisory);
    infoIcon->setPixmap(Icons::symbol("info.circle.fill", palette()).pixmap(16, 16));
    auto* info = new QLabel(
        tr("This space cannot be reclaimed by deleting files. Kestrune runs the tool that owns it."),
        advisory);
    info->setWordWrap(true);
    infoRow->addWidget(infoIcon, 0, Qt::AlignTop);
    infoRow->addWidget(info, 1);
    advisoryLayout->addLayout(infoRow);
    auto* commandRow = new QHBoxLayout;
    command = new QLabel(advisory);
    command->setObjectName(QStringLiteral("toolCommand"));
    command->setTextInteractionFlags(Qt::TextSelectableByMouse);
    command->setFont(QFont(QStringLiteral("monospace")));
    copyCommand = new QPushButton(Icons::symbol("doc.on.clipboard", palette()), tr("Copy command"), advisory);
    run = new QPushButton(Icons::symbol("play.fill", palette()), tr("Run"), advisory);
    run->setObjectName(QStringLiteral("runTool"));
    busy = new QProgressBar(advisory);
    busy->setRange(0, 0);
    busy->setFixedWidth(80);
    busy->hide();
    commandRow->addWidget(command, 1);
    commandRow->addWidget(copyCommand);
    commandRow->addWidget(run);
    commandRow->addWidget(busy);
    advisoryLayout->addLayout(commandRow);
    confirmRow = new QWidget(advisory);
    auto* confirmLayout = new QHBoxLayout(confirmRow);
    confirmLayout->setContentsMargins(0, 0, 0, 0);
    auto* question = new QLabel(tr("Run the tool now? Kestrune rescans when it has finished."), confirmRow);
    question->setWordWrap(true);
    confirmRun = new QPushButton(tr("Run"), confirmRow);
    confirmRun->setObjectName(QStringLiteral("confirmRunTool"));
    cancelRun = new QPushButton(tr("Cancel"), confirmRow);
    confirmLayout->addWidget(question, 1);
    confirmLayout->addWidget(cancelRun);
    confirmLayout->addWidget(confirmRun);
    confirmRow->hide();
    advisoryLayout->addWidget(confirmRow);
    outcome = new QLabel(advisory);
    outcome->setObjectName(QStringLiteral("toolOutcome"));
    outcome->setWordWrap(true);
    outcome->setTextInteractionFlags(Qt::TextSelectableByMouse);
    outcome->hide();
    advisoryLayout->addWidget(outcome);
    layout->addWidget(advisory);

    model = new CategoryItemModel(engines, this);
    view = new QTreeView(this);
    view->setObjectName(QStringLiteral("categoryItems"));
    view->setModel(model);
    view->setRootIsDecorated(false);
    view->setUniformRowHeights(true);
    view->setAlternatingRowColors(true);
    view->setSortingEnabled(true);
    view->sortByColumn(CategoryItemModel::sizeColumn, Qt::DescendingOrder);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    view->setFrameShape(QFrame::NoFrame);
    view->header()->setStretchLastSection(false);
    view->header()->setSectionResizeMode(CategoryItemModel::nameColumn, QHeaderView::Stretch);
    view->header()->setSectionResizeMode(CategoryItemModel::locationColumn, QHeaderView::Stretch);
    view->header()->setSectionResizeMode(CategoryItemModel::sizeColumn, QHeaderView::ResizeToContents);
    view->header()->setSectionResizeMode(CategoryItemModel::revealColumn, QHeaderView::Fixed);
    view->header()->resizeSection(CategoryItemModel::revealColumn, 32);
    view->installEventFilter(this);
    layout->addWidget(view, 1);

    connect(selectAll, &QCheckBox::clicked, this, [this](bool on) {
        if (kind) {
            engines.scan.setCategorySelected(*kind, on);
        }
    });
    connect(view, &QTreeView::clicked, this, [this](const QModelIndex& index) {
        if (index.column() == CategoryItemModel::revealColumn) {
            Desktop::revealInFileManager(index.data(int(CategoryItemModel::Role::path)).toString());
        } else if (index.column() != CategoryItemModel::nameColumn) {
            model->toggle(index);
        }
    });
    connect(view, &QTreeView::customContextMenuRequested, this, [this, &actions](const QPoint& point) {
        if (!view->indexAt(point).isValid()) {
            return;
        }
        QMenu* menu = new QMenu(this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->addAction(actions.revealItem);
        menu->addAction(actions.openItem);
        menu->addAction(actions.copyPath);
        menu->popup(view->viewport()->mapToGlobal(point));
    });
    // The item actions act on the current row of whichever category is on screen.
    connect(actions.revealItem, &QAction::triggered, this, [this] {
        if (isVisible() && !currentPath().isEmpty()) {
            Desktop::revealInFileManager(currentPath());
        }
    });
    connect(actions.openItem, &QAction::triggered, this, [this] {
        if (isVisible() && !currentPath().isEmpty()) {
            Desktop::open(currentPath());
        }
    });
    connect(actions.copyPath, &QAction::triggered, this, [this] {
        if (isVisible() && !currentPath().isEmpty()) {
            Desktop::copyText(currentPath());
        }
    });
    connect(copyCommand, &QPushButton::clicked, this, [this] { Desktop::copyText(command->text()); });
    connect(run, &QPushButton::clicked, this, [this] {
        confirmRow->show();
        confirmRun->setFocus();
    });
    connect(cancelRun, &QPushButton::clicked, this, [this] { confirmRow->hide(); });
    connect(confirmRun, &QPushButton::clicked, this, &CategoryPane::runTool);
    connect(&engines.scan, &ScanEngine::resultsChanged, this, &CategoryPane::refreshHeader);
    connect(&engines.scan, &ScanEngine::selectedChanged, this, &CategoryPane::refreshSelectAll);
}

QString CategoryPane::currentPath() const {
    return view->currentIndex().data(int(CategoryItemModel::Role::path)).toString();
}

void CategoryPane::setCategory(CategoryKind value) {
    if (kind != value) {
        outcome->hide();
        outcome->clear();
        confirmRow->hide();
    }
    kind = value;
    model->setCategory(value);
    refreshHeader();
}

void CategoryPane::refreshHeader() {
    if (!kind) {
        return;
    }
    const bool advise = CategoryKinds::action(*kind).kind == ReclaimAction::Kind::advise;
    header->setVisible(!advise);
    advisory->setVisible(advise);
    const QString name = QString::fromUtf8(CategoryKinds::title(*kind));
    const CategoryResult* result = engines.scan.result(*kind);
    const std::int64_t bytes = result ? result->bytes() : 0;
    if (advise) {
        advisoryTitle->setText(name + QStringLiteral(" · ") + QString::fromStdString(DiskMath::human(bytes)));
        command->setText(QString::fromStdString(ToolCleanup::command(*kind)));
        run->setEnabled(!runningTool && ToolCleanup::isRunnable(*kind));
        return;
    }
    icon->setPixmap(Icons::symbol(CategoryKinds::symbol(*kind), palette()).pixmap(32, 32));
    title->setText(name);
    blurb->setText(QString::fromUtf8(CategoryKinds::blurb(*kind)));
    size->setText(QString::fromStdString(DiskMath::human(bytes)));
    selectAll->setText(tr("Select all %1").arg(result ? result->items.size() : 0));
    if (CategoryKinds::action(*kind).kind == ReclaimAction::Kind::evict) {
        note->setText(
            tr("Reclaim evicts local iCloud copies only. Files stay in iCloud and can re-download later."));
        note->setVisible(true);
    } else if (CategoryKinds::safety(*kind) == Safety::review) {
        note->setText(QStringLiteral("<span style='color:%1'>⚠</span> ").arg(ChartPalette::review().name()) +
                      tr("Kestrune is guessing here. Check the list before reclaiming.").toHtmlEscaped());
        note->setVisible(true);
    } else {
        note->setVisible(false);
    }
    refreshSelectAll();
}

void CategoryPane::refreshSelectAll() {
    if (!kind) {
        return;
    }
    const auto state = engines.scan.selectionState(*kind);
    selectAll->setChecked(state.total > 0 && state.checked == state.total);
}

bool CategoryPane::isProblem(const QString& text) {
    return text.contains(QStringLiteral("fail"), Qt::CaseInsensitive) ||
           text.contains(QStringLiteral("n't"), Qt::CaseInsensitive) ||
           text.contains(QStringLiteral("not found"), Qt::CaseInsensitive);
}

QString CategoryPane::noteText() const {
    return note->isHidden() ? QString() : note->text();
}

QString CategoryPane::toolOutcome() const {
    return outcome->isHidden() ? QString() : outcome->text();
}

void CategoryPane::runTool() {
    if (!kind || runningTool) {
        return;
    }
    const CategoryKind which = *kind;
    confirmRow->hide();
    runningTool = true;
    run->setEnabled(false);
    busy->show();
    outcome->hide();
    Background::run(
        this, [which] { return ToolCleanup::run(which); },
        [this, which](std::string text) {
            runningTool = false;
            busy->hide();
            const QString sentence = QString::fromStdString(text);
            outcomeIsProblem = isProblem(sentence);
            outcome->setText(sentence);
            if (outcomeIsProblem) {
                QPalette p = outcome->palette();
                p.setColor(QPalette::WindowText, ChartPalette::review());
                outcome->setPalette(p);
            } else {
                outcome->setPalette(QPalette());
            }
            outcome->show();
            refreshHeader();
            engines.activity.recordMaintenance(std::string(CategoryKinds::title(which)), text);
            (void)engines.scan.scan();
        });
}

bool CategoryPane::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Space && view->currentIndex().isValid()) {
            model->toggle(view->currentIndex());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void CategoryPane::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) {
        refreshHeader();
    }
    QWidget::changeEvent(event);
}
