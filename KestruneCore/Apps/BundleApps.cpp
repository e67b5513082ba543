// The bundle layout: Name from the bundle's Info.plist, else its file name.
#include "KestruneCore/Apps/AppSourcesLinux.h"

#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/BulkDir.h"
#include "KestruneCore/Platform/Home.h"
#include "KestruneCore/Platform/PropertyList.h"
#include "KestruneCore/Platform/SystemFolder.h"

#include <array>
#include <climits>
#include <cstdlib>
#include <set>

namespace BundleApps {

namespace {

bool isSystemPath(const std::string& resolved) {
    static constexpr std::array<std::string_view, 3> systemPrefixes{"/System", "/usr", "/Library/Apple"};
    for (const auto prefix : systemPrefixes) {
        if (Paths::isInside(resolved, prefix) || Paths::isInside(resolved, Platform::systemFolder(prefix))) {
            return true;
        }
    }
    return false;
}

} // namespace

std::vector<InstalledApp> list() {
    const std::string roots[] = {Platform::systemFolder("/Applications"),
                                 Platform::systemFolder("/Applications/Utilities"),
                                 Paths::child(Platform::homeFolder(), "Applications")};
    std::vector<InstalledApp> apps;
    std::set<std::string> seen;
    for (const auto& root : roots) {
        for (const auto& entry : BulkDir::read(root)) {
            const std::string_view name = entry.name;
            if (name.starts_with('.') || name.size() <= 4 || !name.ends_with(".app")) {
                continue;
            }
            const std::string url = Paths::child(root, name);
            if (!seen.insert(url).second) {
                continue;
            }
            char resolved[PATH_MAX];
            if (realpath(url.c_str(), resolved) == nullptr || isSystemPath(resolved)) {
                continue;
            }
            InstalledApp app;
            app.source = AppSource::bundle;
            app.url = url;
            app.bytes = -1;
            app.name = std::string(name.substr(0, name.size() - 4));
            if (const auto info = PropertyList::readDictionary(url + "/Contents/Info.plist")) {
                app.bundleID = info->string("CFBundleIdentifier");
                if (auto display = info->string("CFBundleDisplayName")) {
                    app.name = std::move(*display);
                } else if (auto bundleName = info->string("CFBundleName")) {
                    app.name = std::move(*bundleName);
                }
            }
            app.id = app.bundleID.value_or(url);
            app.isSystem = url.starts_with("/System/");
            app.programs = {url};
            apps.push_back(std::move(app));
        }
    }
    return apps;
}

} // namespace BundleApps
