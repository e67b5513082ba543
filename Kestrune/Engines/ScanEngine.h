// The scan engine: the last scan's results, the selection, reclaiming and emptying the Trash.
// Lives on the GUI thread; every published value changes there and emits its signal. Scanning, the
// reclaim worker, the Trash wipe and Trash measurements run on background threads.
#pragma once

#include "KestruneCore/Activity/ActivityEvent.h"
#include "KestruneCore/Model/ReclaimPlan.h"
#include "KestruneCore/Platform/FileLock.h"
#include "KestruneCore/Platform/FileStamp.h"
#include "KestruneCore/Scanners/AllScanners.h"

#include <QFuture>
#include <QObject>
#include <QPointer>

#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class ActivityEngine;

class ScanEngine : public QObject {
    Q_OBJECT

public:
    using Selection = std::unordered_set<CleanupItem>;

    explicit ScanEngine(QObject* parent = nullptr);
    // A registry given by a test instead of every scanner.
    ScanEngine(ScannerList registry, QObject* parent = nullptr);
    // Stops what runs in the background after its current item and waits for it.
    ~ScanEngine() override;

    // Published state.
    [[nodiscard]] const std::vector<CategoryResult>& results() const { return results_; }
    [[nodiscard]] bool isScanning() const { return isScanning_; }
    [[nodiscard]] double progress() const { return progress_; }
    [[nodiscard]] const std::string& progressLabel() const { return progressLabel_; }
    [[nodiscard]] int step() const { return step_; }
    [[nodiscard]] int stepCount() const { return stepCount_; }
    [[nodiscard]] bool hasScanned() const { return hasScanned_; }
    [[nodiscard]] std::int64_t lastReclaimed() const { return lastReclaimed_; }
    [[nodiscard]] std::int64_t freeSpace() const { return freeSpace_; }
    [[nodiscard]] std::int64_t trashBytesLive() const { return trashBytesLive_; }
    [[nodiscard]] const Selection& selected() const { return selected_; }
    [[nodiscard]] const std::vector<std::string>& errors() const { return errors_; }
    // What the last reclaim kept back so that every group of copies keeps one member, and why.
    [[nodiscard]] const std::vector<ReclaimPlan::KeptBack>& keptBack() const { return keptBack_; }
    // Items this engine's reclaims moved to the Trash that no emptying has deleted yet.
    [[nodiscard]] std::size_t reclaimedInTrash() const { return reclaimedInTrash_.size(); }

    // Where events are recorded; the shared activity engine when unset.
    QPointer<ActivityEngine> activity;

    // Derived values.
    [[nodiscard]] std::int64_t totalFound() const;
    [[nodiscard]] std::int64_t selectedBytes() const;
    [[nodiscard]] const CategoryResult* result(CategoryKind kind) const;
    [[nodiscard]] std::optional<CategoryKind> kind(const CleanupItem& item) const;
    struct SelectionState {
        int checked = 0;
        int total = 0;
    };
    [[nodiscard]] SelectionState selectionState(CategoryKind kind) const;
    // Whether reclaiming the selection moves something to the Trash (an item of a known category
    // other than simulators, docker and cloud clutter), so that the Trash is emptied afterwards.
    [[nodiscard]] bool selectionMovesToTrash() const;
    // What reclaiming the selection would do: the one rule every front end plans with.
    [[nodiscard]] ReclaimPlan plan() const;

    // Selection, changed by the screens and the command line.
    void select(const CleanupItem& item);
    void deselect(const CleanupItem& item);
    void setSelected(Selection selection);
    // Every item of the category in or out of the selection, the rest unchanged.
    void setCategorySelected(CategoryKind kind, bool selected);
    void selectRecommended();
    void selectAllReclaimable();

    // Operations; each future finishes when the whole operation, rescan included, is done.
    QFuture<void> scan();
    QFuture<void> refreshTrashBytesLive();
    QFuture<void> reconcileTrashWithDisk();
    enum class OpenTrash { no, yes };
    enum class Rescan { no, yes };
    QFuture<void> reclaimAndEmptyTrash();
    QFuture<void> clean(OpenTrash openFileManagerTrash, Rescan rescanAfter);
    // Empties the whole Trash (the overview's "Empty Trash").
    QFuture<void> emptyTrash(Rescan rescanAfter);
    // Deletes for good exactly what this engine's reclaims moved to the Trash; the rest of the Trash
    // (what the user trashed by hand, what an uninstall put there) stays. Its messages are added to the
    // reclaim's, and a rescan after a reclaim keeps them.
    QFuture<void> emptyReclaimed(Rescan rescanAfter);

    // The per-user lock that lets one reclaim or emptying run at a time, across processes.
    [[nodiscard]] static std::string reclaimLockPath();

    [[nodiscard]] static std::string trashDirectoryURL();

    // Seams for tests where a real condition cannot be arranged: how the Trash folder is measured,
    // and how the desktop is asked to empty it (an error message, or nothing on success).
    std::function<std::int64_t(const std::string&)> measureTrash;
    std::function<std::optional<std::string>()> emptyTrashViaFileManager;
    // Shows the Trash folder in the file manager after a reclaim that asked for it.
    std::function<void(const std::string&)> openTrashFolder;

signals:
    void resultsChanged();
    void isScanningChanged();
    void progressChanged();
    void progressLabelChanged();
    void stepChanged();
    void stepCountChanged();
    void hasScannedChanged();
    void lastReclaimedChanged();
    void freeSpaceChanged();
    void trashBytesLiveChanged();
    void selectedChanged();
    void errorsChanged();
    void keptBackChanged();

private:
    struct Trashed {
        std::string path; // where it landed inside a Trash files folder
        std::int64_t bytes = 0;
    };
    struct WorkerResult {
        std::int64_t freed = 0;
        std::vector<std::string> messages;
        std::vector<ActivityPath> paths;
        std::vector<Trashed> trashed;
        std::vector<std::string> untouched; // display paths of items left alone because work stopped
    };
    using Stamps = std::unordered_map<std::string, Platform::FileStamp>;

    [[nodiscard]] ActivityEngine& recorder() const;
    void setResults(std::vector<CategoryResult> value);
    void setScanning(bool value);
    void setProgressLabel(std::string value);
    void setErrors(std::vector<std::string> value);
    void setLastReclaimed(std::int64_t value);
    void refreshFreeSpace();
    void dropTrashFromResults();
    [[nodiscard]] static WorkerResult wipeTrashContents(const std::string& trash);
    void addLogError(std::vector<std::string>& messages) const;
    // On a background thread: the reclaim lock, waiting (and saying so) while another process holds it.
    [[nodiscard]] static Platform::FileLock takeReclaimLock(QPointer<ScanEngine> self);

    ScannerList registry_;
    std::vector<CategoryResult> results_;
    bool isScanning_ = false;
    double progress_ = 0;
    std::string progressLabel_;
    int step_ = 0;
    int stepCount_ = 0;
    bool hasScanned_ = false;
    std::int64_t lastReclaimed_ = 0;
    std::int64_t freeSpace_ = 0;
    std::int64_t trashBytesLive_ = 0;
    Selection selected_;
    std::vector<std::string> errors_;
    std::vector<ReclaimPlan::KeptBack> keptBack_;
    Stamps stamps_; // what each item (and each kept copy) looked like when the scan saw it
    std::vector<Trashed> reclaimedInTrash_;
    bool keepErrors_ = false;         // the next scan is a reclaim's rescan: its errors stay
    std::vector<CleanupItem> copies_; // every copy the last scan found, also those other categories took
};
