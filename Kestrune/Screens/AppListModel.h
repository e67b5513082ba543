// The uninstaller's list of applications: the engine's apps filtered and ordered by AppListing, one row
// each. GUI thread only.
#pragma once

#include "KestruneCore/Apps/AppListing.h"

#include <QAbstractListModel>

class UninstallEngine;

class AppListModel : public QAbstractListModel {
    Q_OBJECT

public:
    enum class Role { id = Qt::UserRole + 1, bytes, subtitle, lastUsed };

    explicit AppListModel(UninstallEngine& engine, QObject* parent = nullptr);

    void setSearch(const QString& text);
    void setSort(AppSort sort);
    [[nodiscard]] AppSort sort() const { return sort_; }
    [[nodiscard]] const InstalledApp* app(int row) const;
    [[nodiscard]] int rowOf(const std::string& id) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    // "Last opened 3 weeks ago", "Never opened · added 2 days ago", "Never opened", "No usage history".
    [[nodiscard]] static QString usageText(const AppUsage& usage, Date now);
    // A named, wide relative phrase: "just now", "5 minutes ago", "yesterday", "3 weeks ago", "2 years ago".
    [[nodiscard]] static QString relative(Date date, Date now);
    // The application's icon from its desktop entry (a file or a theme name), else the generic symbol.
    [[nodiscard]] static QIcon iconOf(const InstalledApp& app, const QPalette& palette);

private:
    void rebuild();

    UninstallEngine& engine;
    QString search_;
    AppSort sort_ = AppSort::size;
    std::vector<InstalledApp> rows;
};
