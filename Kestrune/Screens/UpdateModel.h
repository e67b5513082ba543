// The outdated packages the maintenance engine's update check found, as a table: name, installed and
// available version, source. GUI thread only.
#pragma once

#include "KestruneCore/Maintenance/Updater.h"

#include <QAbstractTableModel>

#include <vector>

class MaintenanceEngine;

class UpdateModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { name, versions, source, columns };

    explicit UpdateModel(const MaintenanceEngine& engine, QObject* parent = nullptr);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    void reload();

    const MaintenanceEngine& engine;
    std::vector<Updater::Outdated> rows;
};
