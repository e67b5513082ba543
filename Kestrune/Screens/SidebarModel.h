// The sidebar's rows: the five panes, a "Categories" heading, then one row per category of the last
// scan in registry order. Raw values in roles; text only for Qt::DisplayRole. GUI thread only.
#pragma once

#include "Kestrune/Screens/Engines.h"
#include "Kestrune/Screens/Pane.h"

#include <QAbstractListModel>

#include <optional>
#include <vector>

class SidebarModel : public QAbstractListModel {
    Q_OBJECT

public:
    enum class Role {
        rowType = Qt::UserRole + 1, // RowType
        pane,                       // int of Pane::Kind
        category,                   // int of CategoryKind (category rows)
        bytes,                      // qint64 (category rows)
        checked,                    // int (category rows)
        total,                      // int (category rows)
        accessory,                  // QString trailing text, may be empty
        progress,                   // double 0..1, or -1 when no progress is shown
    };
    enum class RowType { pane, heading, category };

    SidebarModel(Engines engines, QObject* parent = nullptr);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] Qt::ItemFlags flags(const QModelIndex& index) const override;

    [[nodiscard]] QModelIndex indexOf(const Pane& pane) const;
    [[nodiscard]] std::optional<Pane> paneAt(const QModelIndex& index) const;

    static constexpr int paneRows = 5;

private:
    void resultsChanged();
    void categoryFiguresChanged();
    void paneAccessoryChanged(int row);
    [[nodiscard]] QString accessory(Pane::Kind kind) const;
    [[nodiscard]] double progress(Pane::Kind kind) const;

    Engines engines;
    std::vector<CategoryKind> kinds; // the category rows as last published
};
