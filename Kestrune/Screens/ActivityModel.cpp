// An event row's internal id is 0; a path row's is its event's row + 1.
#include "Kestrune/Screens/ActivityModel.h"

#include "Kestrune/Engines/ActivityEngine.h"

#include <QDateTime>

namespace {

QDateTime qtDate(const Date& date) {
    return QDateTime::fromMSecsSinceEpoch(
        std::chrono::duration_cast<std::chrono::milliseconds>(date.time_since_epoch()).count());
}

QString text(const std::optional<std::string>& s) {
    return s ? QString::fromStdString(*s) : QString();
}

} // namespace

ActivityModel::ActivityModel(ActivityEngine& e, QObject* parent)
    : QAbstractItemModel(parent), engine(e), shown(e.events()) {
    connect(&engine, &ActivityEngine::eventsChanged, this, [this] {
        beginResetModel();
        shown = engine.events();
        endResetModel();
    });
}

QModelIndex ActivityModel::index(int row, int column, const QModelIndex& parent) const {
    if (!hasIndex(row, column, parent)) {
        return {};
    }
    return createIndex(row, column, parent.isValid() ? quintptr(parent.row() + 1) : quintptr(0));
}

QModelIndex ActivityModel::parent(const QModelIndex& child) const {
    if (!child.isValid() || child.internalId() == 0) {
        return {};
    }
    return createIndex(int(child.internalId() - 1), 0, quintptr(0));
}

int ActivityModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid()) {
        return int(shown.size());
    }
    if (parent.internalId() != 0 || parent.column() != 0) {
        return 0;
    }
    return int(shown[std::size_t(parent.row())].paths.size());
}

int ActivityModel::columnCount(const QModelIndex&) const {
    return 1;
}

QModelIndex ActivityModel::indexOf(const Uuid& id) const {
    for (std::size_t i = 0; i < shown.size(); ++i) {
        if (shown[i].id == id) {
            return index(int(i), 0);
        }
    }
    return {};
}

QVariant ActivityModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid)) {
        return {};
    }
    if (index.internalId() != 0) {
        const auto& p = shown[std::size_t(index.internalId() - 1)].paths[std::size_t(index.row())];
        switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole:
            return QString::fromStdString(p.path);
        case int(Role::isPath):
            return true;
        case int(Role::disposition):
            return int(p.disposition);
        case int(Role::bytes):
            return qint64(p.bytes);
        case int(Role::error):
            return text(p.error);
        }
        return {};
    }
    const auto& e = shown[std::size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromStdString(e.title);
    case int(Role::isPath):
        return false;
    case int(Role::kind):
        return int(e.kind);
    case int(Role::date):
        return qtDate(e.date);
    case int(Role::detail):
        return text(e.detail);
    case int(Role::shownBytes):
        // A reclaim's title already names its size.
        return qint64(e.bytes && *e.bytes >= 1 && e.kind != ActivityKind::reclaim ? *e.bytes : -1);
    case int(Role::pathCount):
        return int(e.paths.size());
    case int(Role::id):
        return QString::fromStdString(e.id.text());
    case int(Role::bytes):
        return qint64(e.bytes ? *e.bytes : -1);
    }
    return {};
}
