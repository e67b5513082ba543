// The audit log as a tree: one row per event, newest first, and below each event one row per path it
// touched, in stored order. Raw values in roles; text only for Qt::DisplayRole. GUI thread only.
#pragma once

// Qt first: moc cannot parse <compare> (pulled in by the event's types) before Qt has set up its view
// of the standard headers.
#include <QAbstractItemModel>

#include "KestruneCore/Activity/ActivityEvent.h"

#include <vector>

class ActivityEngine;

class ActivityModel : public QAbstractItemModel {
    Q_OBJECT

public:
    enum class Role {
        isPath = Qt::UserRole + 1, // bool
        kind,                      // int of ActivityKind (event rows)
        date,                      // QDateTime (event rows)
        detail,                    // QString, empty when absent (event rows)
        shownBytes,                // qint64, the size shown under the event, -1 when none (event rows)
        pathCount,                 // int (event rows)
        id,                        // QString of the event's UUID (event rows)
        disposition,               // int of PathDisposition (path rows)
        bytes,                     // qint64 (path rows; event rows: the event's bytes or -1)
        error,                     // QString, empty when none (path rows)
    };

    explicit ActivityModel(ActivityEngine& engine, QObject* parent = nullptr);

    [[nodiscard]] QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    [[nodiscard]] QModelIndex parent(const QModelIndex& child) const override;
    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;

    [[nodiscard]] const std::vector<ActivityEvent>& events() const { return shown; }
    [[nodiscard]] QModelIndex indexOf(const Uuid& id) const;

private:
    ActivityEngine& engine;
    std::vector<ActivityEvent> shown;
};
