// The reclaimable categories of the last scan (every category but simulators and Docker that holds an
// item) with a tick that stands for "all of its items selected". GUI thread only.
#pragma once

#include "Kestrune/Screens/Engines.h"
#include "KestruneCore/Model/CategoryKind.h"

#include <QAbstractListModel>

#include <vector>

class ReclaimCategoryModel : public QAbstractListModel {
    Q_OBJECT

public:
    enum class Role {
        category = Qt::UserRole + 1, // int of CategoryKind
        bytes,                       // qint64
        checked,                     // int: selected items
        total,                       // int: items
    };

    ReclaimCategoryModel(Engines engines, QObject* parent = nullptr);

    [[nodiscard]] const std::vector<CategoryKind>& categories() const { return kinds; }

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    [[nodiscard]] Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    void reload();

    Engines engines;
    std::vector<CategoryKind> kinds;
};
