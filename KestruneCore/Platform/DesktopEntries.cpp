// Linux: freedesktop.org desktop entries. Only the main group's Exec key is read; its value is split as
// desktop entries quote it (double quotes, backslash escapes inside them).
#include "KestruneCore/Platform/DesktopEntries.h"

#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/BulkDir.h"
#include "KestruneCore/Platform/UserFolders.h"

#include <fstream>
#include <string_view>
#include <vector>

namespace Platform {

namespace {

// A desktop entry's string value: \s, \n, \t, \r and \\ stand for their characters.
std::string unescaped(const std::string& value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out.push_back(value[i]);
            continue;
        }
        const char next = value[++i];
        switch (next) {
        case 's':
            out.push_back(' ');
            break;
        case 'n':
            out.push_back('\n');
            break;
        case 't':
            out.push_back('\t');
            break;
        case 'r':
            out.push_back('\r');
            break;
        case '\\':
            out.push_back('\\');
            break;
        default: // not a string escape: kept for the Exec quoting rules
            out.push_back('\\');
            out.push_back(next);
        }
    }
    return out;
}

std::vector<std::string> words(const std::string& value) {
    const std::string exec = unescaped(value);
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

std::vector<std::string> execWords(const std::string& exec) {
    return words(exec);
}

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
