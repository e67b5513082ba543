// The housekeeping tasks of the maintenance pane and the one routine that runs their tools. Any thread
// except the GUI thread for `run` and `shell`: each call blocks until the tool ends or its time is up.
// Tasks that need root are never run: the program shows their command for the user to copy.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

struct MaintenanceTask {
    std::string id; // stable key, kept in the activity log's texts through the title
    std::string title;
    std::string detail;
    std::optional<std::string> command; // shown for the user to copy; absent for tasks the program runs
    bool needsRoot = false;

    [[nodiscard]] bool isRunnable() const { return !needsRoot; }
};

namespace Maintenance {

inline constexpr std::chrono::seconds timeLimit{120};

// The catalogue, in this order: "lsregister" (rebuild the application menu), "quicklook" (reset
// thumbnails), "dns", "spotlight" (the desktop search service found on PATH), "snapshots" (trim the
// system journal). Read afresh on each call, since the search service is looked up on PATH.
[[nodiscard]] std::vector<MaintenanceTask> tasks();
[[nodiscard]] std::optional<MaintenanceTask> task(const std::string& id);

struct TaskOutcome {
    enum class Status { done, failed, notRun };
    Status status = Status::notRun;
    std::string sentence; // what the pane shows and the activity log records

    [[nodiscard]] bool ok() const { return status == Status::done; }
};

// Runs a task the program may run and returns its outcome; a task that needs root (or an unknown id)
// starts nothing and says so. A missing tool, an error and a time-out are failures with the reason.
// `limit` bounds each tool the task starts.
[[nodiscard]] TaskOutcome run(const MaintenanceTask& task, std::chrono::milliseconds limit = timeLimit);

struct ShellResult {
    bool ok = false;       // exit status 0
    bool timedOut = false; // killed after the time limit
    std::string output;    // standard output and error interleaved, as UTF-8; empty when not UTF-8
};

// Runs the executable at the absolute `path` with `arguments`: no shell, no PATH lookup, standard input
// from /dev/null, one pipe for both output streams. A path that is not an absolute, executable file
// starts nothing and gives (false, ""). A child still running after `limit` is killed.
[[nodiscard]] ShellResult shell(const std::string& path, const std::vector<std::string>& arguments,
                                std::chrono::milliseconds limit = timeLimit);

} // namespace Maintenance
