#include "Kestrune/Screens/AppListModel.h"

#include "Kestrune/Engines/UninstallEngine.h"
#include "Kestrune/Screens/Format.h"
#include "Kestrune/Screens/Icons.h"
#include "KestruneCore/Activity/ActivityEvent.h"

#include <QFileInfo>
#include <QGuiApplication>

AppListModel::AppListModel(UninstallEngine& e, QObject* parent) : QAbstractListModel(parent), engine(e) {
    connect(&engine, &UninstallEngine::appsChanged, this, &AppListModel::rebuild);
    rebuild();
}

void AppListModel::setSearch(const QString& text) {
    if (text != search_) {
        search_ = text;
        rebuild();
    }
}

void AppListModel::setSort(AppSort sort) {
    if (sort != sort_) {
        sort_ = sort;
        rebuild();
    }
}

void AppListModel::rebuild() {
    beginResetModel();
    rows = AppListing::filtered(engine.apps(), search_.toStdString(), sort_);
    endResetModel();
}

const InstalledApp* AppListModel::app(int row) const {
    return row >= 0 && row < int(rows.size()) ? &rows[std::size_t(row)] : nullptr;
}

int AppListModel::rowOf(const std::string& id) const {
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].id == id) {
            return int(i);
        }
    }
    return -1;
}

int AppListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows.size());
}

QVariant AppListModel::data(const QModelIndex& index, int role) const {
    const InstalledApp* a = index.isValid() ? app(index.row()) : nullptr;
    if (!a) {
        return {};
    }
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromStdString(a->name);
    case Qt::ToolTipRole:
        return a->source == AppSource::flatpak
                   ? tr("%1 — the app's own files; runtimes shared with other apps are not counted")
                         .arg(Format::human(a->bytes))
                   : QString::fromStdString(ActivityPath::displayPath(a->url));
    case Qt::DecorationRole:
        return iconOf(*a, QGuiApplication::palette());
    case int(Role::id):
        return QString::fromStdString(a->id);
    case int(Role::bytes):
        return qint64(a->bytes);
    case int(Role::subtitle):
        return usageText(a->usage, std::chrono::system_clock::now());
    case int(Role::lastUsed):
        return a->lastUsed() ? QVariant(qint64(std::chrono::duration_cast<std::chrono::seconds>(
                                                   a->lastUsed()->time_since_epoch())
                                                   .count()))
                             : QVariant();
    default:
        return {};
    }
}

QString AppListModel::relative(Date date, Date now) {
    using namespace std::chrono;
    const auto seconds = duration_cast<std::chrono::seconds>(now - date).count();
    if (seconds < 60) {
        return tr("just now");
    }
    const auto minutes = seconds / 60;
    if (minutes < 60) {
        return Format::counted(int(minutes), tr("%1 minute ago"), tr("%1 minutes ago"));
    }
    const auto hours = minutes / 60;
    if (hours < 24) {
        return Format::counted(int(hours), tr("%1 hour ago"), tr("%1 hours ago"));
    }
    const auto days = hours / 24;
    if (days < 2) {
        return tr("yesterday");
    }
    if (days < 7) {
        return Format::counted(int(days), tr("%1 day ago"), tr("%1 days ago"));
    }
    if (days < 31) {
        return Format::counted(int(days / 7), tr("%1 week ago"), tr("%1 weeks ago"));
    }
    if (days < 365) {
        return Format::counted(int(std::max<long long>(1, days / 30)), tr("%1 month ago"),
                               tr("%1 months ago"));
    }
    return Format::counted(int(days / 365), tr("%1 year ago"), tr("%1 years ago"));
}

QString AppListModel::usageText(const AppUsage& usage, Date now) {
    switch (usage.kind) {
    case AppUsage::Kind::used:
        return tr("Last opened %1").arg(relative(*usage.date, now));
    case AppUsage::Kind::neverOpened:
        return usage.date ? tr("Never opened · added %1").arg(relative(*usage.date, now))
                          : tr("Never opened");
    case AppUsage::Kind::unknown:
        break;
    }
    return tr("No usage history");
}

QIcon AppListModel::iconOf(const InstalledApp& app, const QPalette& palette) {
    const QString icon = QString::fromStdString(app.icon);
    if (icon.startsWith(QLatin1Char('/'))) {
        if (QFileInfo::exists(icon)) {
            return QIcon(icon);
        }
    } else if (!icon.isEmpty() && QIcon::hasThemeIcon(icon)) {
        return QIcon::fromTheme(icon);
    }
    return Icons::symbol("app", palette);
}
