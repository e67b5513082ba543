#include "KestruneCore/Apps/DesktopEntry.h"

#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/BulkDir.h"
#include "KestruneCore/Platform/DesktopEntries.h"
#include "KestruneCore/Platform/FileAccess.h"
#include "KestruneCore/Platform/Home.h"
#include "KestruneCore/Platform/UserFolders.h"

#include <array>
#include <fstream>

namespace {

bool isFile(const std::string& path) {
    const auto kind = Platform::kindOf(path);
    return kind == Platform::FileKind::file || kind == Platform::FileKind::link;
}

} // namespace

std::optional<DesktopEntry> DesktopEntry::read(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        return std::nullopt;
    }
    DesktopEntry entry;
    entry.path = path;
    entry.fileName = std::string(Paths::lastComponent(path));
    bool mainGroup = false;
    bool sawMain = false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.starts_with('[')) {
            mainGroup = line == "[Desktop Entry]";
            sawMain = sawMain || mainGroup;
            continue;
        }
        if (!mainGroup) {
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string::npos) {
            continue;
        }
        std::string key = line.substr(0, equals);
        while (!key.empty() && key.back() == ' ') {
            key.pop_back();
        }
        std::string value = line.substr(equals + 1);
        while (!value.empty() && value.front() == ' ') {
            value.erase(value.begin());
        }
        if (key == "Name") {
            entry.name = value;
        } else if (key == "Exec") {
            entry.exec = value;
        } else if (key == "Icon") {
            entry.icon = value;
        } else if (key == "Type") {
            entry.type = value;
        } else if (key == "Hidden") {
            entry.hidden = value == "true";
        }
    }
    if (!sawMain) {
        return std::nullopt;
    }
    entry.programs = Platform::execPaths(entry.exec);
    return entry;
}

std::vector<DesktopEntry> DesktopEntry::userEntries() {
    std::vector<DesktopEntry> entries;
    const std::string folder = Paths::child(Platform::dataHome(), "applications");
    for (const auto& e : BulkDir::read(folder)) {
        if (e.isDirectory || !e.name.ends_with(".desktop")) {
            continue;
        }
        if (auto entry = read(Paths::child(folder, e.name))) {
            entries.push_back(std::move(*entry));
        }
    }
    return entries;
}

std::vector<std::string> DesktopEntry::userIconFiles() const {
    std::vector<std::string> files;
    if (icon.empty()) {
        return files;
    }
    const std::string data = Platform::dataHome();
    if (icon.starts_with('/')) {
        const std::string normal = Paths::standardized(icon);
        if (Paths::isInside(normal, Platform::homeFolder()) && isFile(normal)) {
            files.push_back(normal);
        }
        return files;
    }
    if (icon.find('/') != std::string::npos) {
        return files;
    }
    static constexpr std::array<std::string_view, 3> extensions{".png", ".svg", ".xpm"};
    auto probe = [&](const std::string& folder) {
        for (const auto extension : extensions) {
            const std::string path = Paths::child(folder, icon + std::string(extension));
            if (isFile(path)) {
                files.push_back(path);
            }
        }
    };
    const std::string icons = Paths::child(data, "icons");
    for (const auto& theme : BulkDir::read(icons)) {
        if (!theme.isDirectory) {
            continue;
        }
        const std::string themeFolder = Paths::child(icons, theme.name);
        for (const auto& size : BulkDir::read(themeFolder)) {
            if (size.isDirectory) {
                probe(Paths::child(Paths::child(themeFolder, size.name), "apps"));
            }
        }
    }
    probe(Paths::child(data, "pixmaps"));
    return files;
}
