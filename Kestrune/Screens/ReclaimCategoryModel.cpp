#include "Kestrune/Screens/ReclaimCategoryModel.h"

#include "Kestrune/Engines/ScanEngine.h"
#include "Kestrune/Screens/Icons.h"
#include "KestruneCore/Model/DiskMath.h"

#include <QApplication>

ReclaimCategoryModel::ReclaimCategoryModel(Engines e, QObject* parent)
    : QAbstractListModel(parent), engines(e) {
    connect(&engines.scan, &ScanEngine::resultsChanged, this, &ReclaimCategoryModel::reload);
    connect(&engines.scan, &ScanEngine::selectedChanged, this, [this] {
        if (!kinds.empty()) {
            emit dataChanged(index(0), index(int(kinds.size()) - 1));
        }
    });
    reload();
}

void ReclaimCategoryModel::reload() {
    beginResetModel();
    kinds.clear();
    for (const auto& r : engines.scan.results()) {
        if (r.kind != CategoryKind::simulators && r.kind != CategoryKind::docker && !r.items.empty()) {
            kinds.push_back(r.kind);
        }
    }
    endResetModel();
}

int ReclaimCategoryModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(kinds.size());
}

QVariant ReclaimCategoryModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    const CategoryKind kind = kinds[std::size_t(index.row())];
    const CategoryResult* result = engines.scan.result(kind);
    const auto state = engines.scan.selectionState(kind);
    const std::int64_t bytes = result ? result->bytes() : 0;
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromUtf8(CategoryKinds::title(kind));
    case Qt::DecorationRole:
        return Icons::symbol(CategoryKinds::symbol(kind), QApplication::palette());
    case Qt::CheckStateRole:
        return state.total > 0 && state.checked == state.total ? Qt::Checked : Qt::Unchecked;
    case Qt::ToolTipRole:
        return QString::fromUtf8(CategoryKinds::blurb(kind));
    case int(Role::category):
        return int(kind);
    case int(Role::bytes):
        return qint64(bytes);
    case int(Role::checked):
        return state.checked;
    case int(Role::total):
        return state.total;
    }
    return {};
}

bool ReclaimCategoryModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || !checkIndex(index, CheckIndexOption::IndexIsValid)) {
        return false;
    }
    const CategoryKind kind = kinds[std::size_t(index.row())];
    if (!engines.scan.result(kind)) {
        return false;
    }
    engines.scan.setCategorySelected(kind, value.toInt() == Qt::Checked);
    return true;
}

Qt::ItemFlags ReclaimCategoryModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable | Qt::ItemNeverHasChildren;
}
