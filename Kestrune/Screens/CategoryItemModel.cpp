#include "Kestrune/Screens/CategoryItemModel.h"

#include "KestruneCore/Platform/Home.h"

#include "Kestrune/Engines/ScanEngine.h"
#include "Kestrune/Screens/Icons.h"
#include "KestruneCore/Model/DiskMath.h"

#include <QApplication>

#include <algorithm>

CategoryItemModel::CategoryItemModel(Engines e, QObject* parent) : QAbstractTableModel(parent), engines(e) {
    connect(&engines.scan, &ScanEngine::resultsChanged, this, &CategoryItemModel::reload);
    connect(&engines.scan, &ScanEngine::selectedChanged, this, [this] {
        if (!items.empty()) {
            emit dataChanged(index(0, nameColumn), index(int(items.size()) - 1, nameColumn),
                             {Qt::CheckStateRole, int(Role::selected)});
        }
    });
}

void CategoryItemModel::setCategory(std::optional<CategoryKind> value) {
    kind = value;
    reload();
}

void CategoryItemModel::reload() {
    beginResetModel();
    items.clear();
    if (kind) {
        if (const CategoryResult* result = engines.scan.result(*kind)) {
            items = result->items;
        }
    }
    applySort();
    endResetModel();
}

bool CategoryItemModel::isAdvisory() const {
    return kind && CategoryKinds::action(*kind).kind == ReclaimAction::Kind::advise;
}

const CleanupItem* CategoryItemModel::itemAt(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != this || index.row() >= int(items.size())) {
        return nullptr;
    }
    return &items[std::size_t(index.row())];
}

void CategoryItemModel::toggle(const QModelIndex& index) {
    const CleanupItem* item = itemAt(index);
    if (!item || isAdvisory()) {
        return;
    }
    const auto known = engines.scan.kind(*item);
    if (!known || *known == CategoryKind::simulators || *known == CategoryKind::docker) {
        return;
    }
    if (engines.scan.selected().contains(*item)) {
        engines.scan.deselect(*item);
    } else {
        engines.scan.select(*item);
    }
}

int CategoryItemModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(items.size());
}

int CategoryItemModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columnCount_;
}

QVariant CategoryItemModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    const CleanupItem& item = items[std::size_t(index.row())];
    switch (role) {
    case int(Role::path):
        return QString::fromStdString(item.url);
    case int(Role::bytes):
        return qint64(item.bytes);
    case int(Role::selected):
        return engines.scan.selected().contains(item);
    }
    switch (index.column()) {
    case nameColumn:
        if (role == Qt::DisplayRole) {
            return QString::fromStdString(item.name());
        }
        if (role == Qt::ToolTipRole) {
            return QString::fromStdString(item.url);
        }
        if (role == Qt::CheckStateRole && !isAdvisory()) {
            return engines.scan.selected().contains(item) ? Qt::Checked : Qt::Unchecked;
        }
        break;
    case locationColumn:
        if (role == Qt::DisplayRole) {
            return QString::fromStdString(item.location(Platform::homeFolder()));
        }
        break;
    case sizeColumn:
        if (role == Qt::DisplayRole) {
            return QString::fromStdString(DiskMath::human(item.bytes));
        }
        if (role == Qt::TextAlignmentRole) {
            return int(Qt::AlignRight | Qt::AlignVCenter);
        }
        break;
    case revealColumn:
        if (role == Qt::DecorationRole) {
            return Icons::symbol("magnifyingglass", QApplication::palette());
        }
        if (role == Qt::ToolTipRole) {
            return tr("Reveal in File Manager");
        }
        break;
    }
    return {};
}

bool CategoryItemModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || index.column() != nameColumn || isAdvisory()) {
        return false;
    }
    const CleanupItem* item = itemAt(index);
    if (!item) {
        return false;
    }
    const bool want = value.toInt() == Qt::Checked;
    if (want != engines.scan.selected().contains(*item)) {
        toggle(index);
    }
    return true;
}

Qt::ItemFlags CategoryItemModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == nameColumn && !isAdvisory()) {
        f |= Qt::ItemIsUserCheckable;
    }
    return f;
}

QVariant CategoryItemModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    switch (section) {
    case nameColumn:
        return tr("Name");
    case locationColumn:
        return tr("Folder");
    case sizeColumn:
        return tr("Size");
    case revealColumn:
        return QString();
    }
    return {};
}

void CategoryItemModel::sort(int column, Qt::SortOrder order) {
    if (column == revealColumn) {
        return;
    }
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<std::string> urls;
    for (const auto& index : before) {
        urls.push_back(items[std::size_t(index.row())].url);
    }
    sortColumn = column;
    sortOrder = order;
    applySort();
    std::unordered_map<std::string, int> rowOf;
    for (std::size_t i = 0; i < items.size(); ++i) {
        rowOf.emplace(items[i].url, int(i));
    }
    QModelIndexList after;
    for (std::size_t i = 0; i < std::size_t(before.size()); ++i) {
        after.push_back(index(rowOf.at(urls[i]), before[qsizetype(i)].column()));
    }
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void CategoryItemModel::applySort() {
    const bool ascending = sortOrder == Qt::AscendingOrder;
    auto byKey = [&](auto key) {
        std::stable_sort(items.begin(), items.end(), [&](const CleanupItem& a, const CleanupItem& b) {
            return ascending ? key(a) < key(b) : key(b) < key(a);
        });
    };
    if (sortColumn == sizeColumn) {
        byKey([](const CleanupItem& i) { return i.bytes; });
    } else if (sortColumn == nameColumn) {
        byKey([](const CleanupItem& i) { return QString::fromStdString(i.name()).toLower(); });
    } else if (sortColumn == locationColumn) {
        const std::string home = Platform::homeFolder();
        byKey([&home](const CleanupItem& i) { return QString::fromStdString(i.location(home)).toLower(); });
    }
}
