// Flatpak apps: the flatpak command says what is installed where; the deployment folder's exported
// desktop entry gives the name the menu shows. Runtimes are shared and not counted.
#include "KestruneCore/Apps/AppSourcesLinux.h"

#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/Home.h"
#include "KestruneCore/Platform/Process.h"
#include "KestruneCore/Platform/SystemFolder.h"
#include "KestruneCore/Platform/UserFolders.h"

#include <cctype>
#include <sstream>

namespace FlatpakApps {

namespace {

std::vector<std::string> columns(const std::string& line) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (true) {
        const auto tab = line.find('\t', start);
        std::string field = line.substr(start, tab == std::string::npos ? std::string::npos : tab - start);
        while (!field.empty() && (field.back() == ' ' || field.back() == '\r')) {
            field.pop_back();
        }
        while (!field.empty() && field.front() == ' ') {
            field.erase(field.begin());
        }
        out.push_back(std::move(field));
        if (tab == std::string::npos) {
            return out;
        }
        start = tab + 1;
    }
}

// An application id is reverse-DNS: at least three dot-separated pieces of letters, digits, _ and -.
bool isApplicationID(const std::string& id) {
    if (id.empty() || id.size() > 255 || id.front() == '.' || id.back() == '.' ||
        id.find("..") != std::string::npos) {
        return false;
    }
    int dots = 0;
    for (const char c : id) {
        if (c == '.') {
            ++dots;
        } else if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-')) {
            return false;
        }
    }
    return dots >= 2;
}

std::string deployment(const std::string& id, const std::string& installation) {
    if (installation == "user") {
        return Paths::child(Paths::child(Platform::dataHome(), "flatpak/app"), id);
    }
    if (installation == "system") {
        return Paths::child(Platform::systemFolder("/var/lib/flatpak/app"), id);
    }
    const std::string flatpak = Process::find("flatpak");
    const auto shown = Process::run(
        {flatpak, "info", "--installation=" + installation, "--show-location", id}, std::chrono::seconds(30));
    std::string location = shown.output;
    while (!location.empty() && (location.back() == '\n' || location.back() == ' ')) {
        location.pop_back();
    }
    // --show-location names the deployed commit: .../app/ID/ARCH/BRANCH/COMMIT.
    if (shown.status == 0 && location.starts_with('/')) {
        std::string folder = Paths::standardized(location);
        while (folder.size() > 1 && Paths::lastComponent(folder) != id) {
            folder = std::string(Paths::parent(folder));
        }
        if (Paths::lastComponent(folder) == id) {
            return folder;
        }
    }
    return {};
}

} // namespace

std::vector<InstalledApp> parse(const std::string& output) {
    std::vector<InstalledApp> apps;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        const auto fields = columns(line);
        if (fields.size() < 3 || !isApplicationID(fields[0])) {
            continue;
        }
        InstalledApp app;
        app.source = AppSource::flatpak;
        app.id = fields[0];
        app.bundleID = fields[0];
        app.name = fields[1].empty() ? fields[0] : fields[1];
        app.installation = fields[2].empty() ? "system" : fields[2];
        app.bytes = -1;
        apps.push_back(std::move(app));
    }
    return apps;
}

std::vector<InstalledApp> list() {
    const std::string flatpak = Process::find("flatpak");
    if (flatpak.empty()) {
        return {};
    }
    const auto listed = Process::run({flatpak, "list", "--app", "--columns=application,name,installation"},
                                     std::chrono::seconds(30));
    if (!listed.started || listed.timedOut || listed.status != 0) {
        return {};
    }
    std::vector<InstalledApp> apps = parse(listed.output);
    const std::string home = Platform::homeFolder();
    for (auto& app : apps) {
        app.url = deployment(app.id, app.installation);
        if (app.url.empty()) {
            // Nothing to measure or move; the path still tells one installation's copy from another's.
            app.url = "flatpak:" + app.installation + "/" + app.id;
            app.bytes = 0;
        }
        app.desktopIDs = {app.id + ".desktop"};
        app.icon = app.id;
        app.ownFiles = {Paths::child(Paths::child(home, ".var/app"), app.id)};
        const std::string exported =
            Paths::child(app.url, "current/active/export/share/applications/" + app.id + ".desktop");
        if (const auto entry = DesktopEntry::read(exported); entry && !entry->name.empty()) {
            app.name = entry->name;
        }
    }
    return apps;
}

std::optional<std::set<std::string>> running() {
    const std::string flatpak = Process::find("flatpak");
    if (flatpak.empty()) {
        return std::set<std::string>{};
    }
    const auto listed = Process::run({flatpak, "ps", "--columns=application"}, std::chrono::seconds(30));
    if (!listed.started || listed.timedOut || listed.status != 0) {
        return std::nullopt;
    }
    std::set<std::string> ids;
    std::istringstream lines(listed.output);
    std::string line;
    while (std::getline(lines, line)) {
        if (const auto fields = columns(line); !fields.empty() && !fields[0].empty()) {
            ids.insert(fields[0]);
        }
    }
    return ids;
}

} // namespace FlatpakApps
