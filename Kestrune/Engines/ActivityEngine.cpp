// Texts of every recorded event are built here; the store only keeps them.
#include "Kestrune/Engines/ActivityEngine.h"

#include "BuildInfo.h"
#include "KestruneCore/Activity/ActivityStore.h"
#include "KestruneCore/Model/DiskMath.h"
#include "KestruneCore/Platform/AtomicFile.h"

#include <cstdio>

namespace {

struct Tally {
    std::int64_t okBytes = 0; // B: bytes of the paths that did not fail
    int ok = 0;               // M
    int failed = 0;           // F
};

Tally tally(const std::vector<ActivityPath>& paths) {
    Tally t;
    for (const auto& p : paths) {
        if (p.disposition == PathDisposition::failed) {
            ++t.failed;
        } else {
            ++t.ok;
            t.okBytes += p.bytes;
        }
    }
    return t;
}

// Bytes that left the disk for good: a move to the Trash frees nothing until the Trash is emptied, and
// counting it then again would count each byte twice in the lifetime total.
std::int64_t freedForGood(const std::vector<ActivityPath>& paths) {
    std::int64_t bytes = 0;
    for (const auto& p : paths) {
        if (p.disposition == PathDisposition::removed || p.disposition == PathDisposition::evicted) {
            bytes += p.bytes;
        }
    }
    return bytes;
}

// "finished with errors" only when something did fail.
std::string reclaimTitle(const Tally& t, const std::vector<std::string>& errors, const std::string& done,
                         const std::string& failed) {
    if (t.okBytes >= 1 || (t.failed == 0 && errors.empty())) {
        return done + DiskMath::human(t.okBytes);
    }
    return failed;
}

std::string plural(int count, const std::string& word) {
    return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

// ", F failed" and " — e1; e2; e3", as both reclaim events write them.
std::string failurePart(const Tally& t, const std::vector<std::string>& errors) {
    std::string text;
    if (t.failed > 0) {
        text += ", " + std::to_string(t.failed) + " failed";
    }
    if (!errors.empty()) {
        text += " \u2014 ";
        for (std::size_t i = 0; i < errors.size() && i < 3; ++i) {
            text += (i ? "; " : "") + errors[i];
        }
    }
    return text;
}

ActivityEvent newEvent(ActivityKind kind, std::string title) {
    ActivityEvent e;
    e.kind = kind;
    e.title = std::move(title);
    return e;
}

} // namespace

ActivityEngine::ActivityEngine(QObject* parent) : QObject(parent) {
    publish(ActivityStore::load());
}

ActivityEngine& ActivityEngine::shared() {
    static ActivityEngine* instance = new ActivityEngine; // lives for the whole process
    return *instance;
}

void ActivityEngine::publish(const ActivityDocument& document) {
    events_ = document.events;
    emit eventsChanged();
    lifetimeReclaimed_ = document.lifetimeReclaimedBytes;
    emit lifetimeReclaimedChanged();
}

void ActivityEngine::record(ActivityEvent e, std::int64_t reclaimBytes) {
    e.id = Uuid::random();
    e.date = Dates::now();
    std::optional<std::string> problem;
    auto document = ActivityStore::append(e, reclaimBytes, ActivityStore::maxEvents, problem);
    if (problem) {
        // What is on disk did not change; show what is there and say why the event is missing.
        logError_ = *problem;
        emit logErrorChanged();
        return;
    }
    if (!logError_.empty()) {
        logError_.clear();
        emit logErrorChanged();
    }
    publish(document);
}

void ActivityEngine::recordScan(std::int64_t found, int categories, int itemCount, double seconds) {
    auto e = newEvent(ActivityKind::scan, "Scan finished");
    e.detail = DiskMath::human(found) + " reclaimable across " + std::to_string(categories) + " categories";
    e.bytes = found;
    char formatted[64];
    std::snprintf(formatted, sizeof formatted, "%.1f", seconds);
    e.meta = {{"categories", std::to_string(categories)},
              {"items", std::to_string(itemCount)},
              {"seconds", formatted}};
    record(std::move(e), 0);
}

void ActivityEngine::recordReclaim(const std::vector<ActivityPath>& paths,
                                   const std::vector<std::string>& errors) {
    const Tally t = tally(paths);
    auto e = newEvent(ActivityKind::reclaim,
                      reclaimTitle(t, errors, "Reclaimed ", "Reclaim finished with errors"));
    e.detail = plural(t.ok, "item") + " moved" + failurePart(t, errors);
    e.bytes = t.okBytes;
    e.paths = paths;
    record(std::move(e), freedForGood(paths));
}

void ActivityEngine::recordEmptyTrash(const std::vector<ActivityPath>& paths,
                                      const std::vector<std::string>& errors) {
    const Tally t = tally(paths);
    auto e = newEvent(ActivityKind::reclaim,
                      reclaimTitle(t, errors, "Emptied Trash \u00B7 ", "Empty Trash finished with errors"));
    e.detail = plural(t.ok, "item") + " permanently deleted" + failurePart(t, errors);
    e.bytes = t.okBytes;
    e.paths = paths;
    e.meta = {{"emptyTrash", "true"}};
    record(std::move(e), t.okBytes);
}

void ActivityEngine::recordUninstall(const std::string& appName, const std::vector<ActivityPath>& paths,
                                     Reset reset) {
    const Tally t = tally(paths);
    auto e = newEvent(reset == Reset::yes ? ActivityKind::appReset : ActivityKind::uninstall,
                      (reset == Reset::yes ? "Reset " : "Uninstalled ") + appName);
    e.detail = t.failed > 0 ? std::string("Completed with errors")
                            : plural(static_cast<int>(paths.size()), "path") + " moved to Trash";
    e.bytes = t.okBytes;
    e.paths = paths;
    e.meta = {{"app", appName}};
    record(std::move(e), freedForGood(paths));
}

void ActivityEngine::recordMaintenance(const std::string& title, const std::string& outcome) {
    auto e = newEvent(ActivityKind::maintenance, "Maintenance \u00B7 " + title);
    e.detail = outcome;
    record(std::move(e), 0);
}

std::string ActivityEngine::supportReport() const {
    ActivityDocument document;
    document.lifetimeReclaimedBytes = lifetimeReclaimed_;
    document.events = events_;
    return ActivityStore::supportReport(document, BuildInfo::version, BuildInfo::build);
}

bool ActivityEngine::exportReport(const std::string& path) const {
    // A text file ends with a line feed, as `kestrune-cli report` writes it.
    return AtomicFile::replace(path, supportReport() + "\n");
}

std::string ActivityEngine::suggestedReportName() {
    return "Kestrune-activity-" + Dates::local(Dates::now(), "%Y%m%d-%H%M") + ".txt";
}

void ActivityEngine::clear() {
    const auto problem = ActivityStore::clear();
    if (problem) {
        logError_ = *problem;
        emit logErrorChanged();
    }
    publish(ActivityStore::load());
}
