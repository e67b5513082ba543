// The selected application's support files with their check boxes: ticked unless the engine has them
// excluded; ticking goes through the engine. GUI thread only.
#pragma once

#include <QAbstractTableModel>

class UninstallEngine;

class SupportFileModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum class Column { path, size };
    enum class Role { url = Qt::UserRole + 1, bytes, shared };

    explicit SupportFileModel(UninstallEngine& engine, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    void refresh();

    UninstallEngine& engine;
    std::size_t shownRows = 0;
};
