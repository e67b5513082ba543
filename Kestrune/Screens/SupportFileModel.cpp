#include "Kestrune/Screens/SupportFileModel.h"

#include "Kestrune/Engines/UninstallEngine.h"
#include "Kestrune/Screens/Format.h"
#include "KestruneCore/Activity/ActivityEvent.h"

SupportFileModel::SupportFileModel(UninstallEngine& e, QObject* parent)
    : QAbstractTableModel(parent), engine(e) {
    connect(&engine, &UninstallEngine::selectionChanged, this, &SupportFileModel::refresh);
    refresh();
}

void SupportFileModel::refresh() {
    // The list changes as a whole (another app, a new search); ticks change in place.
    if (engine.leftovers().size() != shownRows) {
        beginResetModel();
        shownRows = engine.leftovers().size();
        endResetModel();
    } else if (shownRows > 0) {
        emit dataChanged(index(0, 0), index(int(shownRows) - 1, 1));
    }
}

int SupportFileModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(shownRows);
}

int SupportFileModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 2;
}

QVariant SupportFileModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || std::size_t(index.row()) >= engine.leftovers().size()) {
        return {};
    }
    const auto& file = engine.leftovers()[std::size_t(index.row())];
    const auto column = Column(index.column());
    switch (role) {
    case Qt::DisplayRole:
        if (column == Column::path) {
            QString text = QString::fromStdString(ActivityPath::displayPath(file.item.url));
            if (!file.sharedWith.empty()) {
                text += tr("  (shared with %1)").arg(QString::fromStdString(file.sharedWith));
            }
            return text;
        }
        return Format::human(file.item.bytes);
    case Qt::ToolTipRole:
        return file.sharedWith.empty() ? QVariant()
                                       : tr("Also belongs to %1, which stays installed; left unticked.")
                                             .arg(QString::fromStdString(file.sharedWith));
    case Qt::CheckStateRole:
        if (column == Column::path) {
            return engine.isExcluded(file.item) ? Qt::Unchecked : Qt::Checked;
        }
        return {};
    case Qt::TextAlignmentRole:
        return column == Column::size ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    case int(Role::url):
        return QString::fromStdString(file.item.url);
    case int(Role::bytes):
        return qint64(file.item.bytes);
    case int(Role::shared):
        return !file.sharedWith.empty();
    default:
        return {};
    }
}

bool SupportFileModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || !index.isValid() || Column(index.column()) != Column::path ||
        std::size_t(index.row()) >= engine.leftovers().size() || engine.isRemoving()) {
        return false;
    }
    const auto item = engine.leftovers()[std::size_t(index.row())].item;
    const bool wantTicked = value.toInt() == Qt::Checked;
    if (wantTicked == engine.isExcluded(item)) {
        engine.toggle(item);
    }
    return true;
}

Qt::ItemFlags SupportFileModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.isValid() && Column(index.column()) == Column::path) {
        f |= Qt::ItemIsUserCheckable;
    }
    return f;
}

QVariant SupportFileModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    return Column(section) == Column::path ? tr("Location") : tr("Size");
}
