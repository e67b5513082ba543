#include "Kestrune/Screens/SidebarModel.h"

#include "Kestrune/Engines/ActivityEngine.h"
#include "Kestrune/Engines/ScanEngine.h"
#include "Kestrune/Engines/TreemapEngine.h"
#include "Kestrune/Screens/Icons.h"
#include "KestruneCore/Model/DiskMath.h"

#include <QApplication>

namespace {

struct PaneRow {
    Pane::Kind kind;
    const char* title;
    std::string_view symbol;
};

const PaneRow paneTable[SidebarModel::paneRows] = {
    {Pane::Kind::overview, QT_TRANSLATE_NOOP("SidebarModel", "Overview"), "square.grid.2x2"},
    {Pane::Kind::treemap, QT_TRANSLATE_NOOP("SidebarModel", "Disk Map"), "square.grid.3x3.fill"},
    {Pane::Kind::uninstaller, QT_TRANSLATE_NOOP("SidebarModel", "Uninstaller"), "trash.square"},
    {Pane::Kind::maintenance, QT_TRANSLATE_NOOP("SidebarModel", "Maintenance"), "wrench.and.screwdriver"},
    {Pane::Kind::history, QT_TRANSLATE_NOOP("SidebarModel", "History"), "clock.arrow.circlepath"},
};

constexpr int headingRow = SidebarModel::paneRows;

} // namespace

SidebarModel::SidebarModel(Engines e, QObject* parent) : QAbstractListModel(parent), engines(e) {
    connect(&engines.scan, &ScanEngine::resultsChanged, this, &SidebarModel::resultsChanged);
    connect(&engines.scan, &ScanEngine::selectedChanged, this, &SidebarModel::categoryFiguresChanged);
    for (auto signal : {&TreemapEngine::isBuildingChanged, &TreemapEngine::progressChanged,
                        &TreemapEngine::trailChanged, &TreemapEngine::scopesCompletedChanged}) {
        connect(&engines.treemap, signal, this, [this] { paneAccessoryChanged(1); });
    }
    connect(&engines.activity, &ActivityEngine::eventsChanged, this, [this] { paneAccessoryChanged(4); });
    connect(&engines.activity, &ActivityEngine::lifetimeReclaimedChanged, this,
            [this] { paneAccessoryChanged(4); });
    for (const auto& r : engines.scan.results()) {
        kinds.push_back(r.kind);
    }
}

int SidebarModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : paneRows + 1 + int(kinds.size());
}

Qt::ItemFlags SidebarModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    if (index.row() == headingRow) {
        return Qt::ItemIsEnabled;
    }
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

QString SidebarModel::accessory(Pane::Kind kind) const {
    if (kind == Pane::Kind::treemap) {
        if (engines.treemap.isBuilding()) {
            return {};
        }
        // The first scope, in root order, that has a map: the size of its whole tree, whichever scope
        // and folder the map pane shows.
        for (const auto& root : engines.treemap.roots()) {
            if (const auto top = engines.treemap.builtMap(root.id)) {
                return QString::fromStdString(DiskMath::human(top->bytes));
            }
        }
    }
    if (kind == Pane::Kind::history) {
        if (engines.activity.lifetimeReclaimed() >= 1) {
            return QString::fromStdString(DiskMath::human(engines.activity.lifetimeReclaimed()));
        }
        if (!engines.activity.events().empty()) {
            return QString::number(engines.activity.events().size());
        }
    }
    return {};
}

double SidebarModel::progress(Pane::Kind kind) const {
    return kind == Pane::Kind::treemap && engines.treemap.isBuilding() ? engines.treemap.progress() : -1.0;
}

QVariant SidebarModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    const int row = index.row();
    if (row < paneRows) {
        const auto& p = paneTable[row];
        switch (role) {
        case Qt::DisplayRole:
            return tr(p.title);
        case Qt::DecorationRole:
            return Icons::symbol(p.symbol, QApplication::palette());
        case int(Role::rowType):
            return int(RowType::pane);
        case int(Role::pane):
            return int(p.kind);
        case int(Role::accessory):
            return accessory(p.kind);
        case int(Role::progress):
            return progress(p.kind);
        }
        return {};
    }
    if (row == headingRow) {
        if (role == Qt::DisplayRole) {
            return tr("Categories");
        }
        if (role == int(Role::rowType)) {
            return int(RowType::heading);
        }
        return {};
    }
    const CategoryKind kind = kinds[std::size_t(row - headingRow - 1)];
    const CategoryResult* result = engines.scan.result(kind);
    const auto state = engines.scan.selectionState(kind);
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromUtf8(CategoryKinds::title(kind));
    case Qt::ToolTipRole:
        return QString::fromUtf8(CategoryKinds::blurb(kind));
    case Qt::DecorationRole:
        return Icons::symbol(CategoryKinds::symbol(kind), QApplication::palette());
    case int(Role::rowType):
        return int(RowType::category);
    case int(Role::pane):
        return int(Pane::Kind::category);
    case int(Role::category):
        return int(kind);
    case int(Role::bytes):
        return qint64(result ? result->bytes() : 0);
    case int(Role::checked):
        return state.checked;
    case int(Role::total):
        return state.total;
    case int(Role::accessory):
        return QString::fromStdString(DiskMath::human(result ? result->bytes() : 0));
    case int(Role::progress):
        return -1.0;
    }
    return {};
}

QModelIndex SidebarModel::indexOf(const Pane& pane) const {
    if (pane.kind != Pane::Kind::category) {
        for (int i = 0; i < paneRows; ++i) {
            if (paneTable[i].kind == pane.kind) {
                return index(i);
            }
        }
        return {};
    }
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        if (kinds[i] == pane.category) {
            return index(headingRow + 1 + int(i));
        }
    }
    return {};
}

std::optional<Pane> SidebarModel::paneAt(const QModelIndex& index) const {
    if (!index.isValid() || index.row() == headingRow || index.row() >= rowCount()) {
        return std::nullopt;
    }
    if (index.row() < paneRows) {
        return Pane{paneTable[index.row()].kind, CategoryKind::userCaches};
    }
    return Pane::of(kinds[std::size_t(index.row() - headingRow - 1)]);
}

void SidebarModel::resultsChanged() {
    std::vector<CategoryKind> now;
    for (const auto& r : engines.scan.results()) {
        now.push_back(r.kind);
    }
    if (now == kinds) {
        categoryFiguresChanged();
        return;
    }
    // Rows come and go as a scan reports; the whole category section is replaced at once.
    if (!kinds.empty()) {
        beginRemoveRows({}, headingRow + 1, headingRow + int(kinds.size()));
        kinds.clear();
        endRemoveRows();
    }
    if (!now.empty()) {
        beginInsertRows({}, headingRow + 1, headingRow + int(now.size()));
        kinds = std::move(now);
        endInsertRows();
    }
}

void SidebarModel::categoryFiguresChanged() {
    if (!kinds.empty()) {
        emit dataChanged(index(headingRow + 1), index(headingRow + int(kinds.size())));
    }
}

void SidebarModel::paneAccessoryChanged(int row) {
    emit dataChanged(index(row), index(row), {int(Role::accessory), int(Role::progress)});
}
