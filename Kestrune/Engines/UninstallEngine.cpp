// Every removal is recorded through the activity engine, also one that failed; a move never stops the
// rest of a batch, but a failure to remove the application itself stops before its support files.
#include "Kestrune/Engines/UninstallEngine.h"

#include "Kestrune/Engines/ActivityEngine.h"
#include "Kestrune/Engines/Background.h"
#include "KestruneCore/Activity/ActivityEvent.h"
#include "KestruneCore/Model/DiskMath.h"
#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/Trash.h"

namespace {

struct Found {
    std::vector<SupportFile> leftovers;
    AppInventory::Running running = AppInventory::Running::no;
};

struct Moved {
    AppInventory::Running running = AppInventory::Running::no;
    std::string command;     // the removal needs administrator rights: nothing was done
    bool appFailed = false;  // the application itself could not be removed: nothing else was done
    bool appDeleted = false; // removed by its package tool rather than moved to the Trash
    std::vector<std::string> errors;
    std::vector<ActivityPath> paths;
    int supportMoved = 0;
};

void moveOne(const std::string& path, std::int64_t bytes, Moved& moved) {
    const std::string display = ActivityPath::displayPath(path);
    const auto outcome = Trash::moveToTrash(path);
    if (outcome.ok) {
        moved.paths.push_back({display, bytes, PathDisposition::trashed, std::nullopt});
        ++moved.supportMoved;
        return;
    }
    moved.errors.push_back(std::string(Paths::lastComponent(path)) + ": " + outcome.reason);
    moved.paths.push_back({display, bytes, PathDisposition::failed, outcome.reason});
}

std::string supportCount(int n) {
    return std::to_string(n) + (n == 1 ? " support item" : " support items");
}

Moved removeInBackground(bool uninstall, const InstalledApp& target,
                         const std::vector<CleanupItem>& support) {
    Moved moved;
    moved.running = AppInventory::running(target);
    if (moved.running != AppInventory::Running::no) {
        return moved;
    }
    if (uninstall) {
        if (auto command = target.privilegedRemoval(); !command.empty()) {
            moved.command = std::move(command);
            return moved;
        }
        const auto removal = AppInventory::removeApplication(target);
        const std::string display = ActivityPath::displayPath(target.url);
        if (!removal.ok) {
            moved.appFailed = true;
            moved.errors.push_back(target.name + ": " + removal.reason);
            moved.paths.push_back({display, target.bytes, PathDisposition::failed, removal.reason});
            return moved;
        }
        moved.appDeleted = removal.deleted;
        moved.paths.push_back({display, target.bytes,
                               removal.deleted ? PathDisposition::removed : PathDisposition::trashed,
                               std::nullopt});
    }
    for (const auto& item : support) {
        moveOne(item.url, item.bytes, moved);
    }
    return moved;
}

} // namespace

UninstallEngine::UninstallEngine(QObject* parent) : QObject(parent) {}

UninstallEngine::~UninstallEngine() {
    Background::jobsOf(this).stopAndWait();
}

std::vector<CleanupItem> UninstallEngine::selectedLeftovers() const {
    std::vector<CleanupItem> items;
    for (const auto& file : leftovers_) {
        if (!isExcluded(file.item)) {
            items.push_back(file.item);
        }
    }
    return items;
}

std::int64_t UninstallEngine::removalTotal() const {
    std::int64_t total = selectedApp_ ? selectedApp_->bytes : 0;
    for (const auto& item : selectedLeftovers()) {
        total += item.bytes;
    }
    return total;
}

const InstalledApp* UninstallEngine::app(const std::string& id) const {
    for (const auto& a : apps_) {
        if (a.id == id) {
            return &a;
        }
    }
    return nullptr;
}

ActivityEngine& UninstallEngine::recorder() const {
    return activity ? *activity : ActivityEngine::shared();
}

void UninstallEngine::setOutcome(std::optional<std::string> last, std::vector<std::string> errors,
                                 std::string command) {
    lastRemoved_ = std::move(last);
    errors_ = std::move(errors);
    neededCommand_ = std::move(command);
    emit outcomeChanged();
}

QFuture<void> UninstallEngine::load() {
    if (isLoading_) {
        return loading_;
    }
    if (!apps_.empty()) {
        return Background::done();
    }
    isLoading_ = true;
    emit loadingChanged();
    auto completion = Background::started();
    loading_ = completion->future();
    Background::run(
        this, [] { return AppInventory::installed(); },
        [this, completion](std::vector<InstalledApp> apps) {
            apps_ = std::move(apps);
            isLoading_ = false;
            emit appsChanged();
            emit loadingChanged();
            completion->finish();
        });
    return loading_;
}

QFuture<void> UninstallEngine::select(std::optional<InstalledApp> app) {
    const unsigned generation = ++selection_;
    selectedApp_ = std::move(app);
    leftovers_.clear();
    excluded_.clear();
    selectedRunning_ = AppInventory::Running::no;
    isSearching_ = selectedApp_.has_value();
    emit selectionChanged();
    if (!selectedApp_) {
        return Background::done();
    }
    auto completion = Background::started();
    auto future = completion->future();
    Background::run(
        this,
        [target = *selectedApp_, installed = apps_] {
            return Found{AppInventory::leftovers(target, installed), AppInventory::running(target)};
        },
        [this, completion, generation](Found found) {
            if (generation == selection_) {
                leftovers_ = std::move(found.leftovers);
                for (const auto& file : leftovers_) {
                    if (!file.sharedWith.empty()) {
                        excluded_.insert(file.item.url);
                    }
                }
                selectedRunning_ = found.running;
                isSearching_ = false;
                emit selectionChanged();
            }
            completion->finish();
        });
    return future;
}

void UninstallEngine::toggle(const CleanupItem& item) {
    if (!excluded_.erase(item.url)) {
        excluded_.insert(item.url);
    }
    emit selectionChanged();
}

QFuture<void> UninstallEngine::uninstall() {
    return remove(Kind::uninstall);
}

QFuture<void> UninstallEngine::resetApp() {
    return remove(Kind::reset);
}

QFuture<void> UninstallEngine::remove(Kind kind) {
    if (!selectedApp_ || isRemoving_ || isSearching_) {
        return Background::done();
    }
    const std::vector<CleanupItem> support = selectedLeftovers();
    if (kind == Kind::reset && support.empty()) {
        return Background::done();
    }
    isRemoving_ = true;
    emit removingChanged();
    // A failure must never stand beside the success text of an earlier removal.
    setOutcome(std::nullopt, {}, {});
    const InstalledApp target = *selectedApp_;
    std::int64_t total = kind == Kind::uninstall ? target.bytes : 0;
    for (const auto& item : support) {
        total += item.bytes;
    }
    auto completion = Background::started();
    auto future = completion->future();
    Background::run(
        this,
        [kind, target, support] { return removeInBackground(kind == Kind::uninstall, target, support); },
        [this, completion, kind, target, total](Moved moved) {
            selectedRunning_ = moved.running;
            const bool refused = moved.running != AppInventory::Running::no || !moved.command.empty();
            if (moved.running != AppInventory::Running::no) {
                setOutcome(std::nullopt,
                           {moved.running == AppInventory::Running::yes
                                ? target.name + " is running. Quit it before removing."
                                : "Kestrune cannot tell whether " + target.name +
                                      " is running. Quit it before removing."},
                           {});
                emit selectionChanged();
            } else if (!moved.command.empty()) {
                setOutcome(std::nullopt,
                           {"Removing " + target.name +
                            " needs administrator rights. Run this command in a terminal: " + moved.command},
                           moved.command);
            } else {
                recorder().recordUninstall(target.name, moved.paths,
                                           kind == Kind::reset ? ActivityEngine::Reset::yes
                                                               : ActivityEngine::Reset::no);
                std::optional<std::string> last;
                if (moved.errors.empty()) {
                    const std::string size = DiskMath::human(total);
                    if (kind == Kind::reset) {
                        last = "Reset " + target.name + " \u2014 " + size +
                               " of settings and data moved to the Trash. The app is still installed.";
                    } else if (moved.appDeleted) {
                        last = "Uninstalled " + target.name + " with flatpak and moved " +
                               supportCount(moved.supportMoved) + " to the Trash \u2014 " + size + ".";
                    } else {
                        last = "Moved " + target.name + " and " + supportCount(moved.supportMoved) +
                               " to the Trash \u2014 " + size + ".";
                    }
                }
                setOutcome(std::move(last), std::move(moved.errors), {});
            }
            const bool gone = kind == Kind::uninstall && !refused && !moved.appFailed;
            if (gone) {
                std::erase_if(apps_, [&target](const InstalledApp& a) { return a.url == target.url; });
                emit appsChanged();
            }
            isRemoving_ = false;
            emit removingChanged();
            // After an uninstall nothing is selected; after a reset the same application's files are searched
            // again. A refusal or a failure to remove the application changes nothing, the ticks included.
            QFuture<void> next = Background::done();
            if (gone) {
                next = select(std::nullopt);
            } else if (kind == Kind::reset && !refused && selectedApp_ && selectedApp_->url == target.url) {
                next = select(target);
            }
            Background::after(next, this, [completion] { completion->finish(); });
        });
    return future;
}
