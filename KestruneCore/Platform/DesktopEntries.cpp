// Linux: freedesktop.org desktop entries. Only the main group's Exec key is read; its value is split as
// desktop entries quote it (double quotes, backslash escapes inside them).
#include "KestruneCore/Platform/DesktopEntries.h"

#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/UserFolders.h"
#include "KestruneCore/Walk/BulkDir.h"

#include <fstream>
#include <string_view>
#include <vector>

namespace Platform {

namespace {

std::vector<std::string> words(const std::string& exec) {
    std::vector<std::string> out;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (std::size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (quoted) {
            if (c == '\\' && i + 1 < exec.size()) {
                word.push_back(exec[++i]);
            } else if (c == '"') {
                quoted = false;
            } else {
                word.push_back(c);
            }
        } else if (c == '"') {
            quoted = true;
            inWord = true;
        } else if (c == ' ' || c == '\t') {
            if (inWord) {
                out.push_back(std::move(word));
                word.clear();
                inWord = false;
            }
        } else {
            word.push_back(c);
            inWord = true;
        }
    }
    if (inWord) {
        out.push_back(std::move(word));
    }
    return out;
}

} // namespace

std::set<std::string> execPaths(const std::string& exec) {
    std::set<std::string> paths;
    for (const auto& word : words(exec)) {
        if (word.starts_with('/')) {
            paths.insert(Paths::standardized(word));
        }
    }
    return paths;
}

std::set<std::string> launchedAppImages() {
    std::set<std::string> paths;
    const std::string folder = Paths::child(dataHome(), "applications");
    for (const auto& entry : BulkDir::read(folder)) {
        if (entry.isDirectory || !entry.name.ends_with(".desktop")) {
            continue;
        }
        std::ifstream in(Paths::child(folder, entry.name));
        std::string line;
        bool mainGroup = false;
        while (std::getline(in, line)) {
            if (line.starts_with('[')) {
                mainGroup = line.starts_with("[Desktop Entry]");
            } else if (mainGroup && line.starts_with("Exec=")) {
                paths.merge(execPaths(line.substr(5)));
            }
        }
    }
    return paths;
}

} // namespace Platform
