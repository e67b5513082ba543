// Every operation is written as a chain of steps: file work on a background thread, then the state
// changes on the GUI thread, then the next step. The public operations wrap a chain in a future.
#include "Kestrune/Engines/ScanEngine.h"

#include "Kestrune/Engines/ActivityEngine.h"
#include "Kestrune/Engines/Background.h"
#include "KestruneCore/Model/DiskMath.h"
#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/Home.h"
#include "KestruneCore/Platform/Trash.h"
#include "KestruneCore/Walk/BulkDir.h"

#include <QProcess>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <unordered_map>

namespace {

using Continuation = std::function<void()>;

QFuture<void> asFuture(const std::function<void(Continuation)>& chain) {
    auto promise = Background::started();
    chain([promise] { promise->finish(); });
    return promise->future();
}

constexpr std::int64_t finderThreshold = 1'000'000;

} // namespace

ScanEngine::ScanEngine(QObject* parent) : ScanEngine(AllScanners::all(), parent) {}

ScanEngine::ScanEngine(ScannerList registry, QObject* parent)
    : QObject(parent), measureTrash([](const std::string& path) { return DiskMath::size(path); }),
      emptyTrashViaFileManager([] { return Trash::emptyViaDesktop(); }),
      openTrashFolder([](const std::string& folder) {
          QProcess::startDetached("xdg-open", {QString::fromStdString(folder)});
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
        setSelected({});
        setErrors({});
        stepCount_ = static_cast<int>(registry_.size());
        emit stepCountChanged();
        step_ = 0;
        emit stepChanged();
        const auto start = std::chrono::steady_clock::now();
        QPointer<ScanEngine> self(this);
        auto onReport = [self](int finished, int total, CategoryKind kind,
                               const std::vector<CategoryResult>& r) {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [self, finished, total, kind, r]() mutable {
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
                },
                Qt::QueuedConnection);
        };
        Background::run(
            this, [registry = registry_, onReport] { return AllScanners::runAll(registry, onReport); },
            [this, start, done](std::vector<CategoryResult> final) {
                setResults(std::move(final));
                selectRecommended();
                refreshFreeSpace();
                if (!hasScanned_) {
                    hasScanned_ = true;
                    emit hasScannedChanged();
                }
                refreshTrashBytesLive().then(this, [this, start, done] {
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
        refreshTrashBytesLive().then(this, [this, done] {
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

QFuture<void> ScanEngine::reclaimAndEmptyTrash() {
    const bool movesToTrash = selectionMovesToTrash();
    return asFuture([this, movesToTrash](Continuation done) {
        clean(OpenTrash::no, movesToTrash ? Rescan::no : Rescan::yes).then(this, [this, movesToTrash, done] {
            if (!movesToTrash) {
                done();
                return;
            }
            emptyTrash(Rescan::yes).then(this, [done] { done(); });
        });
    });
}

QFuture<void> ScanEngine::clean(OpenTrash openFileManagerTrash, Rescan rescanAfter) {
    std::unordered_map<std::string, CategoryKind> kinds;
    for (const auto& r : results_) {
        for (const auto& i : r.items) {
            kinds.emplace(i.url, r.kind);
        }
    }
    struct Work {
        CleanupItem item;
        enum class Operation { evict, remove, trash } operation;
    };
    std::unordered_set<std::string> inTrash;
    if (const auto* trash = result(CategoryKind::trash)) {
        for (const auto& i : trash->items) {
            inTrash.insert(i.url);
        }
    }
    std::vector<Work> work;
    std::size_t evictCount = 0;
    for (const auto& item : selected_) {
        const auto found = kinds.find(item.url);
        if (found == kinds.end() || !CategoryKinds::action(found->second).isSelectable()) {
            continue;
        }
        Work w{item, Work::Operation::trash};
        if (CategoryKinds::action(found->second).kind == ReclaimAction::Kind::evict) {
            w.operation = Work::Operation::evict;
            ++evictCount;
        } else if (inTrash.contains(item.url)) {
            w.operation = Work::Operation::remove;
        }
        work.push_back(std::move(w));
    }
    if (work.empty()) {
        return Background::done();
    }
    return asFuture([this, work, evictCount, openFileManagerTrash, rescanAfter](Continuation done) {
        setScanning(true);
        setProgressLabel(evictCount == 0             ? "Moving to Trash\u2026"
                         : evictCount == work.size() ? "Freeing iCloud local copies\u2026"
                                                     : "Reclaiming\u2026");
        const std::string home = Platform::homeFolder();
        Background::run(
            this,
            [work, home] {
                WorkerResult out;
                for (const auto& w : work) {
                    const std::string display = ActivityPath::displayPath(w.item.url, home);
                    Trash::Outcome outcome;
                    PathDisposition disposition = PathDisposition::trashed;
                    switch (w.operation) {
                    case Work::Operation::evict:
                        outcome = Trash::evictLocalCopy(w.item.url);
                        disposition = PathDisposition::evicted;
                        break;
                    case Work::Operation::remove:
                        outcome = Trash::deletePermanently(w.item.url);
                        disposition = PathDisposition::removed;
                        break;
                    case Work::Operation::trash:
                        outcome = Trash::moveToTrash(w.item.url);
                        disposition = PathDisposition::trashed;
                        break;
                    }
                    if (outcome.ok) {
                        out.freed += w.item.bytes;
                        out.paths.push_back({display, w.item.bytes, disposition, std::nullopt});
                    } else {
                        out.messages.push_back(w.item.name() + ": " + outcome.reason);
                        out.paths.push_back({display, w.item.bytes, PathDisposition::failed, outcome.reason});
                    }
                }
                return out;
            },
            [this, work, home, openFileManagerTrash, rescanAfter, done](WorkerResult r) {
                setLastReclaimed(r.freed);
                setErrors(r.messages);
                recorder().recordReclaim(r.paths, r.messages);
                refreshFreeSpace();
                std::unordered_set<std::string> failed;
                bool anyTrashed = false;
                for (const auto& p : r.paths) {
                    if (p.disposition == PathDisposition::failed) {
                        failed.insert(p.path);
                    }
                    anyTrashed = anyTrashed || p.disposition == PathDisposition::trashed;
                }
                Selection still;
                for (const auto& w : work) {
                    if (failed.contains(ActivityPath::displayPath(w.item.url, home))) {
                        still.insert(w.item);
                    }
                }
                setSelected(std::move(still));
                setScanning(false);
                setProgressLabel("");
                if (openFileManagerTrash == OpenTrash::yes && anyTrashed) {
                    openTrashFolder(trashDirectoryURL());
                }
                if (rescanAfter == Rescan::yes) {
                    scan().then(this, [done] { done(); });
                } else {
                    done();
                }
            });
    });
}

ScanEngine::WorkerResult ScanEngine::wipeTrashContents(const std::string& trash) {
    WorkerResult out;
    const std::string home = Platform::homeFolder();
    const int fd = open(trash.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT) { // a Trash never created is an empty one
            out.messages.push_back(std::strerror(errno));
        }
        return out;
    }
    const auto entries = BulkDir::readAt(fd);
    close(fd);
    for (const auto& entry : entries) {
        if (entry.name == ".DS_Store") {
            continue;
        }
        const std::string child = Paths::child(trash, entry.name);
        const std::string display = ActivityPath::displayPath(child, home);
        const std::int64_t bytes = entry.isDirectory ? DiskMath::size(child) : entry.allocSize;
        const auto outcome = Trash::deletePermanently(child);
        if (outcome.ok) {
            out.freed += bytes;
            out.paths.push_back({display, bytes, PathDisposition::removed, std::nullopt});
        } else {
            out.messages.push_back(entry.name + ": " + outcome.reason);
            out.paths.push_back({display, bytes, PathDisposition::failed, outcome.reason});
        }
    }
    return out;
}

QFuture<void> ScanEngine::emptyTrash(Rescan rescanAfter) {
    return asFuture([this, rescanAfter](Continuation done) {
        const std::string trash = trashDirectoryURL();
        setScanning(true);
        setProgressLabel("Emptying Trash\u2026");
        dropTrashFromResults();
        struct Wiped {
            WorkerResult wipe;
            std::int64_t remaining = 0;
        };
        Background::run(
            this,
            [trash, measure = measureTrash] {
                Wiped w{wipeTrashContents(trash), 0};
                w.remaining = measure(trash);
                return w;
            },
            [this, trash, rescanAfter, done](Wiped w) {
                auto finish = [this, rescanAfter, done] {
                    refreshFreeSpace();
                    setSelected({});
                    refreshTrashBytesLive().then(this, [this, rescanAfter, done] {
                        dropTrashFromResults();
                        setScanning(false);
                        setProgressLabel("");
                        if (rescanAfter == Rescan::yes) {
                            scan().then(this, [done] { done(); });
                        } else {
                            done();
                        }
                    });
                };
                if (w.remaining <= finderThreshold) {
                    if (w.wipe.freed > 0) {
                        setLastReclaimed(w.wipe.freed);
                    }
                    setErrors(w.wipe.messages);
                    if (w.wipe.freed > 0 || !w.wipe.paths.empty()) {
                        recorder().recordEmptyTrash(w.wipe.paths, w.wipe.messages);
                    }
                    finish();
                    return;
                }
                setProgressLabel("Emptying Trash via File Manager\u2026");
                Background::run(
                    this,
                    [trash, measure = measureTrash, ask = emptyTrashViaFileManager] {
                        auto message = ask();
                        return std::make_pair(message, measure(trash));
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
                        setErrors(r.messages);
                        if (total > 0 || !r.paths.empty()) {
                            recorder().recordEmptyTrash(r.paths, r.messages);
                        }
                        finish();
                    });
            });
    });
}
