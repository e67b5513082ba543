#include "Kestrune/Screens/ReclaimSheet.h"
#include "Kestrune/Screens/Labels.h"

#include "Kestrune/Engines/ScanEngine.h"
#include "Kestrune/Screens/ChartPalette.h"
#include "Kestrune/Screens/Format.h"
#include "Kestrune/Screens/Icons.h"
#include "Kestrune/Screens/ReclaimCategoryModel.h"
#include "KestruneCore/Model/Utf8.h"
#include "KestruneCore/Walk/DiskMeasure.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include <algorithm>
#include <set>

namespace {

using Labels::label;
using Labels::makeSecondary;

using Format::counted;
using Format::human;
using Format::percent;

// A category row: the standard tick, icon and title, and the size and selection state at the right.
class CategoryRowDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize s = QStyledItemDelegate::sizeHint(option, index);
        s.setHeight(std::max(s.height(), option.fontMetrics.height() + 12));
        return s;
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        using Role = ReclaimCategoryModel::Role;
        const QString size = human(index.data(int(Role::bytes)).toLongLong());
        const QString state = ReclaimSheet::tr("%1 of %2 selected")
                                  .arg(index.data(int(Role::checked)).toInt())
                                  .arg(index.data(int(Role::total)).toInt());
        // The size column is as wide as the widest figure can be, so the figures line up.
        const int sizeWidth = option.fontMetrics.horizontalAdvance(QStringLiteral("888.88 MB")) + 16;
        const int stateWidth = option.fontMetrics.horizontalAdvance(state) + 16;
        QStyleOptionViewItem left = option;
        left.rect.setWidth(std::max(40, option.rect.width() - sizeWidth - stateWidth));
        QStyledItemDelegate::paint(painter, left, index);
        painter->save();
        const bool selected = option.state & QStyle::State_Selected;
        QColor text =
            selected ? option.palette.color(QPalette::HighlightedText) : option.palette.color(QPalette::Text);
        if (selected) {
            painter->fillRect(QRect(left.rect.right() + 1, option.rect.top(),
                                    option.rect.right() - left.rect.right(), option.rect.height()),
                              option.palette.color(QPalette::Highlight));
        }
        QColor secondary = text;
        secondary.setAlphaF(0.65f);
        painter->setPen(secondary);
        const QRect r = option.rect.adjusted(0, 0, -8, 0);
        painter->drawText(QRect(r.right() - sizeWidth - stateWidth, r.top(), stateWidth, r.height()),
                          Qt::AlignRight | Qt::AlignVCenter, state);
        QFont bold = option.font;
        bold.setBold(true);
        painter->setFont(bold);
        painter->setPen(text);
        painter->drawText(QRect(r.right() - sizeWidth, r.top(), sizeWidth, r.height()),
                          Qt::AlignRight | Qt::AlignVCenter, size);
        painter->restore();
    }
};

// The disk after the reclaim: what is free now and what the reclaim adds.
class ForecastBar final : public QWidget {
public:
    ForecastBar(QWidget* parent, std::function<std::array<std::int64_t, 3>()> figures)
        : QWidget(parent), figures(std::move(figures)) {
        setFixedHeight(12);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        const auto [total, free, gain] = figures();
        const double whole = double(total > 0 ? total : 1);
        const double freeShare = std::clamp(double(free) / whole, 0.0, 1.0);
        const double gainShare = std::clamp(double(gain) / whole, 0.0, 1.0 - freeShare);
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath clip;
        clip.addRoundedRect(QRectF(rect()), 4, 4);
        painter.setClipPath(clip);
        QColor used = palette().color(QPalette::WindowText);
        used.setAlphaF(0.4f);
        const double w = width();
        const double freeLeft = w * (1.0 - freeShare);
        painter.fillRect(rect(), ChartPalette::track(palette()));
        painter.fillRect(QRectF(0, 0, freeLeft, height()), used);
        painter.fillRect(QRectF(freeLeft - w * gainShare, 0, w * gainShare, height()), ChartPalette::safe());
    }

private:
    std::function<std::array<std::int64_t, 3>()> figures;
};

QWidget* card(QWidget* parent, std::string_view symbol, const QString& title, const QString& detail) {
    auto* w = new QWidget(parent);
    auto* layout = new QHBoxLayout(w);
    layout->setContentsMargins(0, 4, 0, 4);
    layout->setSpacing(12);
    auto* icon = new QLabel(w);
    icon->setPixmap(Icons::symbol(symbol, parent->palette()).pixmap(24, 24));
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto* t = label(w, 1.0, true);
    t->setText(title);
    t->setObjectName(QStringLiteral("cardTitle"));
    auto* d = label(w);
    d->setText(detail);
    makeSecondary(d);
    texts->addWidget(t);
    texts->addWidget(d);
    layout->addWidget(icon, 0, Qt::AlignTop);
    layout->addLayout(texts, 1);
    return w;
}

QWidget* numbered(QWidget* parent, int number, const QString& title, QLabel* detail) {
    auto* w = new QWidget(parent);
    auto* layout = new QHBoxLayout(w);
    layout->setContentsMargins(0, 2, 0, 2);
    layout->setSpacing(10);
    auto* badge = new QLabel(QString::number(number), w);
    badge->setFixedSize(20, 20);
    badge->setAlignment(Qt::AlignCenter);
    badge->setStyleSheet(QStringLiteral("background:%1; color:white; border-radius:10px; font-weight:bold;")
                             .arg(ChartPalette::safe().name()));
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto* t = label(w, 1.0, true);
    t->setText(title);
    makeSecondary(detail);
    texts->addWidget(t);
    texts->addWidget(detail);
    layout->addWidget(badge, 0, Qt::AlignTop);
    layout->addLayout(texts, 1);
    return w;
}

} // namespace

ReclaimSheet::ReclaimSheet(Engines e, QWidget* parent) : QWidget(parent), engines(e) {
    setObjectName(QStringLiteral("reclaimSheet"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 18);
    layout->setSpacing(12);
    indicator = label(this, 1.05);
    indicator->setObjectName(QStringLiteral("stepIndicator"));
    indicator->setTextFormat(Qt::RichText);
    indicator->setAlignment(Qt::AlignCenter);
    captionLabel = label(this);
    captionLabel->setObjectName(QStringLiteral("stepCaption"));
    makeSecondary(captionLabel);
    layout->addWidget(indicator);
    layout->addWidget(captionLabel);
    pages = new QStackedWidget(this);
    layout->addWidget(pages, 1);

    // Step 0: Select.
    auto* select = new QWidget(pages);
    auto* selectLayout = new QVBoxLayout(select);
    selectLayout->setContentsMargins(0, 0, 0, 0);
    auto* head = new QHBoxLayout;
    auto* categoriesTitle = label(select, 1.0, true);
    categoriesTitle->setText(tr("Categories"));
    categoriesTitle->setWordWrap(false);
    count = label(select);
    count->setObjectName(QStringLiteral("selectionCount"));
    count->setWordWrap(false);
    makeSecondary(count);
    recommended = new QPushButton(tr("Recommended"), select);
    recommended->setToolTip(tr("Select safe regenerable items only"));
    selectAll = new QPushButton(tr("Select all"), select);
    deselectAll = new QPushButton(tr("Deselect all"), select);
    head->addWidget(categoriesTitle);
    head->addWidget(count);
    head->addStretch(1);
    head->addWidget(recommended);
    head->addWidget(selectAll);
    head->addWidget(deselectAll);
    selectLayout->addLayout(head);
    model = new ReclaimCategoryModel(engines, this);
    list = new QListView(select);
    list->setObjectName(QStringLiteral("reclaimCategories"));
    list->setModel(model);
    list->setItemDelegate(new CategoryRowDelegate(list));
    list->setUniformItemSizes(true);
    list->setIconSize(QSize(16, 16));
    selectLayout->addWidget(list, 1);
    emptyBox = new QWidget(select);
    auto* emptyLayout = new QVBoxLayout(emptyBox);
    auto* emptyTitle = label(emptyBox, 1.05, true);
    emptyTitle->setText(tr("No reclaimable categories yet."));
    emptyTitle->setAlignment(Qt::AlignCenter);
    emptyText = label(emptyBox);
    emptyText->setObjectName(QStringLiteral("emptyExplanation"));
    emptyText->setAlignment(Qt::AlignCenter);
    emptyLayout->addStretch(1);
    emptyLayout->addWidget(emptyTitle);
    emptyLayout->addWidget(emptyText);
    emptyLayout->addStretch(1);
    selectLayout->addWidget(emptyBox, 1);
    pages->addWidget(select);

    // Step 1: Review.
    auto* review = new QWidget(pages);
    auto* reviewLayout = new QVBoxLayout(review);
    reviewLayout->setContentsMargins(0, 0, 0, 0);
    auto* reviewTitle = label(review, 1.0, true);
    reviewTitle->setText(tr("What happens next"));
    reviewLayout->addWidget(reviewTitle);
    cards[0] = card(
        review, "icloud.and.arrow.down", tr("iCloud copies are evicted locally"),
        tr("Files stay in iCloud. Opening one later re-downloads it. Nothing is deleted from the cloud."));
    cards[1] = card(review, "trash", tr("Other items move to Trash"),
                    tr("File Manager → Trash lists everything Kestrune moved. Nothing is erased yet."));
    cards[2] = card(review, "arrow.uturn.backward", tr("Restore anything you need"),
                    tr("Open Trash, select an item, click Put Back — or drag it back to its folder."));
    cards[3] = card(
        review, "flame", tr("Reclaim finishes by emptying Trash"),
        tr("The final Reclaim button empties Trash so free space rises. That last part cannot be undone."));
    for (auto* c : cards) {
        reviewLayout->addWidget(c);
    }
    reviewLayout->addStretch(1);
    pages->addWidget(review);

    // Step 2: Reclaim.
    auto* finalPage = new QWidget(pages);
    auto* finalLayout = new QVBoxLayout(finalPage);
    finalLayout->setContentsMargins(0, 0, 0, 0);
    finalLayout->setSpacing(8);
    auto* readyRow = new QHBoxLayout;
    auto* ready = label(finalPage, 1.2, true);
    ready->setText(tr("Ready to reclaim"));
    ready->setWordWrap(false);
    readySize = label(finalPage, 1.2, true);
    readySize->setObjectName(QStringLiteral("readySize"));
    readySize->setWordWrap(false);
    readyRow->addWidget(ready);
    readyRow->addStretch(1);
    readyRow->addWidget(readySize);
    finalLayout->addLayout(readyRow);
    summary = label(finalPage);
    summary->setObjectName(QStringLiteral("finalSummary"));
    makeSecondary(summary);
    finalLayout->addWidget(summary);
    auto* firstDetail = label(finalPage);
    firstDetail->setText(tr("Selected files leave their folders and go to Trash."));
    finalLayout->addWidget(numbered(finalPage, 1, tr("Move selection to Trash"), firstDetail));
    secondStep = label(finalPage);
    secondStep->setObjectName(QStringLiteral("finalSentence"));
    finalLayout->addWidget(numbered(finalPage, 2, tr("Empty Trash immediately"), secondStep));
    auto* forecastTitle = label(finalPage, 1.0, true);
    forecastTitle->setText(tr("Estimated free space after Reclaim"));
    finalLayout->addSpacing(6);
    finalLayout->addWidget(forecastTitle);
    auto* forecastFigures = new QGridLayout;
    auto* freeNowTitle = label(finalPage, 0.9);
    freeNowTitle->setText(tr("Free now"));
    makeSecondary(freeNowTitle);
    auto* freeAfterTitle = label(finalPage, 0.9);
    freeAfterTitle->setText(tr("Free after Reclaim"));
    makeSecondary(freeAfterTitle);
    freeNow = label(finalPage, 1.15, true);
    freeAfter = label(finalPage, 1.15, true);
    gain = label(finalPage);
    gain->setWordWrap(false);
    gain->setStyleSheet(QStringLiteral("color:%1;").arg(ChartPalette::safe().name()));
    forecastFigures->addWidget(freeNowTitle, 0, 0);
    forecastFigures->addWidget(freeAfterTitle, 0, 1);
    forecastFigures->addWidget(freeNow, 1, 0);
    forecastFigures->addWidget(freeAfter, 1, 1);
    forecastFigures->addWidget(gain, 1, 2, Qt::AlignRight);
    finalLayout->addLayout(forecastFigures);
    forecastBar = new ForecastBar(finalPage, [this] {
        return std::array<std::int64_t, 3>{DiskMath::totalSpace(), engines.scan.freeSpace(), reclaimBytes};
    });
    finalLayout->addWidget(forecastBar);
    freeShare = label(finalPage, 0.92);
    makeSecondary(freeShare);
    freeShare->setObjectName(QStringLiteral("freeShare"));
    finalLayout->addWidget(freeShare);
    keptBackNote = label(finalPage, 0.92);
    keptBackNote->setObjectName(QStringLiteral("keptBack"));
    keptBackNote->setTextFormat(Qt::PlainText);
    finalLayout->addSpacing(8);
    finalLayout->addWidget(keptBackNote);
    finalLayout->addStretch(1);
    pages->addWidget(finalPage);

    // Footer.
    auto* footer = new QHBoxLayout;
    discard = new QPushButton(tr("Discard"), this);
    back = new QPushButton(tr("Back"), this);
    this->next = new QPushButton(tr("Next"), this);
    reclaim = new QPushButton(Icons::symbol("trash", palette()), tr("Reclaim"), this);
    reclaim->setObjectName(QStringLiteral("sheetReclaim"));
    reclaim->setToolTip(tr("Move selected items to Trash, then empty Trash to free disk space"));
    reclaim->setAutoRepeat(false);
    QPalette accent = reclaim->palette();
    accent.setColor(QPalette::Button, palette().color(QPalette::Highlight));
    accent.setColor(QPalette::ButtonText, palette().color(QPalette::HighlightedText));
    reclaim->setPalette(accent);
    footer->addWidget(discard);
    footer->addStretch(1);
    footer->addWidget(back);
    footer->addWidget(this->next);
    footer->addWidget(reclaim);
    layout->addLayout(footer);

    connect(discard, &QPushButton::clicked, this, &ReclaimSheet::discarded);
    connect(back, &QPushButton::clicked, this, [this] { setStep(current - 1); });
    connect(this->next, &QPushButton::clicked, this, [this] { setStep(current + 1); });
    connect(reclaim, &QPushButton::clicked, this, [this] {
        if (!engines.scan.selected().empty()) {
            emit proceed();
        }
    });
    connect(recommended, &QPushButton::clicked, this, [this] { engines.scan.selectRecommended(); });
    connect(selectAll, &QPushButton::clicked, this, [this] { engines.scan.selectAllReclaimable(); });
    connect(deselectAll, &QPushButton::clicked, this, [this] { engines.scan.setSelected({}); });
    for (auto signal : {&ScanEngine::selectedChanged, &ScanEngine::resultsChanged,
                        &ScanEngine::isScanningChanged, &ScanEngine::freeSpaceChanged}) {
        connect(&engines.scan, signal, this, &ReclaimSheet::refresh);
    }
    setStep(0);
}

void ReclaimSheet::setStep(int step) {
    current = std::clamp(step, 0, 2);
    pages->setCurrentIndex(current);
    refresh();
    if (current == 2) {
        reclaim->setFocus();
    } else if (next->isEnabled()) {
        next->setFocus();
    }
}

ReclaimSheet::Kinds ReclaimSheet::selectionKinds() const {
    Kinds k;
    const auto& selected = engines.scan.selected();
    for (const auto& r : engines.scan.results()) {
        const auto action = CategoryKinds::action(r.kind).kind;
        if (action == ReclaimAction::Kind::advise ||
            (action == ReclaimAction::Kind::evict ? k.evict : k.trash)) {
            continue;
        }
        const bool any = std::any_of(r.items.begin(), r.items.end(),
                                     [&](const CleanupItem& item) { return selected.contains(item); });
        if (any) {
            (action == ReclaimAction::Kind::evict ? k.evict : k.trash) = true;
        }
    }
    return k;
}

void ReclaimSheet::refresh() {
    const auto& s = engines.scan;
    const Kinds kinds = selectionKinds();
    const bool evictOnly = kinds.evict && !kinds.trash;
    const bool mixed = kinds.evict && kinds.trash;
    const QStringList titles{tr("Select"), tr("Review"), tr("Reclaim")};
    QStringList parts;
    for (int i = 0; i < 3; ++i) {
        const QString mark = i < current ? QStringLiteral("✓") : QString::number(i + 1);
        const QString text = mark + QStringLiteral("&nbsp;") + titles[i].toHtmlEscaped();
        if (i == current) {
            parts << QStringLiteral("<b><span style='color:%1'>%2</span></b>")
                         .arg(ChartPalette::safe().name(), text);
        } else {
            parts << text;
        }
    }
    indicator->setText(parts.join(QStringLiteral("&nbsp;&nbsp;&nbsp;›&nbsp;&nbsp;&nbsp;")));

    QString text;
    if (current == 0) {
        text = tr(
            "Choose categories. Recommended selects safe regenerable items only; review categories stay off "
            "until you turn them on.");
    } else if (current == 1) {
        text = evictOnly
                   ? tr("iCloud items are evicted locally — they stay in iCloud and re-download on demand. "
                        "Nothing is permanently deleted.")
               : mixed
                   ? tr("Trashable items go to Trash first (undoable). iCloud items are only evicted locally "
                        "and stay in the cloud.")
                   : tr("Nothing is erased yet — items go to Trash first so you can put anything back. File "
                        "Manager Trash opens when reclaim finishes.");
    } else {
        text = evictOnly ? tr("Last step. Reclaim frees local iCloud copies without deleting cloud files.")
               : mixed
                   ? tr("Last step. Reclaim trashes selected files (then empties Trash) and evicts selected "
                        "iCloud local copies.")
                   : tr("Last step. Reclaim moves the selection to Trash, then empties Trash so free space "
                        "actually rises.");
    }
    captionLabel->setText(text);

    const int items = int(s.selected().size());
    count->setText(counted(items, tr("%1 item selected"), tr("%1 items selected")));
    const bool listed = !model->categories().empty();
    list->setVisible(listed);
    emptyBox->setVisible(!listed);
    emptyText->setText(s.isScanning()
                           ? tr("Scan is still running — categories will show up here when it finishes.")
                       : !s.hasScanned() ? tr("Run a scan from Overview first, then open Reclaim again.")
                                         : tr("The last scan found nothing Kestrune can move to Trash."));

    cards[0]->setVisible(kinds.evict);
    for (int i = 1; i < 4; ++i) {
        cards[i]->setVisible(!evictOnly);
    }

    // What the reclaim will leave in place, and why: the last copy of a file, an application's cache
    // while it runs. Only the final step asks for the plan; its figures leave those items out.
    std::int64_t bytes = s.selectedBytes();
    int going = items;
    std::set<std::string> kept; // urls of selected items the plan leaves in place
    QStringList keptLines;
    if (current == 2) {
        const auto plan = s.plan();
        going -= int(plan.keptBack.size());
        constexpr int shown = 4;
        for (std::size_t i = 0; i < plan.keptBack.size(); ++i) {
            bytes -= plan.keptBack[i].item.bytes;
            kept.insert(plan.keptBack[i].item.url);
            if (i < shown) {
                keptLines << QString::fromStdString(Utf8::valid(plan.keptBack[i].reason));
            }
        }
        if (plan.keptBack.size() > shown) {
            keptLines << tr("…and %1 more").arg(plan.keptBack.size() - shown);
        }
    }
    // A category counts while one of its selected items goes, in its own step or inside another's.
    const auto goes = [&](const CleanupItem& item) {
        return s.selected().contains(item) && !kept.contains(item.url);
    };
    int categories = 0;
    for (const CategoryKind kind : model->categories()) {
        const CategoryResult* result = s.result(kind);
        categories += result != nullptr && std::any_of(result->items.begin(), result->items.end(), goes);
    }
    reclaimBytes = bytes;
    const std::int64_t total = DiskMath::totalSpace();
    const double whole = double(total > 0 ? total : 1);
    readySize->setText(human(bytes));
    summary->setText(counted(going, tr("%1 item"), tr("%1 items")) + QStringLiteral(" · ") +
                     counted(categories, tr("%1 category"), tr("%1 categories")));
    secondStep->setText(
        tr("Reclaim then permanently deletes Trash contents so ~%1 (%2 of disk) becomes free. This "
           "cannot be undone.")
            .arg(human(bytes), percent(double(bytes) / whole)));
    freeNow->setText(human(s.freeSpace()));
    freeAfter->setText(human(s.freeSpace() + bytes));
    gain->setText(tr("+%1 more of disk").arg(human(bytes)));
    const double after = double(std::min<std::int64_t>(s.freeSpace() + bytes, total)) / whole;
    freeShare->setText(tr("%1 of the disk free after Reclaim").arg(percent(after)));
    forecastBar->update();
    keptBackNote->setText(keptLines.isEmpty() ? QString()
                                              : tr("Kept back:") + QLatin1Char('\n') + keptLines.join('\n'));
    keptBackNote->setVisible(!keptLines.isEmpty());

    back->setVisible(current >= 1);
    next->setVisible(current < 2);
    next->setEnabled(!(current == 0 && s.selected().empty()));
    next->setDefault(current < 2);
    reclaim->setVisible(current == 2);
    reclaim->setDefault(current == 2);
    reclaim->setEnabled(!s.selected().empty());
}

QString ReclaimSheet::caption() const {
    return captionLabel->text();
}

QStringList ReclaimSheet::cardTitles() const {
    QStringList titles;
    for (auto* c : cards) {
        if (!c->isHidden()) {
            titles << c->findChild<QLabel*>(QStringLiteral("cardTitle"))->text();
        }
    }
    return titles;
}

QString ReclaimSheet::emptyExplanation() const {
    return emptyBox->isHidden() ? QString() : emptyText->text();
}
QString ReclaimSheet::selectionCount() const {
    return count->text();
}
QString ReclaimSheet::finalSummary() const {
    return summary->text();
}
QString ReclaimSheet::keptBackText() const {
    return keptBackNote->isHidden() ? QString() : keptBackNote->text();
}

QString ReclaimSheet::finalSentence() const {
    return secondStep->text();
}
