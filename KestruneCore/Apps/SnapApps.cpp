// Snaps: /snap/NAME/current/meta/snap.yaml says what a snap is; only applications are listed. The mounted
// squashfs under /snap is another file system, so the size comes from the .snap files themselves.
#include "KestruneCore/Apps/AppSourcesLinux.h"

#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/BulkDir.h"
#include "KestruneCore/Platform/Home.h"
#include "KestruneCore/Platform/SystemFolder.h"

#include <fstream>

namespace SnapApps {

namespace {

struct SnapMeta {
    std::string type = "app";
    std::string title;
};

std::string unquoted(std::string value) {
    while (!value.empty() && (value.back() == ' ' || value.back() == '\r')) {
        value.pop_back();
    }
    while (!value.empty() && value.front() == ' ') {
        value.erase(value.begin());
    }
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return value;
}

SnapMeta meta(const std::string& snap) {
    SnapMeta m;
    std::ifstream in(Paths::child(snap, "current/meta/snap.yaml"));
    std::string line;
    while (std::getline(in, line)) {
        // Only top-level keys; nested ones are indented.
        if (line.starts_with("type:")) {
            m.type = unquoted(line.substr(5));
        } else if (line.starts_with("title:")) {
            m.title = unquoted(line.substr(6));
        }
    }
    return m;
}

} // namespace

std::vector<InstalledApp> list() {
    const std::string root = Platform::systemFolder("/snap");
    const std::string snaps = Platform::systemFolder("/var/lib/snapd/snaps");
    const auto files = BulkDir::read(snaps);
    const std::string home = Platform::homeFolder();
    std::vector<InstalledApp> apps;
    for (const auto& entry : BulkDir::read(root)) {
        if (!entry.isDirectory || entry.name == "bin" || entry.name.starts_with('.')) {
            continue;
        }
        const std::string folder = Paths::child(root, entry.name);
        const SnapMeta m = meta(folder);
        if (m.type != "app") {
            continue;
        }
        InstalledApp app;
        app.source = AppSource::snap;
        app.id = entry.name;
        app.name = m.title.empty() ? entry.name : m.title;
        app.url = folder;
        app.bytes = 0;
        const std::string prefix = entry.name + "_";
        for (const auto& file : files) {
            if (!file.isDirectory && file.name.starts_with(prefix) && file.name.ends_with(".snap")) {
                app.bytes += file.allocSize;
            }
        }
        app.programs = {folder};
        app.desktopIDs = {entry.name + "_" + entry.name + ".desktop"};
        app.ownFiles = {Paths::child(Paths::child(home, "snap"), entry.name)};
        apps.push_back(std::move(app));
    }
    return apps;
}

} // namespace SnapApps
