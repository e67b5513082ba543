// The disk map engine: the three scopes, their trees built one after another in the background, the
// progress of a build run, and per scope the trail of folders the user drilled into.
// Lives on the GUI thread; every published value changes there and emits its signal. A build runs on
// a thread of its own (which starts the builder's workers); the only state it shares is a CancelBox.
#pragma once

// Qt first: moc cannot parse <compare> (pulled in by the core's value types) before Qt has set up
// its own view of the standard headers.
#include <QFuture>
#include <QObject>
#include <QPointer>

#include "KestruneCore/DiskMap/VolumeTree.h"
#include "KestruneCore/Model/Dates.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class ActivityEngine;

// The stop flag of one build run, polled by the builder's worker threads.
class CancelBox {
public:
    void set() {
        std::lock_guard lock(mutex);
        flag = true;
    }
    [[nodiscard]] bool isSet() const {
        std::lock_guard lock(mutex);
        return flag;
    }

private:
    mutable std::mutex mutex;
    bool flag = false;
};

class TreemapEngine : public QObject {
    Q_OBJECT

public:
    using Node = std::shared_ptr<const DiskNode>;
    using Trail = std::vector<Node>;
    using Builder = std::function<Node(const std::string& root, const VolumeTree::Options& options,
                                       const std::function<void(const VolumeTree::Progress&)>& onProgress,
                                       const std::function<bool()>& isCancelled)>;

    // The scopes are VolumeTree::roots(), fixed from here on.
    explicit TreemapEngine(QObject* parent = nullptr);
    // Stops a running build, so that its workers do not walk on for an engine that is gone.
    ~TreemapEngine() override;

    // Published state.
    [[nodiscard]] bool isBuilding() const { return isBuilding_; }
    [[nodiscard]] double progress() const { return progress_; }
    [[nodiscard]] const std::string& progressLabel() const { return progressLabel_; }
    [[nodiscard]] int directories() const { return directories_; }
    [[nodiscard]] std::int64_t bytesFound() const { return bytesFound_; }
    [[nodiscard]] const std::optional<Date>& builtAt() const { return builtAt_; }
    [[nodiscard]] const std::optional<std::string>& buildingScopeID() const { return buildingScopeID_; }
    [[nodiscard]] int scopesCompleted() const { return scopesCompleted_; }
    [[nodiscard]] int scopesQueued() const { return scopesQueued_; }
    [[nodiscard]] const VolumeTree::Root& scope() const { return scope_; }
    [[nodiscard]] const Trail& trail() const { return trail_; }

    [[nodiscard]] const std::vector<VolumeTree::Root>& roots() const { return roots_; }
    // The folder on screen: the trail's last node, or nothing before the scope has a map.
    [[nodiscard]] Node current() const { return trail_.empty() ? nullptr : trail_.back(); }
    // The top of the map built for a scope, or nothing while it has none.
    [[nodiscard]] Node builtMap(const std::string& scopeID) const;

    // Where events are recorded; the shared activity engine when unset.
    QPointer<ActivityEngine> activity;

    // Builds the scopes that have no map yet, unless a run is going on. The future finishes when the
    // run has ended (or at once when there was nothing to do).
    QFuture<void> startBackgroundBuildIfNeeded();
    // Stops any run, forgets every map and builds all scopes again.
    QFuture<void> refreshAll();
    // Stops the run; the maps of scopes that finished before stay.
    void cancel();

    // Enters a folder of the one on screen, if it can be entered (a folder with children, not "Other").
    void drill(const Node& node);
    // Goes up one folder; the scope's root is never left.
    void ascend();
    // Keeps the trail up to position `index` (the breadcrumb); the last position or beyond does nothing.
    void popTo(int index);
    // Shows another scope, with the folder it was left at.
    void setScope(const VolumeTree::Root& scope);

    // The volume tree builder; a test may wrap the real one to see or hold what it is given.
    Builder build;

signals:
    void isBuildingChanged();
    void progressChanged();
    void progressLabelChanged();
    void directoriesChanged();
    void bytesFoundChanged();
    void builtAtChanged();
    void buildingScopeIDChanged();
    void scopesCompletedChanged();
    void scopesQueuedChanged();
    void scopeChanged();
    void trailChanged();

private:
    struct Run;

    [[nodiscard]] ActivityEngine& recorder() const;
    QFuture<void> enqueue(const std::vector<VolumeTree::Root>& scopes, bool replaceCaches);
    void buildScope(const std::shared_ptr<Run>& run, std::size_t index);
    void finishScope(const std::shared_ptr<Run>& run, std::size_t index, Node tree);
    void finishRun();
    void switchScope(const VolumeTree::Root& away);
    void storeTrail();

    void setBuilding(bool value);
    void setProgress(double value);
    void setProgressLabel(std::string value);
    void setDirectories(int value);
    void setBytesFound(std::int64_t value);
    void setBuiltAt(std::optional<Date> value);
    void setBuildingScopeID(std::optional<std::string> value);
    void setScopesCompleted(int value);
    void setScopesQueued(int value);
    void setTrail(Trail value);

    std::vector<VolumeTree::Root> roots_;
    std::map<std::string, Trail> cachedTrails;
    std::map<std::string, Date> cachedBuildTimes;
    std::shared_ptr<CancelBox> cancelBox;

    bool isBuilding_ = false;
    double progress_ = 0;
    std::string progressLabel_;
    int directories_ = 0;
    std::int64_t bytesFound_ = 0;
    std::optional<Date> builtAt_;
    std::optional<std::string> buildingScopeID_;
    int scopesCompleted_ = 0;
    int scopesQueued_ = 0;
    VolumeTree::Root scope_;
    Trail trail_;
};
