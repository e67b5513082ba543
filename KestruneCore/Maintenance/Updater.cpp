// Only standard output is parsed: the tools write progress and warnings on standard error, which would
// otherwise spoil the JSON (and make every failure look like "up to date").
#include "KestruneCore/Maintenance/Updater.h"

#include "KestruneCore/Model/Utf8.h"
#include "KestruneCore/Platform/Home.h"
#include "KestruneCore/Platform/Process.h"
#include "KestruneCore/Platform/SystemFolder.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <map>

namespace Updater {
namespace {

std::string trimmed(const std::string& text) {
    const auto isSpace = [](unsigned char c) { return std::isspace(c) != 0; };
    auto begin = std::find_if_not(text.begin(), text.end(), isSpace);
    auto end = std::find_if_not(text.rbegin(), std::string::const_reverse_iterator(begin), isSpace).base();
    return std::string(begin, end);
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!trimmed(line).empty()) {
            out.push_back(std::move(line));
        }
        start = end + 1;
    }
    return out;
}

// A Flatpak application or runtime id: dot-separated names of letters, digits, _ and -.
bool isFlatpakId(const std::string& id) {
    return id.find('.') != std::string::npos && id.front() != '.' && id.back() != '.' &&
           std::all_of(id.begin(), id.end(), [](unsigned char c) {
               return std::isalnum(c) != 0 || c == '.' || c == '_' || c == '-';
           });
}

// id -> version rows of a two-column listing; nothing when a line is not such a row.
std::optional<std::vector<std::pair<std::string, std::string>>> rows(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& line : lines(text)) {
        const auto tab = line.find('\t');
        std::string id = trimmed(line.substr(0, tab));
        std::string version = tab == std::string::npos ? "" : trimmed(line.substr(tab + 1));
        if (!isFlatpakId(id) || version.find('\t') != std::string::npos) {
            return std::nullopt;
        }
        out.emplace_back(std::move(id), std::move(version));
    }
    return out;
}

std::string describe(const std::string& program, const Process::Result& result,
                     std::chrono::milliseconds limit) {
    if (!result.started) {
        return result.error;
    }
    if (result.timedOut) {
        return program + " did not answer within " +
               std::to_string(std::chrono::duration_cast<std::chrono::seconds>(limit).count()) +
               " seconds and was stopped.";
    }
    const std::string said = trimmed(Utf8::valid(result.error));
    return program + " failed (exit status " + std::to_string(result.status) + ")" +
           (said.empty() ? "." : ": " + said.substr(0, said.find('\n')));
}

SourceCheck checkFlatpak(const std::string& program, std::chrono::milliseconds limit) {
    SourceCheck check{Source::flatpak, program, std::nullopt, {}};
    const auto updates =
        Process::run({program, "remote-ls", "--updates", "--columns=application,version"}, limit);
    if (!updates.started || updates.timedOut || updates.status != 0) {
        check.failure = describe("flatpak", updates, limit);
        return check;
    }
    const auto installed = Process::run({program, "list", "--columns=application,version"}, limit);
    if (!installed.started || installed.timedOut || installed.status != 0) {
        check.failure = describe("flatpak", installed, limit);
        return check;
    }
    if (auto parsed = parseFlatpak(updates.output, installed.output)) {
        check.outdated = std::move(*parsed);
    } else {
        check.failure = "flatpak printed a list Kestrune can't read.";
    }
    return check;
}

SourceCheck checkHomebrew(const std::string& program, std::chrono::milliseconds limit) {
    SourceCheck check{Source::homebrew, program, std::nullopt, {}};
    const auto result = Process::run({program, "outdated", "--json=v2"}, limit);
    if (!result.started || result.timedOut || result.status != 0) {
        check.failure = describe("brew", result, limit);
        return check;
    }
    if (auto parsed = parseHomebrew(result.output)) {
        check.outdated = std::move(*parsed);
    } else {
        check.failure = "brew printed a list Kestrune can't read.";
    }
    return check;
}

} // namespace

std::string name(Source source) {
    switch (source) {
    case Source::flatpak:
        return "Flatpak";
    case Source::homebrew:
        return "Homebrew";
    }
    return "";
}

std::string upgradeCommand(Source source) {
    switch (source) {
    case Source::flatpak:
        return "flatpak update";
    case Source::homebrew:
        return "brew upgrade";
    }
    return "";
}

std::string flatpakProgram() {
    return Process::find("flatpak");
}

std::string brewProgram() {
    if (auto found = Process::find("brew"); !found.empty()) {
        return found;
    }
    for (const std::string& place :
         {Platform::systemFolder("/home/linuxbrew/.linuxbrew/bin/brew"),
          Platform::homeFolder() + "/.linuxbrew/bin/brew", Platform::systemFolder("/opt/homebrew/bin/brew"),
          Platform::systemFolder("/usr/local/bin/brew")}) {
        if (auto found = Process::find(place); !found.empty()) {
            return found;
        }
    }
    return "";
}

bool isAvailable() {
    return !flatpakProgram().empty() || !brewProgram().empty();
}

std::vector<SourceCheck> check(std::chrono::milliseconds limit) {
    std::vector<SourceCheck> checks;
    if (const auto flatpak = flatpakProgram(); !flatpak.empty()) {
        checks.push_back(checkFlatpak(flatpak, limit));
    }
    if (const auto brew = brewProgram(); !brew.empty()) {
        checks.push_back(checkHomebrew(brew, limit));
    }
    return checks;
}

std::optional<std::vector<Outdated>> parseFlatpak(const std::string& updates, const std::string& installed) {
    const auto available = rows(updates);
    const auto have = rows(installed);
    if (!available || !have) {
        return std::nullopt;
    }
    // A runtime is installed once per branch; with two different versions the current one is not known.
    std::map<std::string, std::string> current;
    for (const auto& [id, version] : *have) {
        const auto [it, inserted] = current.emplace(id, version);
        if (!inserted && it->second != version) {
            it->second.clear();
        }
    }
    std::vector<Outdated> out;
    for (const auto& [id, version] : *available) {
        const auto it = current.find(id);
        const std::string now = it == current.end() ? "" : it->second;
        out.push_back({id, now.empty() ? "?" : now, version.empty() ? "?" : version, Source::flatpak});
    }
    return out;
}

std::optional<std::vector<Outdated>> parseHomebrew(const std::string& text) {
    const auto json = nlohmann::json::parse(text, nullptr, false);
    if (json.is_discarded() || !json.is_object()) {
        return std::nullopt;
    }
    std::vector<Outdated> out;
    bool any = false;
    for (const char* key : {"formulae", "casks"}) {
        const auto it = json.find(key);
        if (it == json.end()) {
            continue;
        }
        if (!it->is_array()) {
            return std::nullopt;
        }
        any = true;
        for (const auto& entry : *it) {
            if (!entry.is_object() || !entry.contains("name") || !entry["name"].is_string()) {
                continue;
            }
            Outdated o{entry["name"].get<std::string>(), "?", "?", Source::homebrew};
            if (const auto v = entry.find("installed_versions");
                v != entry.end() && v->is_array() && !v->empty() && v->front().is_string()) {
                o.current = v->front().get<std::string>();
            }
            if (const auto v = entry.find("current_version"); v != entry.end() && v->is_string()) {
                o.latest = v->get<std::string>();
            }
            out.push_back(std::move(o));
        }
    }
    if (!any) {
        return std::nullopt;
    }
    return out;
}

} // namespace Updater
