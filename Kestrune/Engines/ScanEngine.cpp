// Every operation is written as a chain of steps: file work on a background thread, then the state
// changes on the GUI thread, then the next step. The public operations wrap a chain in a future.
#include "Kestrune/Engines/ScanEngine.h"

#include "Kestrune/Engines/ActivityEngine.h"
#include "Kestrune/Engines/Background.h"
#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/AppSupport.h"
#include "KestruneCore/Platform/BulkDir.h"
#include "KestruneCore/Platform/FileLock.h"
#include "KestruneCore/Platform/Home.h"
#include "KestruneCore/Platform/Process.h"
#include "KestruneCore/Platform/Trash.h"
#include "KestruneCore/Platform/TrashFolder.h"
#include "KestruneCore/Walk/DiskMeasure.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <set>
#include <unordered_map>

namespace {

using Continuation = std::function<void()>;

QFuture<void> asFuture(const std::function<void(Continuation)>& chain) {
    auto promise = Background::started();
    chain([promise] { promise->finish(); });
    return promise->future();
}

constexpr std::int64_t finderThreshold = 1'000'000;

// Why `item` must not move now, or nothing: it (or the copy kept in its place) is not what the scan
// saw, or a duplicate no longer holds the kept copy's bytes.
template <typename Stamps>
std::optional<std::string> changedSinceScan(const ReclaimPlan::Step& step, const Stamps& stamps) {
    auto unchanged = [&stamps](const std::string& path) {
        const auto scanned = stamps.find(path);
        const auto now = Platform::stampOf(path);
        return scanned != stamps.end() && now && scanned->second.unchangedIn(*now);
    };
    if (!unchanged(step.item.url)) {
        return std::string("changed since the scan");
    }
    if (step.keeper) {
        const std::string kept(Paths::lastComponent(*step.keeper));
        if (!unchanged(*step.keeper)) {
            return "changed since the scan (the copy kept in its place, " + kept + ", changed or is gone)";
        }
        if (step.kind == CategoryKind::duplicates &&
            Platform::compareContents(step.item.url, *step.keeper) != Platform::Contents::same) {
            return "changed since the scan (it no longer holds the same bytes as " + kept + ")";
        }
    }
    return std::nullopt;
}

} // namespace

ScanEngine::ScanEngine(QObject* parent) : ScanEngine(AllScanners::all(), parent) {}

ScanEngine::~ScanEngine() {
    Background::jobsOf(this).stopAndWait();
}

std::string ScanEngine::reclaimLockPath() {
    return Paths::child(Platform::applicationSupportFolder(), "Kestrune/reclaim.lock");
}

// When another reclaim (this app's or kestrune-cli's) holds the lock, say so on the GUI thread and wait.
Platform::FileLock ScanEngine::takeReclaimLock(QPointer<ScanEngine> self) {
    auto lock = Platform::FileLock::take(reclaimLockPath(), Platform::FileLock::Wait::no);
    if (!lock.busy()) {
        return lock;
    }
    Background::post([self] {
        if (self) {
            self->setProgressLabel("Waiting for another reclaim to finish\u2026");
        }
    });
    return Platform::FileLock::take(reclaimLockPath(), Platform::FileLock::Wait::yes);
}

void ScanEngine::addLogError(std::vector<std::string>& messages) const {
    if (!recorder().logError().empty()) {
        messages.push_back(recorder().logError());
    }
}

ScanEngine::ScanEngine(ScannerList registry, QObject* parent)
    : QObject(parent), measureTrash([](const std::string& path) { return DiskMath::size(path); }),
      emptyTrashViaFileManager([] { return Trash::emptyViaDesktop(); }),
      openTrashFolder([](const std::string& folder) {
          (void)Process::startDetached({"xdg-open", folder}); // no desktop: nothing to open, nothing lost
      }),
      registry_(std::move(registry)), freeSpace_(DiskMath::freeSpace()) {}

ActivityEngine& ScanEngine::recorder() const {
    return activity ? *activity : ActivityEngine::shared();
}

std::int64_t ScanEngine::totalFound() const {
    std::int64_t sum = 0;
    for (const auto& r : results_) {
        sum += r.bytes();
    }
    return sum;
}

std::int64_t ScanEngine::selectedBytes() const {
    std::int64_t sum = 0;
    for (const auto& item : selected_) {
        sum += item.bytes;
    }
    return sum;
}

const CategoryResult* ScanEngine::result(CategoryKind kind) const {
    for (const auto& r : results_) {
        if (r.kind == kind) {
            return &r;
        }
    }
    return nullptr;
}

std::optional<CategoryKind> ScanEngine::kind(const CleanupItem& item) const {
    for (const auto& r : results_) {
        for (const auto& i : r.items) {
            if (i.url == item.url) {
                return r.kind;
            }
        }
    }
    return std::nullopt;
}

ScanEngine::SelectionState ScanEngine::selectionState(CategoryKind kind) const {
    const auto* r = result(kind);
    if (r == nullptr) {
        return {};
    }
    SelectionState state{0, static_cast<int>(r->items.size())};
    for (const auto& i : r->items) {
        state.checked += selected_.contains(i) ? 1 : 0;
    }
    return state;
}

void ScanEngine::select(const CleanupItem& item) {
    if (selected_.insert(item).second) {
        emit selectedChanged();
    }
}

void ScanEngine::deselect(const CleanupItem& item) {
    if (selected_.erase(item) > 0) {
        emit selectedChanged();
    }
}

void ScanEngine::setSelected(Selection selection) {
    selected_ = std::move(selection);
    emit selectedChanged();
}

void ScanEngine::setCategorySelected(CategoryKind kind, bool on) {
    const auto* r = result(kind);
    if (r == nullptr) {
        return;
    }
    Selection selection = selected_;
    for (const auto& item : r->items) {
        if (on) {
            selection.insert(item);
        } else {
            selection.erase(item);
        }
    }
    setSelected(std::move(selection));
}

void ScanEngine::selectRecommended() {
    Selection selection;
    for (const auto& r : results_) {
        if (CategoryKinds::safety(r.kind) == Safety::safe) {
            for (const auto& item : r.items) {
                if (item.isRecommended()) {
                    selection.insert(item);
                }
            }
        }
    }
    setSelected(std::move(selection));
}

void ScanEngine::selectAllReclaimable() {
    Selection selection;
    for (const auto& r : results_) {
        if (CategoryKinds::action(r.kind).isSelectable()) {
            selection.insert(r.items.begin(), r.items.end());
        }
    }
    setSelected(std::move(selection));
}

void ScanEngine::setResults(std::vector<CategoryResult> value) {
    results_ = std::move(value);
    emit resultsChanged();
}

void ScanEngine::setScanning(bool value) {
    if (isScanning_ != value) {
        isScanning_ = value;
        emit isScanningChanged();
    }
}

void ScanEngine::setProgressLabel(std::string value) {
    if (progressLabel_ != value) {
        progressLabel_ = std::move(value);
        emit progressLabelChanged();
    }
}

void ScanEngine::setErrors(std::vector<std::string> value) {
    errors_ = std::move(value);
    emit errorsChanged();
}

void ScanEngine::setLastReclaimed(std::int64_t value) {
    lastReclaimed_ = value;
    emit lastReclaimedChanged();
}

void ScanEngine::refreshFreeSpace() {
    freeSpace_ = DiskMath::freeSpace();
    emit freeSpaceChanged();
}

std::string ScanEngine::trashDirectoryURL() {
    return Trash::filesFolder();
}

// Scanning --------------------------------------------------------------------------------------------

QFuture<void> ScanEngine::scan() {
    if (isScanning_) {
        return Background::done();
    }
    return asFuture([this](Continuation done) {
        setScanning(true);
        progress_ = 0;
        emit progressChanged();
        setResults({});
        copies_.clear();
        setSelected({});
        if (!keepErrors_) {
            setErrors({});
        }
        keepErrors_ = false;
        stepCount_ = static_cast<int>(registry_.size());
        emit stepCountChanged();
        step_ = 0;
        emit stepChanged();
        const auto start = std::chrono::steady_clock::now();
        QPointer<ScanEngine> self(this);
        auto onReport = [self](int finished, int total, CategoryKind kind,
                               const std::vector<CategoryResult>& r) {
            Background::post([self, finished, total, kind, r]() mutable {
                if (!self) {
                    return;
                }
                self->step_ = finished;
                emit self->stepChanged();
                self->stepCount_ = total;
                emit self->stepCountChanged();
                self->progress_ = static_cast<double>(finished) / std::max(total, 1);
                emit self->progressChanged();
                self->setProgressLabel("Scanning " + std::string(CategoryKinds::title(kind)) + "\u2026");
                self->setResults(std::move(r));
            });
        };
        struct Scanned {
            std::vector<CategoryResult> results;
            Stamps stamps;
            std::vector<CleanupItem> copies;
        };
        Background::run(
            this,
            [registry = registry_, onReport, stop = Background::stopFlag(this)] {
                Scanned scanned;
                scanned.results = AllScanners::runAll(registry, onReport, stop.get(), &scanned.copies);
                // What each item looked like when it was found, so that a reclaim moves nothing that
                // changed after the user saw it.
                std::vector<const CleanupItem*> all;
                for (const auto& r : scanned.results) {
                    for (const auto& item : r.items) {
                        all.push_back(&item);
                    }
                }
                for (const auto& copy : scanned.copies) {
                    all.push_back(&copy);
                }
                {
                    for (const CleanupItem* found : all) {
                        const CleanupItem& item = *found;
                        for (const auto* path : {&item.url, item.keptCopy ? &*item.keptCopy : nullptr}) {
                            if (path != nullptr && !scanned.stamps.contains(*path)) {
                                if (auto stamp = Platform::stampOf(*path)) {
                                    scanned.stamps.emplace(*path, *stamp);
                                }
                            }
                        }
                    }
                }
                return scanned;
            },
            [this, start, done](Scanned scanned) {
                stamps_ = std::move(scanned.stamps);
                copies_ = std::move(scanned.copies);
                setResults(std::move(scanned.results));
                selectRecommended();
                refreshFreeSpace();
                if (!hasScanned_) {
                    hasScanned_ = true;
                    emit hasScannedChanged();
                }
                Background::after(refreshTrashBytesLive(), this, [this, start, done] {
                    const double seconds =
                        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                    int items = 0;
                    for (const auto& r : results_) {
                        items += static_cast<int>(r.items.size());
                    }
                    recorder().recordScan(totalFound(), static_cast<int>(results_.size()), items, seconds);
                    setScanning(false);
                    setProgressLabel("");
                    done();
                });
            });
    });
}

QFuture<void> ScanEngine::refreshTrashBytesLive() {
    return asFuture([this](Continuation done) {
        Background::run(
            this, [measure = measureTrash, trash = trashDirectoryURL()] { return measure(trash); },
            [this, done](std::int64_t bytes) {
                trashBytesLive_ = bytes;
                emit trashBytesLiveChanged();
                done();
            });
    });
}

QFuture<void> ScanEngine::reconcileTrashWithDisk() {
    return asFuture([this](Continuation done) {
        Background::after(refreshTrashBytesLive(), this, [this, done] {
            const auto* trash = result(CategoryKind::trash);
            if (trash != nullptr) {
                const std::int64_t scanned = trash->bytes();
                if (scanned > 1'000'000 && trashBytesLive_ < std::max<std::int64_t>(500'000, scanned / 20)) {
                    dropTrashFromResults();
                }
            }
            done();
        });
    });
}

void ScanEngine::dropTrashFromResults() {
    const auto* trash = result(CategoryKind::trash);
    if (trash == nullptr) {
        return;
    }
    Selection selection = selected_;
    for (const auto& i : trash->items) {
        selection.erase(i);
    }
    setSelected(std::move(selection));
    std::vector<CategoryResult> kept;
    for (const auto& r : results_) {
        if (r.kind != CategoryKind::trash) {
            kept.push_back(r);
        }
    }
    setResults(std::move(kept));
}

// Reclaiming -----------------------------------------------------------------------------------------

namespace {

// Info files whose item is gone, in every Trash that `paths` lie in and the home trash.
void removeOrphans(const std::vector<std::string>& paths, std::vector<std::string>& messages) {
    std::set<std::string> folders{Trash::filesFolder()};
    for (const auto& p : paths) {
        const std::size_t at = p.rfind("/files/");
        if (at != std::string::npos) {
            folders.insert(p.substr(0, at + 6));
        }
    }
    for (const auto& folder : folders) {
        const auto outcome = Trash::removeOrphanInfo(folder);
        if (!outcome.ok) {
            messages.push_back(outcome.reason);
        }
    }
}

// What is left in the given Trash folders.
std::int64_t measureAll(const std::function<std::int64_t(const std::string&)>& measure,
                        const std::vector<std::string>& trashes) {
    std::int64_t total = 0;
    for (const auto& trash : trashes) {
        total += measure(trash);
    }
    return total;
}

} // namespace

bool ScanEngine::selectionMovesToTrash() const {
    for (const auto& item : selected_) {
        const auto k = kind(item);
        if (k && *k != CategoryKind::simulators && *k != CategoryKind::docker &&
            *k != CategoryKind::cloudClutter) {
            return true;
        }
    }
    return false;
}

ReclaimPlan ScanEngine::plan() const {
    return ReclaimPlan::make(results_, selected_, &copies_);
}

QFuture<void> ScanEngine::reclaimAndEmptyTrash() {
    const bool movesToTrash = selectionMovesToTrash();
    return asFuture([this, movesToTrash](Continuation done) {
        Background::after(clean(OpenTrash::no, movesToTrash ? Rescan::no : Rescan::yes), this,
                          [this, movesToTrash, done] {
                              if (!movesToTrash) {
                                  done();
                                  return;
                              }
                              Background::after(emptyReclaimed(Rescan::yes), this, [done] { done(); });
                          });
    });
}

QFuture<void> ScanEngine::clean(OpenTrash openFileManagerTrash, Rescan rescanAfter) {
    ReclaimPlan planned = plan();
    std::unordered_set<std::string> inTrash;
    if (const auto* trash = result(CategoryKind::trash)) {
        for (const auto& i : trash->items) {
            inTrash.insert(i.url);
        }
    }
    if (planned.steps.empty() && planned.keptBack.empty()) {
        return Background::done();
    }
    std::size_t evictCount = 0;
    for (const auto& step : planned.steps) {
        evictCount += CategoryKinds::action(step.kind).kind == ReclaimAction::Kind::evict ? 1 : 0;
    }
    return asFuture([this, planned = std::move(planned), inTrash, evictCount, openFileManagerTrash,
                     rescanAfter](Continuation done) {
        const auto& steps = planned.steps;
        keptBack_ = planned.keptBack;
        emit keptBackChanged();
        setScanning(true);
        setProgressLabel(evictCount == 0              ? "Moving to Trash\u2026"
                         : evictCount == steps.size() ? "Freeing iCloud local copies\u2026"
                                                      : "Reclaiming\u2026");
        const std::string home = Platform::homeFolder();
        Background::run(
            this,
            [steps, inTrash, home, stamps = stamps_, self = QPointer<ScanEngine>(this),
             stop = Background::stopFlag(this)] {
                WorkerResult out;
                const auto lock = takeReclaimLock(self);
                if (!lock.held()) {
                    out.messages.push_back("Nothing was reclaimed: " + lock.error());
                    return out;
                }
                for (const auto& step : steps) {
                    const CleanupItem& item = step.item;
                    const std::string display = ActivityPath::displayPath(item.url, home);
                    if (stop->load()) {
                        out.untouched.push_back(display); // quitting: left exactly as it was
                        continue;
                    }
                    if (auto changed = changedSinceScan(step, stamps)) {
                        out.messages.push_back(item.name() + ": " + *changed);
                        out.paths.push_back({display, item.bytes, PathDisposition::failed, *changed});
                        continue;
                    }
                    Trash::Outcome outcome;
                    PathDisposition disposition = PathDisposition::trashed;
                    std::int64_t freeing = item.bytes;
                    if (CategoryKinds::action(step.kind).kind == ReclaimAction::Kind::evict) {
                        outcome = Trash::evictLocalCopy(item.url);
                        disposition = PathDisposition::evicted;
                    } else {
                        // A file with a hard link elsewhere keeps its bytes on disk when this link goes.
                        freeing = DiskMath::measured(item.url).freedByRemoving;
                        if (inTrash.contains(item.url)) {
                            outcome = Trash::deletePermanently(item.url);
                            disposition = PathDisposition::removed;
                        } else {
                            outcome = Trash::moveToTrash(item.url);
                            disposition = PathDisposition::trashed;
                        }
                    }
                    if (outcome.ok) {
                        out.freed += freeing;
                        out.paths.push_back({display,
                                             disposition == PathDisposition::removed ? freeing : item.bytes,
                                             disposition, std::nullopt});
                        if (disposition == PathDisposition::trashed) {
                            out.trashed.push_back({outcome.trashedAs, item.bytes});
                        }
                    } else {
                        out.messages.push_back(item.name() + ": " + outcome.reason);
                        out.paths.push_back({display, item.bytes, PathDisposition::failed, outcome.reason});
                    }
                }
                if (std::any_of(out.paths.begin(), out.paths.end(), [](const ActivityPath& p) {
                        return p.disposition == PathDisposition::removed;
                    })) {
                    removeOrphans({}, out.messages); // deleting from the Trash tidies it too
                }
                return out;
            },
            [this, steps, home, openFileManagerTrash, rescanAfter, done](WorkerResult r) {
                reclaimedInTrash_.insert(reclaimedInTrash_.end(), r.trashed.begin(), r.trashed.end());
                setLastReclaimed(r.freed);
                if (!r.paths.empty() || !r.messages.empty()) {
                    recorder().recordReclaim(r.paths, r.messages);
                    addLogError(r.messages);
                }
                setErrors(r.messages);
                refreshFreeSpace();
                std::unordered_set<std::string> stay(r.untouched.begin(), r.untouched.end());
                bool anyTrashed = false;
                for (const auto& p : r.paths) {
                    if (p.disposition == PathDisposition::failed) {
                        stay.insert(p.path);
                    }
                    anyTrashed = anyTrashed || p.disposition == PathDisposition::trashed;
                }
                Selection still;
                for (const auto& step : steps) {
                    if (stay.contains(ActivityPath::displayPath(step.item.url, home))) {
                        still.insert(step.item);
                    }
                }
                setSelected(std::move(still));
                setScanning(false);
                setProgressLabel("");
                if (openFileManagerTrash == OpenTrash::yes && anyTrashed) {
                    openTrashFolder(trashDirectoryURL());
                }
                if (rescanAfter == Rescan::yes) {
                    keepErrors_ = true; // the reclaim's failures stay on screen after its rescan
                    Background::after(scan(), this, [done] { done(); });
                } else {
                    done();
                }
            });
    });
}

ScanEngine::WorkerResult ScanEngine::wipeTrashContents(const std::string& trash) {
    WorkerResult out;
    const std::string home = Platform::homeFolder();
    int error = 0; // a Trash never created is an empty one
    const auto entries = BulkDir::read(trash, BulkDir::Options::none, error);
    if (error != 0) {
        out.messages.push_back(std::strerror(error));
        return out;
    }
    for (const auto& entry : entries) {
        if (entry.name == ".DS_Store") {
            continue;
        }
        const std::string child = Paths::child(trash, entry.name);
        const std::string display = ActivityPath::displayPath(child, home);
        const std::int64_t bytes = DiskMath::measured(child).freedByRemoving;
        const auto outcome = Trash::deletePermanently(child);
        if (outcome.ok) {
            out.freed += bytes;
            out.paths.push_back({display, bytes, PathDisposition::removed, std::nullopt});
        } else {
            out.messages.push_back(entry.name + ": " + outcome.reason);
            out.paths.push_back({display, bytes, PathDisposition::failed, outcome.reason});
        }
    }
    if (const auto tidied = Trash::removeOrphanInfo(trash); !tidied.ok) {
        out.messages.push_back(tidied.reason);
    }
    return out;
}

QFuture<void> ScanEngine::emptyReclaimed(Rescan rescanAfter) {
    return asFuture([this, rescanAfter](Continuation done) {
        auto finished = [this, rescanAfter, done] {
            if (rescanAfter == Rescan::yes) {
                keepErrors_ = true;
                Background::after(scan(), this, [done] { done(); });
            } else {
                done();
            }
        };
        if (reclaimedInTrash_.empty()) {
            finished();
            return;
        }
        std::vector<Trashed> items = std::move(reclaimedInTrash_);
        reclaimedInTrash_.clear();
        setScanning(true);
        setProgressLabel("Emptying Trash\u2026");
        Background::run(
            this,
            [items, self = QPointer<ScanEngine>(this), home = Platform::homeFolder(),
             stop = Background::stopFlag(this)] {
                std::pair<WorkerResult, std::vector<Trashed>> out; // what was done, what is left
                auto& r = out.first;
                const auto lock = takeReclaimLock(self);
                if (!lock.held()) {
                    r.messages.push_back("Nothing was deleted from the Trash: " + lock.error());
                    out.second = items;
                    return out;
                }
                std::vector<std::string> places;
                for (const auto& item : items) {
                    if (stop->load()) {
                        out.second.push_back(item);
                        continue;
                    }
                    places.push_back(item.path);
                    const std::string display = ActivityPath::displayPath(item.path, home);
                    // Measured now: a hard link of one of its files may have gone since it was trashed.
                    const std::int64_t freeing = DiskMath::measured(item.path).freedByRemoving;
                    const auto outcome = Trash::deletePermanently(item.path);
                    if (outcome.ok) {
                        r.freed += freeing;
                        r.paths.push_back({display, freeing, PathDisposition::removed, std::nullopt});
                    } else {
                        r.messages.push_back(std::string(Paths::lastComponent(item.path)) + ": " +
                                             outcome.reason);
                        r.paths.push_back({display, item.bytes, PathDisposition::failed, outcome.reason});
                    }
                }
                removeOrphans(places, r.messages);
                return out;
            },
            [this, finished](std::pair<WorkerResult, std::vector<Trashed>> out) {
                WorkerResult& r = out.first;
                reclaimedInTrash_.insert(reclaimedInTrash_.end(), out.second.begin(), out.second.end());
                if (r.freed > 0) {
                    setLastReclaimed(r.freed);
                }
                if (!r.paths.empty() || !r.messages.empty()) {
                    recorder().recordEmptyTrash(r.paths, r.messages);
                    addLogError(r.messages);
                }
                // After the reclaim's own messages, which this emptying completes.
                auto errors = errors_;
                errors.insert(errors.end(), r.messages.begin(), r.messages.end());
                setErrors(std::move(errors));
                refreshFreeSpace();
                Background::after(refreshTrashBytesLive(), this, [this, finished] {
                    setScanning(false);
                    setProgressLabel("");
                    finished();
                });
            });
    });
}

QFuture<void> ScanEngine::emptyTrash(Rescan rescanAfter) {
    return asFuture([this, rescanAfter](Continuation done) {
        const std::string trash = trashDirectoryURL();
        setScanning(true);
        setProgressLabel("Emptying Trash\u2026");
        dropTrashFromResults();
        reclaimedInTrash_.clear(); // all of the Trash goes
        struct Wiped {
            WorkerResult wipe;
            std::vector<std::string>
                trashes; // every Trash of the user, which the desktop's emptying clears too
            std::int64_t remaining = 0;
        };
        Background::run(
            this,
            [trash, measure = measureTrash, self = QPointer<ScanEngine>(this)] {
                const auto lock = takeReclaimLock(self);
                if (!lock.held()) {
                    Wiped w;
                    w.wipe.messages.push_back("Nothing was deleted from the Trash: " + lock.error());
                    return w;
                }
                // The Trash folders of other disks (and of Snap apps) are the user's Trash too.
                Wiped w{wipeTrashContents(trash), {trash}, 0};
                for (auto& other : Platform::otherTrashFilesFolders()) {
                    auto wiped = wipeTrashContents(other);
                    w.wipe.freed += wiped.freed;
                    w.wipe.paths.insert(w.wipe.paths.end(), wiped.paths.begin(), wiped.paths.end());
                    w.wipe.messages.insert(w.wipe.messages.end(), wiped.messages.begin(),
                                           wiped.messages.end());
                    w.trashes.push_back(std::move(other));
                }
                w.remaining = measureAll(measure, w.trashes);
                return w;
            },
            [this, trash, rescanAfter, done](Wiped w) {
                auto finish = [this, rescanAfter, done] {
                    refreshFreeSpace();
                    setSelected({});
                    Background::after(refreshTrashBytesLive(), this, [this, rescanAfter, done] {
                        dropTrashFromResults();
                        setScanning(false);
                        setProgressLabel("");
                        if (rescanAfter == Rescan::yes) {
                            Background::after(scan(), this, [done] { done(); });
                        } else {
                            done();
                        }
                    });
                };
                if (w.remaining <= finderThreshold) {
                    if (w.wipe.freed > 0) {
                        setLastReclaimed(w.wipe.freed);
                    }
                    if (w.wipe.freed > 0 || !w.wipe.paths.empty() || !w.wipe.messages.empty()) {
                        recorder().recordEmptyTrash(w.wipe.paths, w.wipe.messages);
                        addLogError(w.wipe.messages);
                    }
                    setErrors(w.wipe.messages);
                    finish();
                    return;
                }
                setProgressLabel("Emptying Trash via File Manager\u2026");
                Background::run(
                    this,
                    [trashes = w.trashes, measure = measureTrash, ask = emptyTrashViaFileManager] {
                        auto message = ask();
                        return std::make_pair(message, measureAll(measure, trashes));
                    },
                    [this, w, finish](std::pair<std::optional<std::string>, std::int64_t> after) {
                        WorkerResult r = w.wipe;
                        if (after.first) {
                            r.messages.push_back(*after.first);
                        }
                        const std::int64_t total =
                            r.freed + (after.second < w.remaining ? w.remaining - after.second : 0);
                        if (total >= 1) {
                            setLastReclaimed(total);
                        }
                        if (total > 0 || !r.paths.empty() || !r.messages.empty()) {
                            recorder().recordEmptyTrash(r.paths, r.messages);
                            addLogError(r.messages);
                        }
                        setErrors(r.messages);
                        finish();
                    });
            });
    });
}
