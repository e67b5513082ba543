// A build run is a chain of steps, one per scope: the blocking build on a thread of its own, then the
// caches and counters on the GUI thread, then the next scope. Every step first asks the run's
// CancelBox, so a stopped or replaced run ends without touching state.
#include "Kestrune/Engines/TreemapEngine.h"

#include "Kestrune/Engines/ActivityEngine.h"
#include "Kestrune/Engines/Background.h"

#include <QThread>

#include <algorithm>
#include <sys/resource.h>

namespace {

VolumeTree::Options buildOptions() {
    VolumeTree::Options options;
    options.minBytes = 2'000'000;
    options.maxDepth = 7;
    options.maxChildren = 120;
    options.threads = std::clamp(QThread::idealThreadCount(), 2, 8);
    return options;
}

// Builds are background work: the builder's workers inherit this thread's niceness on Linux, so the
// whole walk yields to the user's own programs.
void lowerPriorityOfThisThread() {
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
}

ActivityEvent diskMapEvent(std::string title) {
    ActivityEvent e;
    e.kind = ActivityKind::diskMap;
    e.title = std::move(title);
    return e;
}

double fraction(int completed, int queued) {
    return static_cast<double>(completed) / std::max(queued, 1);
}

} // namespace

struct TreemapEngine::Run {
    std::vector<VolumeTree::Root> scopes;
    std::shared_ptr<CancelBox> box = std::make_shared<CancelBox>();
    Background::Completion done = Background::started();
};

TreemapEngine::TreemapEngine(QObject* parent)
    : QObject(parent), build(&VolumeTree::build), roots_(VolumeTree::roots()) {
    if (!roots_.empty()) {
        scope_ = roots_.front();
    }
}

TreemapEngine::~TreemapEngine() {
    if (cancelBox) {
        cancelBox->set();
    }
}

ActivityEngine& TreemapEngine::recorder() const {
    return activity ? *activity : ActivityEngine::shared();
}

// Published values ------------------------------------------------------------------------------------

void TreemapEngine::setBuilding(bool value) {
    if (isBuilding_ != value) {
        isBuilding_ = value;
        emit isBuildingChanged();
    }
}

void TreemapEngine::setProgress(double value) {
    if (progress_ != value) {
        progress_ = value;
        emit progressChanged();
    }
}

void TreemapEngine::setProgressLabel(std::string value) {
    if (progressLabel_ != value) {
        progressLabel_ = std::move(value);
        emit progressLabelChanged();
    }
}

void TreemapEngine::setDirectories(int value) {
    if (directories_ != value) {
        directories_ = value;
        emit directoriesChanged();
    }
}

void TreemapEngine::setBytesFound(std::int64_t value) {
    if (bytesFound_ != value) {
        bytesFound_ = value;
        emit bytesFoundChanged();
    }
}

void TreemapEngine::setBuiltAt(std::optional<Date> value) {
    if (builtAt_ != value) {
        builtAt_ = value;
        emit builtAtChanged();
    }
}

void TreemapEngine::setBuildingScopeID(std::optional<std::string> value) {
    if (buildingScopeID_ != value) {
        buildingScopeID_ = std::move(value);
        emit buildingScopeIDChanged();
    }
}

void TreemapEngine::setScopesCompleted(int value) {
    if (scopesCompleted_ != value) {
        scopesCompleted_ = value;
        emit scopesCompletedChanged();
    }
}

void TreemapEngine::setScopesQueued(int value) {
    if (scopesQueued_ != value) {
        scopesQueued_ = value;
        emit scopesQueuedChanged();
    }
}

void TreemapEngine::setTrail(Trail value) {
    if (trail_ != value) {
        trail_ = std::move(value);
        emit trailChanged();
    }
}

// Runs ------------------------------------------------------------------------------------------------

QFuture<void> TreemapEngine::startBackgroundBuildIfNeeded() {
    std::vector<VolumeTree::Root> missing;
    for (const auto& root : roots_) {
        if (!cachedTrails.contains(root.id)) {
            missing.push_back(root);
        }
    }
    if (missing.empty() || isBuilding_) {
        return Background::done();
    }
    return enqueue(missing, false);
}

QFuture<void> TreemapEngine::refreshAll() {
    return enqueue(roots_, true);
}

QFuture<void> TreemapEngine::enqueue(const std::vector<VolumeTree::Root>& scopes, bool replaceCaches) {
    if (cancelBox) {
        cancelBox->set();
    }
    if (replaceCaches) {
        cachedTrails.clear();
        cachedBuildTimes.clear();
        setTrail({});
        setBuiltAt(std::nullopt);
    }
    auto run = std::make_shared<Run>();
    run->scopes = scopes;
    cancelBox = run->box;
    setBuilding(true);

    int completed = 0;
    int queued = static_cast<int>(scopes.size());
    if (!replaceCaches) {
        completed = static_cast<int>(std::count_if(roots_.begin(), roots_.end(), [this](const auto& root) {
            return cachedTrails.contains(root.id);
        }));
        queued = static_cast<int>(roots_.size());
    }
    setScopesCompleted(completed);
    setScopesQueued(queued);
    setProgress(queued < 1 ? 0.0 : fraction(completed, queued));
    setProgressLabel({});
    setDirectories(0);
    setBytesFound(0);
    setBuildingScopeID(scopes.empty() ? std::nullopt : std::optional(scopes.front().id));

    std::string titles;
    for (const auto& s : scopes) {
        titles += (titles.empty() ? "" : ", ") + s.title;
    }
    auto start = diskMapEvent(replaceCaches ? "Disk map refresh" : "Disk map build");
    start.detail = "Queued " + titles;
    start.meta = {{"scopes", std::to_string(scopes.size())}, {"refresh", replaceCaches ? "true" : "false"}};
    recorder().record(std::move(start), 0);

    auto future = run->done->future();
    buildScope(run, 0);
    return future;
}

void TreemapEngine::buildScope(const std::shared_ptr<Run>& run, std::size_t index) {
    if (run->box->isSet()) {
        run->done->finish();
        return;
    }
    if (index == run->scopes.size()) {
        finishRun();
        run->done->finish();
        return;
    }
    const VolumeTree::Root scope = run->scopes[index];
    setBuildingScopeID(scope.id);
    setDirectories(0);
    setBytesFound(0);
    setProgressLabel(scope.title);
    setProgress(fraction(scopesCompleted_, scopesQueued_));
    // A handler of the signals above may have stopped the run.
    if (run->box->isSet()) {
        run->done->finish();
        return;
    }

    const int completed = scopesCompleted_;
    const int queued = scopesQueued_;
    QPointer<TreemapEngine> self(this);
    std::shared_ptr<CancelBox> box = run->box;
    auto onProgress = [self, box, scope, completed, queued](const VolumeTree::Progress& report) {
        Background::post([self, box, scope, completed, queued, report] {
            // Late reports of a stopped run or of a scope already finished change nothing.
            if (!self || box->isSet() || self->buildingScopeID_ != scope.id) {
                return;
            }
            self->setProgress((completed + report.fraction) / std::max(queued, 1));
            self->setProgressLabel(scope.title + " \u00B7 " + report.area);
            self->setDirectories(report.directories);
            self->setBytesFound(report.bytes);
        });
    };
    auto isCancelled = [box] { return box->isSet(); };
    Background::run(
        this,
        [builder = build, url = scope.url, onProgress, isCancelled] {
            lowerPriorityOfThisThread();
            return builder(url, buildOptions(), onProgress, isCancelled);
        },
        [this, run, index](Node tree) { finishScope(run, index, std::move(tree)); });
}

void TreemapEngine::finishScope(const std::shared_ptr<Run>& run, std::size_t index, Node tree) {
    if (run->box->isSet()) {
        run->done->finish();
        return;
    }
    const VolumeTree::Root& built = run->scopes[index];
    if (tree) {
        const Date now = Dates::now();
        cachedTrails[built.id] = {tree};
        cachedBuildTimes[built.id] = now;
        if (built.id == scope_.id) {
            setTrail({tree});
            setBuiltAt(now);
        }
        auto finished = diskMapEvent("Disk map \u00B7 " + built.title);
        finished.detail = "Finished";
        finished.bytes = tree->bytes;
        finished.meta = {{"scope", built.id}};
        recorder().record(std::move(finished), 0);
    }
    setScopesCompleted(scopesCompleted_ + 1);
    setProgress(fraction(scopesCompleted_, scopesQueued_));
    buildScope(run, index + 1);
}

void TreemapEngine::finishRun() {
    cancelBox.reset();
    setBuilding(false);
    setBuildingScopeID(std::nullopt);
    setProgressLabel({});
    const bool everyScopeHasAMap = std::all_of(
        roots_.begin(), roots_.end(), [this](const auto& root) { return cachedTrails.contains(root.id); });
    if (everyScopeHasAMap) {
        setProgress(1.0);
    }
    if (const auto time = cachedBuildTimes.find(scope_.id); time != cachedBuildTimes.end()) {
        setBuiltAt(time->second);
    }
}

void TreemapEngine::cancel() {
    const bool wasBuilding = isBuilding_;
    if (cancelBox) {
        cancelBox->set();
        cancelBox.reset();
    }
    setBuilding(false);
    setBuildingScopeID(std::nullopt);
    setProgressLabel({});
    if (wasBuilding) {
        auto stopped = diskMapEvent("Disk map stopped");
        stopped.detail = "Cancelled after " + std::to_string(scopesCompleted_) + " of " +
                         std::to_string(scopesQueued_) + " scopes";
        recorder().record(std::move(stopped), 0);
    }
    if (scopesQueued_ > 0) {
        setProgress(fraction(scopesCompleted_, scopesQueued_));
    }
}

TreemapEngine::Node TreemapEngine::builtMap(const std::string& scopeID) const {
    const auto found = cachedTrails.find(scopeID);
    return found == cachedTrails.end() || found->second.empty() ? nullptr : found->second.front();
}

// Trails ----------------------------------------------------------------------------------------------

void TreemapEngine::storeTrail() {
    cachedTrails[scope_.id] = trail_;
}

void TreemapEngine::drill(const Node& node) {
    if (!node || !node->isDirectory || node->isAggregate || node->children.empty()) {
        return;
    }
    // Only a folder of the one on screen continues the trail; anything else (a node of another scope's
    // tree, or a drill before the map exists) would leave a trail that no longer starts at the root.
    const Node here = current();
    if (!here || std::find(here->children.begin(), here->children.end(), node) == here->children.end()) {
        return;
    }
    Trail longer = trail_;
    longer.push_back(node);
    setTrail(std::move(longer));
    storeTrail();
}

void TreemapEngine::ascend() {
    if (trail_.size() <= 1) {
        return;
    }
    Trail shorter = trail_;
    shorter.pop_back();
    setTrail(std::move(shorter));
    storeTrail();
}

void TreemapEngine::popTo(int index) {
    if (index < 0 || static_cast<std::size_t>(index) + 1 >= trail_.size()) {
        return;
    }
    setTrail(Trail(trail_.begin(), trail_.begin() + index + 1));
    storeTrail();
}

void TreemapEngine::setScope(const VolumeTree::Root& scope) {
    if (scope == scope_) {
        return;
    }
    const VolumeTree::Root old = scope_;
    scope_ = scope;
    switchScope(old);
    emit scopeChanged();
}

void TreemapEngine::switchScope(const VolumeTree::Root& away) {
    if (!trail_.empty()) {
        cachedTrails[away.id] = trail_;
    }
    const auto trail = cachedTrails.find(scope_.id);
    setTrail(trail == cachedTrails.end() ? Trail{} : trail->second);
    const auto time = cachedBuildTimes.find(scope_.id);
    setBuiltAt(time == cachedBuildTimes.end() ? std::nullopt : std::optional(time->second));
    setDirectories(0);
    setBytesFound(0);
}
