// The items of one category as a sortable table: name (with the tick of the selection), folder, size,
// and a reveal button. Ticks come from the scan engine's selection and change it. GUI thread only.
#pragma once

#include "Kestrune/Screens/Engines.h"
#include "KestruneCore/Model/CleanupItem.h"

#include <QAbstractTableModel>

#include <optional>
#include <vector>

class CategoryItemModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { nameColumn, locationColumn, sizeColumn, revealColumn, columnCount_ };
    enum class Role {
        path = Qt::UserRole + 1, // QString, the item's absolute path
        bytes,                   // qint64
        selected,                // bool
    };

    CategoryItemModel(Engines engines, QObject* parent = nullptr);

    // Shows the category's latest result (nothing when the category has none).
    void setCategory(std::optional<CategoryKind> kind);
    [[nodiscard]] std::optional<CategoryKind> category() const { return kind; }
    [[nodiscard]] bool isAdvisory() const;
    [[nodiscard]] const CleanupItem* itemAt(const QModelIndex& index) const;
    void toggle(const QModelIndex& index);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    [[nodiscard]] Qt::ItemFlags flags(const QModelIndex& index) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void sort(int column, Qt::SortOrder order) override;

private:
    void reload();
    void applySort();

    Engines engines;
    std::optional<CategoryKind> kind;
    std::vector<CleanupItem> items; // in display order
    int sortColumn = sizeColumn;
    Qt::SortOrder sortOrder = Qt::DescendingOrder;
};
