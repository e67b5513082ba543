// Sources are read one after another (the desktop entries once, shared by the AppImage and desktop
// readers); the measuring, which dominates, runs in parallel.
#include "KestruneCore/Apps/AppInventory.h"

#include "KestruneCore/Apps/AppSourcesLinux.h"
#include "KestruneCore/Apps/AppUsageRecord.h"
#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/Process.h"
#include "KestruneCore/Platform/RunningApps.h"
#include "KestruneCore/Platform/Trash.h"
#include "KestruneCore/Walk/DiskMeasure.h"

#include <tbb/parallel_for.h>

#include <algorithm>
#include <map>
#include <set>

namespace AppInventory {

std::vector<InstalledApp> installed() {
    const auto entries = DesktopEntry::userEntries();
    std::vector<InstalledApp> apps = BundleApps::list();
    auto append = [&apps](std::vector<InstalledApp> more) {
        for (auto& app : more) {
            apps.push_back(std::move(app));
        }
    };
    append(FlatpakApps::list());
    auto appImages = AppImageApps::list(entries);
    std::set<std::string> appImagePaths;
    for (const auto& app : appImages) {
        appImagePaths.insert(app.url);
    }
    append(std::move(appImages));
    append(DesktopApps::list(entries, appImagePaths));
    append(SnapApps::list());

    const auto record = AppUsageRecord::gnomeShell();
    const Date now = std::chrono::system_clock::now();
    tbb::parallel_for(std::size_t{0}, apps.size(), [&](std::size_t i) {
        auto& app = apps[i];
        if (app.bytes < 0) {
            app.bytes = DiskMath::size(app.url);
        }
        app.usage = AppUsageRecord::of(app, record, now);
    });

    std::map<std::string, int> ids;
    for (const auto& app : apps) {
        ++ids[app.id];
    }
    for (auto& app : apps) {
        if (ids[app.id] > 1) {
            app.id = app.url;
        }
    }
    // Largest first; applications of one size by their path, not in the order the folders happened to
    // list them, so that two listings of the same applications agree.
    std::sort(apps.begin(), apps.end(), [](const InstalledApp& a, const InstalledApp& b) {
        return a.bytes != b.bytes ? a.bytes > b.bytes : a.url < b.url;
    });
    return apps;
}

std::vector<SupportFile> leftovers(const InstalledApp& app, const std::vector<InstalledApp>& installed) {
    return SupportFiles::find(app, installed);
}

Running running(const InstalledApp& app) {
    if (app.source == AppSource::flatpak) {
        const auto ids = FlatpakApps::running();
        if (!ids) {
            return Running::unsure;
        }
        return ids->contains(app.id) ? Running::yes : Running::no;
    }
    Running answer = Running::no;
    const int self = Platform::ownProcessId();
    for (const auto& process : Platform::runningProcesses()) {
        if (process.pid == self) {
            continue;
        }
        for (const auto& program : app.programs) {
            if (process.exe) {
                if (Paths::isInside(*process.exe, program)) {
                    return Running::yes;
                }
                // An interpreter running the program as its script: "sh /home/u/opt/tool/run.sh". Only the
                // first argument counts: a later one is data (our own command line names the app too).
                if (process.arguments.size() > 1 && process.arguments[1].starts_with('/') &&
                    Paths::isInside(Paths::standardized(process.arguments[1]), program)) {
                    return Running::yes;
                }
            } else if (!process.comm.empty() &&
                       std::string_view(Paths::lastComponent(program)).substr(0, 15) == process.comm) {
                answer = Running::unsure;
            }
        }
    }
    return answer;
}

Removal removeApplication(const InstalledApp& app) {
    if (const auto command = app.privilegedRemoval(); !command.empty()) {
        return {false, false, "removing it needs administrator rights: " + command};
    }
    if (app.source == AppSource::flatpak) {
        const std::string flatpak = Process::find("flatpak");
        if (flatpak.empty()) {
            return {false, false, "flatpak is not installed"};
        }
        const auto result = Process::run({flatpak, "uninstall", "--user", "--noninteractive", app.id},
                                         std::chrono::minutes(5));
        if (!result.started) {
            return {false, false, "flatpak could not be run: " + result.error};
        }
        if (result.timedOut) {
            return {false, false, "flatpak uninstall did not finish in five minutes"};
        }
        if (result.status != 0) {
            std::string reason = result.error.empty() ? result.output : result.error;
            while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' ')) {
                reason.pop_back();
            }
            return {false, false,
                    "flatpak uninstall failed (status " + std::to_string(result.status) + ")" +
                        (reason.empty() ? std::string() : ": " + reason)};
        }
        return {true, true, {}};
    }
    if (!app.url.starts_with('/')) {
        return {false, false, "it has no file of its own to move"};
    }
    const auto moved = Trash::moveToTrash(app.url);
    return {moved.ok, false, moved.reason};
}

} // namespace AppInventory
