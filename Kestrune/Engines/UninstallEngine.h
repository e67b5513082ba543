// The uninstaller's controller: the installed applications, the one picked with its support files and
// which of them stay, and uninstall and reset. Lives on the GUI thread; every published value changes
// there and is signalled. Listing, searching support files, the running check and every move run on
// background threads, each on snapshots taken when the operation starts.
#pragma once

#include <QFuture>
#include <QObject>
#include <QPointer>

#include "KestruneCore/Apps/AppInventory.h"

#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

class ActivityEngine;

class UninstallEngine : public QObject {
    Q_OBJECT

public:
    explicit UninstallEngine(QObject* parent = nullptr);
    ~UninstallEngine() override;

    // Published state.
    [[nodiscard]] const std::vector<InstalledApp>& apps() const { return apps_; }
    [[nodiscard]] const std::vector<SupportFile>& leftovers() const { return leftovers_; }
    [[nodiscard]] bool isLoading() const { return isLoading_; }
    [[nodiscard]] bool isSearching() const { return isSearching_; }
    [[nodiscard]] bool isRemoving() const { return isRemoving_; }
    [[nodiscard]] const std::optional<InstalledApp>& selectedApp() const { return selectedApp_; }
    // Paths of the support files the user unticked (and of shared ones, unticked to begin with).
    [[nodiscard]] const std::unordered_set<std::string>& excluded() const { return excluded_; }
    [[nodiscard]] const std::optional<std::string>& lastRemoved() const { return lastRemoved_; }
    [[nodiscard]] const std::vector<std::string>& errors() const { return errors_; }
    // Whether the selected application runs, as last checked (on selection and before each removal).
    [[nodiscard]] AppInventory::Running selectedRunning() const { return selectedRunning_; }
    // The command a Snap or system-wide Flatpak needs for its removal, after Uninstall declined to do it.
    [[nodiscard]] const std::string& neededCommand() const { return neededCommand_; }

    // Where events are recorded; the shared activity engine when unset.
    QPointer<ActivityEngine> activity;

    // Derived.
    [[nodiscard]] bool isExcluded(const CleanupItem& item) const { return excluded_.contains(item.url); }
    [[nodiscard]] std::vector<CleanupItem> selectedLeftovers() const;
    [[nodiscard]] std::int64_t removalTotal() const;
    [[nodiscard]] const InstalledApp* app(const std::string& id) const;

    // Builds the list once per run; later calls (and calls while it is built) finish without work.
    QFuture<void> load();
    // Picks an application (or none): its support files are searched afresh, and only a search for the
    // application still selected is applied.
    QFuture<void> select(std::optional<InstalledApp> app);
    void toggle(const CleanupItem& item);
    // Moves the selected application and the ticked support files to the Trash. When the application
    // itself cannot be removed, nothing else is touched and it stays listed and selected.
    QFuture<void> uninstall();
    // Moves only the ticked support files to the Trash; the application stays.
    QFuture<void> resetApp();

signals:
    void appsChanged();
    void loadingChanged();
    void selectionChanged(); // selectedApp, leftovers, excluded, isSearching, selectedRunning
    void removingChanged();
    void outcomeChanged(); // lastRemoved, errors, neededCommand

private:
    enum class Kind { uninstall, reset };
    QFuture<void> remove(Kind kind);
    ActivityEngine& recorder() const;
    void setOutcome(std::optional<std::string> last, std::vector<std::string> errors, std::string command);

    std::vector<InstalledApp> apps_;
    std::vector<SupportFile> leftovers_;
    bool isLoading_ = false;
    bool isSearching_ = false;
    bool isRemoving_ = false;
    std::optional<InstalledApp> selectedApp_;
    std::unordered_set<std::string> excluded_;
    std::optional<std::string> lastRemoved_;
    std::vector<std::string> errors_;
    AppInventory::Running selectedRunning_ = AppInventory::Running::no;
    std::string neededCommand_;
    unsigned selection_ = 0; // counts selections, so that a late search result is dropped
    QFuture<void> loading_;
};
