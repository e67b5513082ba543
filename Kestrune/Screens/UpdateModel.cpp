#include "Kestrune/Screens/UpdateModel.h"

#include "Kestrune/Engines/MaintenanceEngine.h"
#include "Kestrune/Screens/ChartPalette.h"
#include "KestruneCore/Model/Utf8.h"

#include <QApplication>
#include <QFontDatabase>

UpdateModel::UpdateModel(const MaintenanceEngine& e, QObject* parent)
    : QAbstractTableModel(parent), engine(e) {
    connect(&engine, &MaintenanceEngine::updatesChanged, this, &UpdateModel::reload);
    reload();
}

void UpdateModel::reload() {
    beginResetModel();
    rows.clear();
    for (const auto& check : engine.updates()) {
        rows.insert(rows.end(), check.outdated.begin(), check.outdated.end());
    }
    endResetModel();
}

int UpdateModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows.size());
}

int UpdateModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Column::columns;
}

QVariant UpdateModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    const auto& o = rows[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case Column::name:
            return QString::fromStdString(Utf8::valid(o.name));
        case Column::versions:
            return QString::fromStdString(Utf8::valid(o.current)) + QStringLiteral(" → ") +
                   QString::fromStdString(Utf8::valid(o.latest));
        case Column::source:
            return QString::fromStdString(Updater::name(o.source));
        default:
            return {};
        }
    case Qt::FontRole:
        // Versions in digits of equal width, so that a column of them lines up.
        return index.column() == Column::versions
                   ? QVariant(QFontDatabase::systemFont(QFontDatabase::FixedFont))
                   : QVariant();
    case Qt::ForegroundRole:
        return index.column() == Column::name
                   ? QVariant()
                   : QVariant(ChartPalette::secondaryText(QApplication::palette()));
    case Qt::TextAlignmentRole:
        return index.column() == Column::versions ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    default:
        return {};
    }
}

QVariant UpdateModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    switch (section) {
    case Column::name:
        return tr("Package");
    case Column::versions:
        return tr("Installed → Available");
    case Column::source:
        return tr("Source");
    default:
        return {};
    }
}
