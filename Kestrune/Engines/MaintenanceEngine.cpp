#include "Kestrune/Engines/MaintenanceEngine.h"

#include "Kestrune/Engines/ActivityEngine.h"
#include "Kestrune/Engines/Background.h"

#include <algorithm>
#include <utility>

MaintenanceEngine::MaintenanceEngine(QObject* parent) : QObject(parent), tasks_(Maintenance::tasks()) {}

ActivityEngine& MaintenanceEngine::recorder() const {
    return activity ? *activity : ActivityEngine::shared();
}

QFuture<void> MaintenanceEngine::load() {
    if (loading_ && loadDone_) {
        return loadDone_->future();
    }
    tasks_ = Maintenance::tasks();
    emit tasksChanged();
    loading_ = true;
    emit loadingChanged();
    loadDone_ = Background::started();
    auto done = loadDone_;
    const auto limit = timeLimit;
    Background::run(
        this, [] { return LoginItems::all(); },
        [this, done, limit](std::vector<BackgroundItem> items) {
            items_ = std::move(items);
            emit itemsChanged();
            Background::run(
                this, [limit] { return Updater::check(limit); },
                [this, done](std::vector<Updater::SourceCheck> updates) {
                    updates_ = std::move(updates);
                    emit updatesChanged();
                    loading_ = false;
                    loaded_ = true;
                    emit loadingChanged();
                    done->finish();
                });
        });
    return done->future();
}

QFuture<void> MaintenanceEngine::runTask(const std::string& id) {
    const auto found = std::find_if(tasks_.begin(), tasks_.end(), [&](const auto& t) { return t.id == id; });
    if (found == tasks_.end() || !found->isRunnable() || running_.contains(id)) {
        return Background::done();
    }
    const MaintenanceTask task = *found;
    running_.insert(id);
    emit runningChanged();
    auto done = Background::started();
    const auto limit = timeLimit;
    Background::run(
        this, [task, limit] { return Maintenance::run(task, limit); },
        [this, task, done](Maintenance::TaskOutcome outcome) {
            running_.erase(task.id);
            outcomes_[task.id] = outcome;
            recorder().recordMaintenance(task.title, outcome.sentence);
            emit outcomesChanged();
            emit runningChanged();
            done->finish();
        });
    return done->future();
}

QFuture<void> MaintenanceEngine::runSelfRunning() {
    std::vector<std::string> ids;
    for (const auto& t : tasks_) {
        if (t.isRunnable()) {
            ids.push_back(t.id);
        }
    }
    auto done = Background::started();
    runNext(std::move(ids), done);
    return done->future();
}

void MaintenanceEngine::runNext(std::vector<std::string> ids, std::shared_ptr<QPromise<void>> done) {
    if (ids.empty()) {
        done->finish();
        return;
    }
    const std::string id = ids.front();
    ids.erase(ids.begin());
    // A task the user started by hand is already running: it records itself, and is not run twice.
    Background::after(runTask(id), this, [this, ids = std::move(ids), done]() mutable {
        runNext(std::move(ids), std::move(done));
    });
}

QFuture<void> MaintenanceEngine::removeItem(const std::string& path) {
    const auto found =
        std::find_if(items_.begin(), items_.end(), [&](const BackgroundItem& i) { return i.path == path; });
    if (found == items_.end()) {
        return Background::done();
    }
    const BackgroundItem item = *found;
    const std::string key = "login-" + path;
    auto done = Background::started();
    Background::run(
        this,
        [item] {
            auto error = LoginItems::remove(item);
            std::vector<BackgroundItem> now;
            if (!error) {
                now = LoginItems::all();
            }
            return std::make_pair(std::move(error), std::move(now));
        },
        [this, item, key, done](std::pair<std::optional<std::string>, std::vector<BackgroundItem>> result) {
            if (result.first) {
                outcomes_[key] = {Maintenance::TaskOutcome::Status::failed, *result.first};
                emit outcomesChanged();
            } else {
                outcomes_.erase(key);
                items_ = std::move(result.second);
                emit itemsChanged();
                emit outcomesChanged();
                recorder().recordMaintenance("Removed broken login item", item.label);
            }
            done->finish();
        });
    return done->future();
}
