// AppImages are single files anywhere; we look where people keep them and recognise them by the mark
// the AppImage runtime puts into the ELF header's padding, never by the extension alone.
#include "KestruneCore/Apps/AppSourcesLinux.h"

#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/BulkDir.h"
#include "KestruneCore/Platform/FileAccess.h"
#include "KestruneCore/Platform/Home.h"
#include "KestruneCore/Platform/UserFolders.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace {

bool endsWithNoCase(std::string_view text, std::string_view suffix) {
    if (text.size() < suffix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[text.size() - suffix.size() + i])) != suffix[i]) {
            return false;
        }
    }
    return true;
}

// A reverse-DNS desktop file name (org.example.Tool.desktop) is the application's identifier.
std::optional<std::string> identifierOf(const DesktopEntry& entry) {
    std::string_view stem = entry.fileName;
    stem.remove_suffix(std::string_view(".desktop").size());
    if (stem.starts_with("appimagekit") || std::count(stem.begin(), stem.end(), '.') < 2 ||
        stem.find(' ') != std::string_view::npos) {
        return std::nullopt;
    }
    return std::string(stem);
}

} // namespace

namespace AppImageApps {

bool isAppImage(const std::string& path) {
    const std::string bytes = Platform::headOf(path, 11);
    const auto* head = reinterpret_cast<const unsigned char*>(bytes.data());
    return bytes.size() == 11 && head[0] == 0x7f && head[1] == 'E' && head[2] == 'L' && head[3] == 'F' &&
           head[8] == 'A' && head[9] == 'I' && (head[10] == 1 || head[10] == 2);
}

std::vector<InstalledApp> list(const std::vector<DesktopEntry>& entries) {
    const std::string home = Platform::homeFolder();
    const std::string folders[] = {Paths::child(home, "Applications"), Paths::child(home, ".local/bin"),
                                   Paths::child(home, "bin"), Platform::downloadsFolder()};
    std::vector<InstalledApp> apps;
    std::set<std::string> seen;
    for (const auto& folder : folders) {
        for (const auto& entry : BulkDir::read(folder)) {
            if (entry.isDirectory || entry.isSymlink || entry.name.starts_with('.')) {
                continue;
            }
            const std::string path = Paths::standardized(Paths::child(folder, entry.name));
            if (!seen.insert(path).second || !isAppImage(path)) {
                continue;
            }
            InstalledApp app;
            app.source = AppSource::appimage;
            app.url = path;
            app.bytes = -1;
            app.programs = {path};
            for (const auto& desktop : entries) {
                if (!desktop.programs.contains(path)) {
                    continue;
                }
                if (app.icon.empty()) {
                    app.icon = desktop.icon;
                }
                if (app.name.empty() && !desktop.name.empty()) {
                    app.name = desktop.name;
                }
                if (!app.bundleID) {
                    app.bundleID = identifierOf(desktop);
                }
                app.desktopIDs.push_back(desktop.fileName);
                app.ownFiles.push_back(desktop.path);
                for (auto& icon : desktop.userIconFiles()) {
                    app.ownFiles.push_back(std::move(icon));
                }
            }
            if (app.name.empty()) {
                std::string_view stem = entry.name;
                if (endsWithNoCase(stem, ".appimage")) {
                    stem.remove_suffix(9);
                }
                app.name = std::string(stem);
            }
            app.id = app.bundleID.value_or(path);
            apps.push_back(std::move(app));
        }
    }
    return apps;
}

} // namespace AppImageApps

namespace DesktopApps {

std::vector<InstalledApp> list(const std::vector<DesktopEntry>& entries,
                               const std::set<std::string>& appImages) {
    const std::string home = Platform::homeFolder();
    std::vector<InstalledApp> apps;
    for (const auto& desktop : entries) {
        if (desktop.hidden || (desktop.type != "Application" && !desktop.type.empty())) {
            continue;
        }
        // The program is the first absolute path of Exec under the home folder (a launcher script of a
        // hand-installed program); programs of the package manager or of Flatpak are not the user's.
        std::string program;
        for (const auto& candidate : desktop.programs) {
            if (Paths::isInside(candidate, home) && candidate != home) {
                program = candidate;
                break;
            }
        }
        if (program.empty() || appImages.contains(program) ||
            Platform::kindOf(program, Platform::Links::followed) != Platform::FileKind::file) {
            continue;
        }
        auto same =
            std::find_if(apps.begin(), apps.end(), [&](const InstalledApp& a) { return a.url == program; });
        if (same == apps.end()) {
            InstalledApp app;
            app.source = AppSource::desktop;
            app.url = program;
            app.bytes = -1;
            app.programs = {program};
            app.bundleID = identifierOf(desktop);
            app.name = desktop.name;
            if (app.name.empty()) {
                app.name = std::string(Paths::lastComponent(program));
            }
            app.id = app.bundleID.value_or(program);
            apps.push_back(std::move(app));
            same = apps.end() - 1;
        }
        if (same->icon.empty()) {
            same->icon = desktop.icon;
        }
        same->desktopIDs.push_back(desktop.fileName);
        same->ownFiles.push_back(desktop.path);
        for (auto& icon : desktop.userIconFiles()) {
            same->ownFiles.push_back(std::move(icon));
        }
    }
    return apps;
}

} // namespace DesktopApps
