// Linux counterparts of the housekeeping tasks: the desktop's menu and MIME caches of the user's own
// entries, the freedesktop thumbnail cache, systemd-resolved, the desktop search services and the
// journal. The ids stay those of the original tasks so that stored activity reads alike.
#include "KestruneCore/Maintenance/Maintenance.h"

#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Model/Utf8.h"
#include "KestruneCore/Platform/FileAccess.h"
#include "KestruneCore/Platform/Home.h"
#include "KestruneCore/Platform/Process.h"
#include "KestruneCore/Platform/Trash.h"
#include "KestruneCore/Platform/UserFolders.h"

#include <algorithm>
#include <cctype>

namespace Maintenance {
namespace {

using Status = TaskOutcome::Status;

std::string trimmed(const std::string& text) {
    const auto isSpace = [](unsigned char c) { return std::isspace(c) != 0; };
    auto begin = std::find_if_not(text.begin(), text.end(), isSpace);
    auto end = std::find_if_not(text.rbegin(), std::string::const_reverse_iterator(begin), isSpace).base();
    return std::string(begin, end);
}

bool isDirectory(const std::string& path) {
    return Platform::kindOf(path) == Platform::FileKind::folder;
}

std::string seconds(std::chrono::milliseconds limit) {
    const auto whole = std::chrono::duration_cast<std::chrono::seconds>(limit).count();
    return whole >= 1 ? std::to_string(whole) + (whole == 1 ? " second" : " seconds")
                      : std::to_string(limit.count()) + " ms";
}

// The search service whose reset command is shown: Tracker (GNOME), then Baloo (KDE 6, then 5).
std::optional<std::string> searchCommand() {
    if (!Process::find("tracker3").empty()) {
        return "tracker3 reset -s -r";
    }
    if (!Process::find("balooctl6").empty()) {
        return "balooctl6 purge";
    }
    if (!Process::find("balooctl").empty()) {
        return "balooctl purge";
    }
    return std::nullopt;
}

// One tool of a task: a missing tool, a failure with what it printed, or a time-out.
std::optional<std::string> runTool(const std::string& name, const std::vector<std::string>& arguments,
                                   std::chrono::milliseconds limit) {
    const std::string path = Process::find(name);
    if (path.empty()) {
        return name + " is not installed.";
    }
    const auto result = shell(path, arguments, limit);
    if (result.timedOut) {
        return name + " did not finish within " + seconds(limit) + " and was stopped.";
    }
    if (!result.ok) {
        const std::string text = trimmed(result.output);
        return text.empty() ? name + " failed." : name + " failed: " + text;
    }
    return std::nullopt;
}

TaskOutcome rebuildApplicationMenu(std::chrono::milliseconds limit) {
    const std::string data = Platform::dataHome();
    const std::string applications = Paths::child(data, "applications");
    const std::string mime = Paths::child(data, "mime");
    std::vector<std::string> problems;
    bool ran = false;
    if (isDirectory(applications)) {
        ran = true;
        if (auto problem = runTool("update-desktop-database", {applications}, limit)) {
            problems.push_back(*problem);
        }
    }
    if (isDirectory(Paths::child(mime, "packages"))) {
        ran = true;
        if (auto problem = runTool("update-mime-database", {mime}, limit)) {
            problems.push_back(*problem);
        }
    }
    if (!problems.empty()) {
        std::string sentence = "Couldn't rebuild the application menu:";
        for (const auto& p : problems) {
            sentence += " " + p;
        }
        return {Status::failed, sentence};
    }
    if (!ran) {
        return {Status::done, "Nothing to rebuild: you have no application entries of your own."};
    }
    return {Status::done, "Application menu rebuilt."};
}

TaskOutcome resetThumbnails() {
    // The freedesktop cache, and the folder older desktops used in the home itself.
    const std::string folders[] = {Paths::child(Platform::cacheHome(), "thumbnails"),
                                   Paths::child(Platform::homeFolder(), ".thumbnails")};
    int moved = 0;
    std::vector<std::string> problems;
    for (const auto& folder : folders) {
        if (!isDirectory(folder)) {
            continue;
        }
        const auto outcome = Trash::moveToTrash(folder);
        if (outcome.ok) {
            ++moved;
        } else {
            problems.push_back(folder + ": " + outcome.reason);
        }
    }
    if (!problems.empty()) {
        std::string sentence = "Couldn't reset thumbnails:";
        for (const auto& p : problems) {
            sentence += " " + p;
        }
        return {Status::failed, sentence};
    }
    if (moved == 0) {
        return {Status::done, "No thumbnail cache to reset."};
    }
    return {Status::done, "Thumbnail cache moved to Trash."};
}

} // namespace

std::vector<MaintenanceTask> tasks() {
    const auto search = searchCommand();
    return {
        {"lsregister", "Rebuild application menu",
         "Fixes duplicate or missing entries in the application menu and Open With. Runs for your user only, "
         "no password needed.",
         std::nullopt, false},
        {"quicklook", "Reset thumbnails",
         "Clears the thumbnail cache when previews show the wrong image. The cache moves to the Trash.",
         std::nullopt, false},
        {"dns", "Flush DNS cache", "Resolves stale hostnames after a network or VPN change.",
         "sudo resolvectl flush-caches", true},
        {"spotlight", "Reindex desktop search",
         search
             ? "Rebuilds the search index when desktop search returns nothing or stale results. Takes hours "
               "in the background."
             : "Rebuilds the search index of the desktop. No desktop search service (Tracker or Baloo) is "
               "installed.",
         search, true},
        {"snapshots", "Trim the system journal",
         "Frees the space the system journal holds beyond 500 MB of old logs.",
         "sudo journalctl --vacuum-size=500M", true},
    };
}

std::optional<MaintenanceTask> task(const std::string& id) {
    for (auto& t : tasks()) {
        if (t.id == id) {
            return t;
        }
    }
    return std::nullopt;
}

TaskOutcome run(const MaintenanceTask& task, std::chrono::milliseconds limit) {
    if (task.needsRoot) {
        if (!task.command) {
            return {Status::notRun, task.id == "spotlight" ? "No desktop search service is installed."
                                                           : "This task has no command to run."};
        }
        return {Status::notRun,
                "This task needs administrator rights \u2014 copy the command and run it in a terminal."};
    }
    if (task.id == "lsregister") {
        return rebuildApplicationMenu(limit);
    }
    if (task.id == "quicklook") {
        return resetThumbnails();
    }
    return {Status::notRun, "Unknown task \"" + task.id + "\"."};
}

ShellResult shell(const std::string& path, const std::vector<std::string>& arguments,
                  std::chrono::milliseconds limit) {
    ShellResult result;
    if (!path.starts_with('/') || Process::find(path).empty()) { // an executable file, named absolutely
        return result;
    }
    std::vector<std::string> argv{path};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const auto run = Process::run(argv, limit, Process::Streams::merged);
    if (!run.started) {
        result.output = Utf8::valid(run.error);
        return result;
    }
    result.timedOut = run.timedOut;
    result.ok = !run.timedOut && run.status == 0;
    if (Utf8::isValid(run.output)) {
        result.output = run.output;
    }
    return result;
}

} // namespace Maintenance
