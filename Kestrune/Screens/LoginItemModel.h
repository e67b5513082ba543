// The login and background items of the maintenance engine as a table: item, kind, program, state.
// GUI thread only.
#pragma once

#include <QAbstractTableModel>

class MaintenanceEngine;

class LoginItemModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum class Role { path = Qt::UserRole + 1, broken, userWritable, disabled, programState };
    enum Column { item, kind, program, state, columns };

    explicit LoginItemModel(const MaintenanceEngine& engine, QObject* parent = nullptr);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    const MaintenanceEngine& engine;
};
