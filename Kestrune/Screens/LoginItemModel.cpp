#include "Kestrune/Screens/LoginItemModel.h"

#include "Kestrune/Engines/MaintenanceEngine.h"
#include "Kestrune/Screens/ChartPalette.h"
#include "Kestrune/Screens/Icons.h"
#include "KestruneCore/Model/Utf8.h"

#include <QApplication>
#include <QPalette>

namespace {

QString text(const std::string& bytes) {
    return QString::fromStdString(Utf8::valid(bytes));
}

} // namespace

LoginItemModel::LoginItemModel(const MaintenanceEngine& e, QObject* parent)
    : QAbstractTableModel(parent), engine(e) {
    connect(&engine, &MaintenanceEngine::itemsChanged, this, [this] {
        beginResetModel();
        endResetModel();
    });
}

int LoginItemModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(engine.items().size());
}

int LoginItemModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Column::columns;
}

QVariant LoginItemModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    const BackgroundItem& i = engine.items()[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case Column::item:
            return text(i.label);
        case Column::kind:
            return QString::fromStdString(i.scope());
        case Column::program:
            return text(i.program);
        case Column::state:
            if (i.isBroken()) {
                return tr("Missing binary");
            }
            if (i.disabled) {
                return tr("Disabled");
            }
            if (i.programState == BackgroundItem::Program::unknown) {
                return tr("Can't be checked");
            }
            return i.isUserWritable ? tr("Yours") : tr("System");
        default:
            return {};
        }
    case Qt::DecorationRole:
        if (index.column() == Column::item) {
            QPalette palette = QApplication::palette();
            if (i.isBroken()) {
                palette.setColor(QPalette::WindowText, ChartPalette::review());
            }
            return Icons::symbol(
                i.kind == BackgroundItem::Kind::launchDaemon ? "gearshape.2" : "person.crop.circle", palette);
        }
        return {};
    case Qt::ForegroundRole:
        if (i.isBroken() && (index.column() == Column::item || index.column() == Column::state)) {
            return ChartPalette::review();
        }
        if (i.disabled || index.column() == Column::kind || index.column() == Column::program) {
            return ChartPalette::secondaryText(QApplication::palette());
        }
        return {};
    case Qt::ToolTipRole:
        return text(i.path);
    default:
        break;
    }
    switch (static_cast<Role>(role)) {
    case Role::path:
        return text(i.path);
    case Role::broken:
        return i.isBroken();
    case Role::userWritable:
        return i.isUserWritable;
    case Role::disabled:
        return i.disabled;
    case Role::programState:
        return static_cast<int>(i.programState);
    }
    return {};
}

QVariant LoginItemModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    switch (section) {
    case Column::item:
        return tr("Item");
    case Column::kind:
        return tr("Kind");
    case Column::program:
        return tr("Program");
    case Column::state:
        return tr("State");
    default:
        return {};
    }
}
