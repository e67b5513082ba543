// The application's view of the audit log: the events as last saved and one recording operation per
// kind of action. GUI thread only; that is what serialises the store's read-modify-write in-process.
#pragma once

#include "KestruneCore/Activity/ActivityEvent.h"

#include <QObject>

#include <string>
#include <vector>

class ActivityEngine : public QObject {
    Q_OBJECT

public:
    explicit ActivityEngine(QObject* parent = nullptr);

    // The one instance the application and every engine without an `activity` reference use.
    [[nodiscard]] static ActivityEngine& shared();

    [[nodiscard]] const std::vector<ActivityEvent>& events() const { return events_; }
    [[nodiscard]] std::int64_t lifetimeReclaimed() const { return lifetimeReclaimed_; }
    // Why the last recording could not be saved (empty after a successful one).
    [[nodiscard]] const std::string& logError() const { return logError_; }

    void recordScan(std::int64_t found, int categories, int itemCount, double seconds);
    void recordReclaim(const std::vector<ActivityPath>& paths, const std::vector<std::string>& errors);
    void recordEmptyTrash(const std::vector<ActivityPath>& paths, const std::vector<std::string>& errors);
    enum class Reset { no, yes };
    void recordUninstall(const std::string& appName, const std::vector<ActivityPath>& paths, Reset reset);
    void recordMaintenance(const std::string& title, const std::string& outcome);
    void record(ActivityEvent event, std::int64_t reclaimBytes);

    [[nodiscard]] std::string supportReport() const;
    // Writes the report and a closing line feed as UTF-8 in one atomic step; false when it could not be
    // written.
    bool exportReport(const std::string& path) const;
    // The suggested file name of an exported report, "Kestrune-activity-yyyyMMdd-HHmm.txt" in local time.
    [[nodiscard]] static std::string suggestedReportName();
    void clear();

signals:
    void eventsChanged();
    void lifetimeReclaimedChanged();
    void logErrorChanged();

private:
    void publish(const ActivityDocument& document);

    std::vector<ActivityEvent> events_;
    std::int64_t lifetimeReclaimed_ = 0;
    std::string logError_;
};
