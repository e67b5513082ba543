// The outcome sentences are matched by the category screen for "fail", "n't" and "not found" to
// decide how they are shown, so every failure sentence contains one of them.
#include "KestruneCore/Maintenance/ToolCleanup.h"

#include "KestruneCore/Platform/Home.h"
#include "KestruneCore/Platform/Process.h"
#include "KestruneCore/Platform/SystemFolder.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace ToolCleanup {
namespace {

std::string trimmed(const std::string& text) {
    const auto isSpace = [](unsigned char c) { return std::isspace(c) != 0; };
    auto begin = std::find_if_not(text.begin(), text.end(), isSpace);
    auto end = std::find_if_not(text.rbegin(), std::string::const_reverse_iterator(begin), isSpace).base();
    return std::string(begin, end);
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

struct Outcome {
    bool ok = false;
    std::string output; // standard output and error, in that order
};

Outcome shell(const std::vector<std::string>& argv) {
    const auto result = Process::run(argv, timeLimit);
    if (!result.started) {
        return {false, result.error};
    }
    if (result.timedOut) {
        return {false, "the tool did not finish within " + std::to_string(timeLimit.count()) + " seconds."};
    }
    return {result.status == 0, result.output + result.error};
}

} // namespace

bool isRunnable(CategoryKind kind) {
    return kind == CategoryKind::simulators || kind == CategoryKind::docker;
}

std::string command(CategoryKind kind) {
    if (kind == CategoryKind::simulators) {
        return "xcrun simctl delete unavailable";
    }
    if (kind == CategoryKind::docker) {
        return "docker system prune";
    }
    return "";
}

std::string run(CategoryKind kind) {
    if (kind == CategoryKind::docker) {
        return runDocker();
    }
    if (kind == CategoryKind::simulators) {
        return runSimulators();
    }
    return "This category has no in-app runner.";
}

std::string runSimulators() {
    const std::string xcrun = Platform::systemFolder("/usr/bin/xcrun");
    if (Process::find(xcrun).empty()) {
        return "Xcode command-line tools not found. Install them, then try again.";
    }
    const auto [ok, output] = shell({xcrun, "simctl", "delete", "unavailable"});
    const std::string text = trimmed(output);
    if (ok) {
        return text.empty() ? "Unavailable simulators deleted." : "Unavailable simulators deleted.\n" + text;
    }
    const std::string low = lower(text);
    if (low.find("unable to find") != std::string::npos || low.find("xcode") != std::string::npos) {
        return "Couldn't talk to simctl. Open Xcode once (or run xcode-select) and try again.";
    }
    return text.empty() ? "simctl failed." : "simctl failed: " + text;
}

std::string runDocker() {
    std::string docker;
    // The home's own client sits between the system's places, as Docker Desktop installs it there.
    for (const std::string& candidate :
         {Platform::systemFolder("/usr/local/bin/docker"), Platform::systemFolder("/opt/homebrew/bin/docker"),
          Platform::homeFolder() + "/.docker/bin/docker", Platform::systemFolder("/usr/bin/docker")}) {
        if (!Process::find(candidate).empty()) {
            docker = candidate;
            break;
        }
    }
    if (docker.empty()) {
        return "Docker CLI not found. Install Docker, start it, then try again.";
    }
    const auto [ok, output] = shell({docker, "system", "df"});
    const std::string text = trimmed(output);
    if (ok) {
        return text.empty() ? "Docker reports nothing to reclaim."
                            : "Docker reports this space (see RECLAIMABLE):\n" + text;
    }
    const std::string low = lower(text);
    if (low.find("cannot connect") != std::string::npos ||
        low.find("is the docker daemon running") != std::string::npos ||
        low.find("permission denied") != std::string::npos) {
        return "Docker doesn't look like it's running. Start it, wait until it's idle, then try again.";
    }
    return text.empty() ? "Docker query failed." : "Docker query failed: " + text;
}

} // namespace ToolCleanup
