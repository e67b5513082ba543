// The list is a tree view whose expansion follows the pane's own set of open events, so that a new
// event arriving (which resets the model) leaves the open ones open.
#include "Kestrune/Screens/ActivityPane.h"

#include "Kestrune/Engines/ActivityEngine.h"
#include "Kestrune/Screens/ActivityModel.h"
#include "Kestrune/Screens/ChartPalette.h"
#include "Kestrune/Screens/Desktop.h"
#include "Kestrune/Screens/Format.h"
#include "Kestrune/Screens/Icons.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

using Role = ActivityModel::Role;

QColor orange() {
    return QColor(0xe0, 0x7a, 0x10);
}

QColor kindColour(ActivityKind kind, const QPalette& palette) {
    switch (kind) {
    case ActivityKind::reclaim:
    case ActivityKind::uninstall:
    case ActivityKind::appReset:
        return orange();
    case ActivityKind::error:
        return QColor(0xd7, 0x37, 0x2f);
    case ActivityKind::scan:
    case ActivityKind::maintenance:
    case ActivityKind::diskMap:
        return palette.color(QPalette::Highlight);
    }
    return palette.color(QPalette::Highlight);
}

QFont scaled(const QFont& base, double scale, QFont::Weight weight = QFont::Normal) {
    QFont f = base;
    f.setPointSizeF(base.pointSizeF() * scale);
    f.setWeight(weight);
    return f;
}

QFont mono(const QFont& base) {
    QFont f(QStringLiteral("DejaVu Sans Mono"));
    f.setStyleHint(QFont::Monospace);
    f.setPointSizeF(base.pointSizeF() * 0.85);
    return f;
}

constexpr int pad = 9;
constexpr int iconColumn = 20;
constexpr int textLeft = 14 + iconColumn + 10;

// Where each line of an event row goes; sizeHint and paint share it, and so does the toggle's hit test.
struct EventLines {
    QRect title, detail, size, toggle;
    int height = 0;
};

EventLines eventLines(const QRect& rect, const QFont& font, const QModelIndex& index) {
    const int titleH = QFontMetrics(scaled(font, 1.0, QFont::DemiBold)).height();
    const int lineH = QFontMetrics(font).height();
    const int smallH = QFontMetrics(scaled(font, 0.85)).height();
    const int left = rect.left() + textLeft;
    const int width = std::max(0, rect.right() - 14 - left);
    EventLines l;
    int y = rect.top() + pad;
    l.title = QRect(left, y, width, titleH);
    y += titleH + 2;
    if (!index.data(int(Role::detail)).toString().isEmpty()) {
        l.detail = QRect(left, y, width, lineH);
        y += lineH + 2;
    }
    if (index.data(int(Role::shownBytes)).toLongLong() >= 1) {
        l.size = QRect(left, y, width, smallH);
        y += smallH + 2;
    }
    if (index.data(int(Role::pathCount)).toInt() > 0) {
        l.toggle = QRect(left, y + 2, width, lineH);
        y += lineH + 4;
    }
    l.height = y + pad - 2 - rect.top();
    return l;
}

QString toggleLabel(int n, bool open) {
    return open ? ActivityPane::tr("Hide %1 paths").arg(n) : ActivityPane::tr("Show %1 paths").arg(n);
}

class ActivityDelegate final : public QStyledItemDelegate {
public:
    ActivityDelegate(const std::set<Uuid>& opened, QObject* parent)
        : QStyledItemDelegate(parent), openEvents(opened) {}

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        if (index.data(int(Role::isPath)).toBool()) {
            const int lineH = QFontMetrics(mono(option.font)).height() + 4;
            const bool error = !index.data(int(Role::error)).toString().isEmpty();
            return {200, lineH + (error ? QFontMetrics(scaled(option.font, 0.85)).height() + 2 : 0) + 2};
        }
        return {200, eventLines(QRect(0, 0, 400, 0), option.font, index).height};
    }

    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        p->save();
        p->setRenderHint(QPainter::Antialiasing);
        const QPalette& pal = option.palette;
        const QColor text = pal.color(QPalette::WindowText);
        const QColor secondary = ChartPalette::secondaryText(pal);
        if (option.state & QStyle::State_Selected) {
            QColor fill = pal.color(QPalette::Highlight);
            fill.setAlphaF(0.14f);
            p->fillRect(option.rect, fill);
        }
        if (index.data(int(Role::isPath)).toBool()) {
            paintPath(p, option, index, secondary);
        } else {
            paintEventRow(p, option, index, text, secondary);
        }
        p->restore();
    }

private:
    void paintEventRow(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index,
                       const QColor& text, const QColor& secondary) const {
        const EventLines l = eventLines(option.rect, option.font, index);
        const auto kind = ActivityKind(index.data(int(Role::kind)).toInt());
        // The event's symbol, drawn in its kind's colour.
        const QModelIndex source = index;
        ActivityEvent probe;
        probe.kind = kind;
        const std::string symbol(probe.symbol());
        QPixmap glyph = Icons::symbol(symbol, option.palette).pixmap(16, 16);
        {
            QPainter tint(&glyph);
            tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
            tint.fillRect(glyph.rect(), kindColour(kind, option.palette));
        }
        p->drawPixmap(option.rect.left() + 14 + (iconColumn - 16) / 2,
                      l.title.top() + (l.title.height() - 16) / 2, 16, 16, glyph);

        const QFont titleFont = scaled(option.font, 1.0, QFont::DemiBold);
        const QFont small = scaled(option.font, 0.85);
        const QString title = source.data(Qt::DisplayRole).toString();
        const QString date =
            QLocale().toString(source.data(int(Role::date)).toDateTime(), QLocale::ShortFormat);
        const int dateW = QFontMetrics(small).horizontalAdvance(date);
        const QString shownTitle = QFontMetrics(titleFont).elidedText(
            title, Qt::ElideRight, std::max(40, l.title.width() - dateW - 12));
        p->setFont(titleFont);
        p->setPen(text);
        p->drawText(l.title, Qt::AlignLeft | Qt::AlignVCenter, shownTitle);
        const int titleW = QFontMetrics(titleFont).horizontalAdvance(shownTitle);
        p->setFont(small);
        p->setPen(secondary);
        p->drawText(l.title.adjusted(titleW + 10, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, date);
        if (!l.detail.isEmpty()) {
            p->setFont(option.font);
            p->setPen(secondary);
            p->drawText(l.detail, Qt::AlignLeft | Qt::AlignVCenter,
                        option.fontMetrics.elidedText(index.data(int(Role::detail)).toString(),
                                                      Qt::ElideRight, l.detail.width()));
        }
        if (!l.size.isEmpty()) {
            p->setFont(small); // DejaVu's digits are all of one width
            p->setPen(secondary);
            p->drawText(l.size, Qt::AlignLeft | Qt::AlignVCenter,
                        Format::human(index.data(int(Role::shownBytes)).toLongLong()));
        }
        if (!l.toggle.isEmpty()) {
            const bool isOpen = openEvents.contains(
                Uuid::parse(index.data(int(Role::id)).toString().toStdString()).value_or(Uuid{}));
            const QIcon chevron = Icons::symbol(isOpen ? "chevron.down" : "chevron.right", option.palette);
            const int h = l.toggle.height();
            chevron.paint(p, QRect(l.toggle.left(), l.toggle.top() + (h - 12) / 2, 12, 12));
            p->setFont(option.font);
            p->setPen(option.palette.color(QPalette::Link));
            p->drawText(l.toggle.adjusted(16, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                        toggleLabel(index.data(int(Role::pathCount)).toInt(), isOpen));
        }
        QColor rule = text;
        rule.setAlphaF(0.08f);
        p->setPen(rule);
        p->drawLine(option.rect.bottomLeft() + QPoint(textLeft, 0), option.rect.bottomRight());
    }

    void paintPath(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index,
                   const QColor& secondary) const {
        const QFont code = mono(option.font);
        const QFont small = scaled(option.font, 0.85);
        const int lineH = QFontMetrics(code).height() + 4;
        // The tree indents children; the path lines align with the event's text instead.
        const int left = textLeft;
        const QRect line(left, option.rect.top() + 1, option.rect.right() - 14 - left, lineH);
        const auto disposition = PathDisposition(index.data(int(Role::disposition)).toInt());
        const bool failed = disposition == PathDisposition::failed;
        p->setFont(small);
        p->setPen(failed ? orange() : secondary);
        p->drawText(QRect(line.left(), line.top(), 56, lineH), Qt::AlignLeft | Qt::AlignVCenter,
                    QString::fromUtf8(ActivityKinds::rawValue(disposition).data()));
        const qint64 bytes = index.data(int(Role::bytes)).toLongLong();
        const QString size = bytes >= 1 ? Format::human(bytes) : QString();
        const QFont& digits = small;
        const int sizeW = size.isEmpty() ? 0 : QFontMetrics(digits).horizontalAdvance(size) + 12;
        const QRect pathRect(line.left() + 60, line.top(), line.width() - 60 - sizeW, lineH);
        p->setFont(code);
        p->setPen(option.palette.color(QPalette::WindowText));
        p->drawText(pathRect, Qt::AlignLeft | Qt::AlignVCenter,
                    QFontMetrics(code).elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideMiddle,
                                                  pathRect.width()));
        if (!size.isEmpty()) {
            p->setFont(digits);
            p->setPen(secondary);
            p->drawText(QRect(line.right() - sizeW, line.top(), sizeW, lineH),
                        Qt::AlignRight | Qt::AlignVCenter, size);
        }
        const QString error = index.data(int(Role::error)).toString();
        if (!error.isEmpty()) {
            p->setFont(small);
            p->setPen(orange());
            const QRect errorRect(pathRect.left(), line.bottom(), line.width() - 60,
                                  QFontMetrics(small).height());
            p->drawText(errorRect, Qt::AlignLeft | Qt::AlignVCenter,
                        QFontMetrics(small).elidedText(error, Qt::ElideRight, errorRect.width()));
        }
    }

    const std::set<Uuid>& openEvents;
};

QLabel* label(QWidget* parent, double scale = 1.0, QFont::Weight weight = QFont::Normal) {
    auto* l = new QLabel(parent);
    l->setFont(scaled(l->font(), scale, weight));
    return l;
}

} // namespace

ActivityPane::ActivityPane(Engines e, QWidget* parent) : QWidget(parent), engines(e) {
    setObjectName(QStringLiteral("activityPane"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 12);
    layout->setSpacing(8);

    auto* top = new QHBoxLayout;
    top->setSpacing(10);
    auto* title = label(this, 1.5, QFont::DemiBold);
    title->setText(tr("History"));
    total = label(this, 1.1, QFont::Medium);
    total->setObjectName(QStringLiteral("lifetimeTotal"));
    total->setForegroundRole(QPalette::PlaceholderText);
    copy = new QPushButton(this);
    copy->setObjectName(QStringLiteral("copyReport"));
    exportReport = new QPushButton(tr("Export…"), this);
    exportReport->setObjectName(QStringLiteral("exportReport"));
    clear = new QPushButton(tr("Clear…"), this);
    clear->setObjectName(QStringLiteral("clearHistory"));
    clear->setAutoRepeat(false);
    QPalette destructive = clear->palette();
    destructive.setColor(QPalette::ButtonText, QColor(0xd7, 0x37, 0x2f));
    clear->setPalette(destructive);
    top->addWidget(title);
    top->addWidget(total, 0, Qt::AlignBaseline);
    top->addStretch(1);
    top->addWidget(copy);
    top->addWidget(exportReport);
    top->addWidget(clear);
    layout->addLayout(top);
    auto* note = label(this, 0.92);
    note->setText(tr("Local audit log for scans and deletions. Copy or export this when filing a bug — it is "
                     "never uploaded automatically."));
    note->setWordWrap(true);
    note->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(note);
    problem = label(this, 0.92);
    problem->setObjectName(QStringLiteral("exportProblem"));
    QPalette warning = problem->palette();
    warning.setColor(QPalette::WindowText, QColor(0xd7, 0x37, 0x2f));
    problem->setPalette(warning);
    problem->setWordWrap(true);
    problem->hide();
    layout->addWidget(problem);

    body = new QStackedWidget(this);
    model = new ActivityModel(engines.activity, this);
    view = new QTreeView(body);
    view->setObjectName(QStringLiteral("activityList"));
    view->setModel(model);
    view->setHeaderHidden(true);
    view->setRootIsDecorated(false);
    view->setIndentation(0);
    view->setItemsExpandable(false);
    view->setExpandsOnDoubleClick(false);
    view->setUniformRowHeights(false);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setFrameShape(QFrame::NoFrame);
    view->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    view->setItemDelegate(new ActivityDelegate(expanded, view));
    view->viewport()->installEventFilter(this);
    view->installEventFilter(this);
    view->viewport()->setAutoFillBackground(false);
    empty = new QWidget(body);
    auto* emptyLayout = new QVBoxLayout(empty);
    emptyLayout->addStretch(1);
    icon = new QLabel(empty);
    icon->setPixmap(Icons::symbol("clock.arrow.circlepath", palette()).pixmap(48, 48));
    icon->setAlignment(Qt::AlignCenter);
    auto* emptyTitle = label(empty, 1.3, QFont::DemiBold);
    emptyTitle->setObjectName(QStringLiteral("emptyTitle"));
    emptyTitle->setText(tr("No activity yet"));
    auto* emptyText = label(empty);
    emptyText->setObjectName(QStringLiteral("emptyDescription"));
    emptyText->setText(
        tr("Scans, reclaim actions, uninstalls, and disk-map builds will show up here for support audits."));
    emptyText->setForegroundRole(QPalette::PlaceholderText);
    for (QLabel* l : {icon, emptyTitle, emptyText}) {
        l->setAlignment(Qt::AlignCenter);
        l->setWordWrap(true);
        emptyLayout->addWidget(l);
    }
    emptyLayout->addStretch(2);
    body->addWidget(view);
    body->addWidget(empty);
    layout->addWidget(body, 1);

    connect(copy, &QPushButton::clicked, this, [this] {
        Desktop::copyText(QString::fromStdString(engines.activity.supportReport()));
        copied = true;
        refresh();
        // Each copy keeps its own reset, as a second click within the pause shows again.
        QTimer::singleShot(1500, this, [this] {
            copied = false;
            refresh();
        });
    });
    connect(exportReport, &QPushButton::clicked, this, &ActivityPane::startExport);
    connect(clear, &QPushButton::clicked, this, &ActivityPane::clearRequested);
    connect(model, &QAbstractItemModel::modelReset, this, &ActivityPane::reapplyExpansion);
    connect(&engines.activity, &ActivityEngine::eventsChanged, this, &ActivityPane::refresh);
    connect(&engines.activity, &ActivityEngine::lifetimeReclaimedChanged, this, &ActivityPane::refresh);
    refresh();
}

void ActivityPane::refresh() {
    const bool none = engines.activity.events().empty();
    const std::int64_t lifetime = engines.activity.lifetimeReclaimed();
    total->setText(lifetime >= 1 ? tr("Reclaimed so far %1").arg(Format::human(lifetime)) : QString());
    total->setVisible(lifetime >= 1);
    copy->setText(copied ? tr("Copied") : tr("Copy report"));
    copy->setIcon(Icons::symbol(copied ? "checkmark" : "doc.on.doc", palette()));
    for (QPushButton* b : {copy, exportReport, clear}) {
        b->setEnabled(!none);
    }
    body->setCurrentWidget(none ? empty : static_cast<QWidget*>(view));
}

void ActivityPane::reapplyExpansion() {
    for (const Uuid& id : expanded) {
        if (const QModelIndex i = model->indexOf(id); i.isValid()) {
            view->setExpanded(i, true);
        }
    }
}

void ActivityPane::toggle(const QModelIndex& event) {
    if (!event.isValid() || event.parent().isValid() || model->rowCount(event) == 0) {
        return;
    }
    const Uuid id = model->events()[std::size_t(event.row())].id;
    const bool open = !expanded.contains(id);
    if (open) {
        expanded.insert(id);
    } else {
        expanded.erase(id);
    }
    view->setExpanded(event, open);
    view->viewport()->update();
}

QRect ActivityPane::toggleRect(const QModelIndex& event) const {
    if (!event.isValid() || event.parent().isValid()) {
        return {};
    }
    return eventLines(view->visualRect(event), view->font(), event).toggle;
}

QString ActivityPane::toggleText(const QModelIndex& event) const {
    if (!event.isValid() || event.parent().isValid() || model->rowCount(event) == 0) {
        return {};
    }
    return toggleLabel(model->rowCount(event),
                       expanded.contains(model->events()[std::size_t(event.row())].id));
}

bool ActivityPane::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view->viewport() && event->type() == QEvent::MouseButtonRelease) {
        const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
        const QModelIndex index = view->indexAt(at);
        if (toggleRect(index).contains(at)) {
            toggle(index);
        }
    }
    if (watched == view && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Space || key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            toggle(view->currentIndex());
            return true;
        }
        if (key->matches(QKeySequence::Copy) && view->currentIndex().parent().isValid()) {
            Desktop::copyText(view->currentIndex().data().toString());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ActivityPane::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        icon->setPixmap(Icons::symbol("clock.arrow.circlepath", palette()).pixmap(48, 48));
        refresh();
    }
}

void ActivityPane::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // What was open is forgotten when the pane is left.
    expanded.clear();
    view->collapseAll();
}

void ActivityPane::startExport() {
    if (saveDialog()) {
        return;
    }
    auto* dialog = new QFileDialog(this, tr("Export Activity Report"));
    dialog->setObjectName(QStringLiteral("exportDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setNameFilter(tr("Plain text (*.txt)"));
    dialog->setDefaultSuffix(QStringLiteral("txt"));
    dialog->setDirectory(QDir::homePath());
    dialog->selectFile(QString::fromStdString(ActivityEngine::suggestedReportName()));
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& path) {
        if (path.isEmpty()) {
            return;
        }
        // A report that could not be written is said so, not passed over.
        const bool written = engines.activity.exportReport(QFile::encodeName(path).toStdString());
        problem->setText(written ? QString() : tr("Could not write %1.").arg(path));
        problem->setVisible(!written);
    });
    dialog->open();
}

QFileDialog* ActivityPane::saveDialog() const {
    return findChild<QFileDialog*>(QStringLiteral("exportDialog"));
}

QString ActivityPane::totalText() const {
    return total->isHidden() ? QString() : total->text();
}

bool ActivityPane::isEmptyStateShown() const {
    return body->currentWidget() == empty;
}

QString ActivityPane::exportProblem() const {
    return problem->isHidden() ? QString() : problem->text();
}
