// The maintenance pane's state and work: the task catalogue with each task's last outcome, the login
// and background items, and the package updates. GUI thread only; the tools, the item listing and the
// update check run on threads of their own and come back with a queued call. Every task that ran and
// every removed item is recorded through the activity engine.
#pragma once

#include "KestruneCore/Maintenance/LoginItems.h"
#include "KestruneCore/Maintenance/Maintenance.h"
#include "KestruneCore/Maintenance/Updater.h"

#include <QFuture>
#include <QObject>
#include <QPointer>

#include <chrono>
#include <map>
#include <set>
#include <string>
#include <vector>

class ActivityEngine;

class MaintenanceEngine : public QObject {
    Q_OBJECT

public:
    explicit MaintenanceEngine(QObject* parent = nullptr);

    // Where events are recorded; the shared activity engine when unset.
    QPointer<ActivityEngine> activity;
    // The limit of each tool a task or the update check starts.
    std::chrono::milliseconds timeLimit = Maintenance::timeLimit;

    [[nodiscard]] const std::vector<MaintenanceTask>& tasks() const { return tasks_; }
    // The last outcome of each task by id; also "login-" + path for a removal that failed.
    [[nodiscard]] const std::map<std::string, Maintenance::TaskOutcome>& outcomes() const {
        return outcomes_;
    }
    [[nodiscard]] bool isRunning(const std::string& id) const { return running_.contains(id); }
    [[nodiscard]] bool isBusy() const { return !running_.empty(); }

    [[nodiscard]] const std::vector<BackgroundItem>& items() const { return items_; }
    [[nodiscard]] const std::vector<Updater::SourceCheck>& updates() const { return updates_; }
    // True from `load` until both the items and the updates are in.
    [[nodiscard]] bool isLoading() const { return loading_; }
    [[nodiscard]] bool hasLoaded() const { return loaded_; }

    // Reads the catalogue again, then the items and the updates off this thread. A load already under
    // way is joined, not repeated.
    QFuture<void> load();
    // Runs one task the program may run and records its outcome; tasks that need root and tasks already
    // running start nothing.
    QFuture<void> runTask(const std::string& id);
    // Every task that runs itself, one after another in catalogue order, each recorded.
    QFuture<void> runSelfRunning();
    // Moves a broken item of the user's own to the Trash after a fresh check, records it and lists the
    // items again; a failure is kept under "login-" + path and the list stays as it was.
    QFuture<void> removeItem(const std::string& path);

signals:
    void tasksChanged();
    void outcomesChanged();
    void runningChanged();
    void itemsChanged();
    void updatesChanged();
    void loadingChanged();

private:
    ActivityEngine& recorder() const;
    void runNext(std::vector<std::string> ids, std::shared_ptr<QPromise<void>> done);

    std::vector<MaintenanceTask> tasks_;
    std::map<std::string, Maintenance::TaskOutcome> outcomes_;
    std::set<std::string> running_;
    std::vector<BackgroundItem> items_;
    std::vector<Updater::SourceCheck> updates_;
    bool loading_ = false;
    bool loaded_ = false;
    std::shared_ptr<QPromise<void>> loadDone_;
};
