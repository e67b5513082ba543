// Which installed packages have newer versions, as the user's own package tools answer: Flatpak and
// Homebrew (formulae on Linux, casks where a Mac's Homebrew lists them). The program keeps no update
// catalogue of its own and upgrades nothing; it shows the command that does. Any thread except the GUI
// thread: `check` runs the tools and can take many seconds.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace Updater {

enum class Source { flatpak, homebrew };

struct Outdated {
    std::string name;
    std::string current; // "?" when the tool gave none
    std::string latest;  // "?" when the tool gave none
    Source source = Source::flatpak;
};

// One tool's answer. A tool that could not be run, failed, ran out of time or printed what does not
// parse is a failure with the reason: never the same as "up to date".
struct SourceCheck {
    Source source = Source::flatpak;
    std::string program; // the executable asked
    std::optional<std::string> failure;
    std::vector<Outdated> outdated; // in the order the tool listed them
};

inline constexpr std::chrono::seconds timeLimit{120};

[[nodiscard]] std::string name(Source source);           // "Flatpak", "Homebrew"
[[nodiscard]] std::string upgradeCommand(Source source); // "flatpak update", "brew upgrade"

// The tools found: flatpak on PATH; brew on PATH, else Linuxbrew's and Homebrew's own places.
[[nodiscard]] std::string flatpakProgram();
[[nodiscard]] std::string brewProgram();
// True when either tool is installed.
[[nodiscard]] bool isAvailable();

// Asks every installed tool, in the order Flatpak, Homebrew; empty when neither is installed.
[[nodiscard]] std::vector<SourceCheck> check(std::chrono::milliseconds limit = timeLimit);

// The parsers, on the tools' standard output. Flatpak: tab-separated lines of
// `remote-ls --updates --columns=application,version` and of `list --columns=application,version`.
// Homebrew: the JSON of `outdated --json=v2`. Nothing when the text is not of that form.
[[nodiscard]] std::optional<std::vector<Outdated>> parseFlatpak(const std::string& updates,
                                                                const std::string& installed);
[[nodiscard]] std::optional<std::vector<Outdated>> parseHomebrew(const std::string& json);

} // namespace Updater
