// Linux: /proc lists one folder per process; comm is at most 15 bytes, so the executable's own name is
// read too (it holds "signal-desktop" or "firefox-esr" whole). Processes that end while being read, or
// belong to users whose exe link is hidden, simply give fewer names.
#include "KestruneCore/Platform/RunningApps.h"

#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/BulkDir.h"

#include <fcntl.h>
#include <unistd.h>

namespace Platform {

namespace {

bool isNumber(const std::string& name) {
    return !name.empty() && name.find_first_not_of("0123456789") == std::string::npos;
}

std::string readSmallFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    char buffer[256];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    close(fd);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

} // namespace

std::set<std::string, std::less<>> runningProgramNames() {
    std::set<std::string, std::less<>> names;
    for (const auto& entry : BulkDir::read("/proc")) {
        if (!entry.isDirectory || !isNumber(entry.name)) {
            continue;
        }
        const std::string folder = "/proc/" + entry.name;
        std::string comm = readSmallFile(folder + "/comm");
        while (!comm.empty() && comm.back() == '\n') {
            comm.pop_back();
        }
        if (!comm.empty()) {
            names.insert(std::move(comm));
        }
        char target[4096];
        const ssize_t n = readlink((folder + "/exe").c_str(), target, sizeof target);
        if (n > 0) {
            std::string_view exe(target, static_cast<std::size_t>(n));
            // An executable replaced while running reads "/path/name (deleted)".
            if (exe.ends_with(" (deleted)")) {
                exe.remove_suffix(10);
            }
            if (const auto last = Paths::lastComponent(exe); !last.empty()) {
                names.emplace(last);
            }
        }
    }
    return names;
}

} // namespace Platform

namespace Platform {

std::vector<RunningProcess> runningProcesses() {
    std::vector<RunningProcess> processes;
    for (const auto& entry : BulkDir::read("/proc")) {
        if (!entry.isDirectory || !isNumber(entry.name)) {
            continue;
        }
        const std::string folder = "/proc/" + entry.name;
        RunningProcess process;
        process.pid = std::stoi(entry.name);
        process.comm = readSmallFile(folder + "/comm");
        while (!process.comm.empty() && process.comm.back() == '\n') {
            process.comm.pop_back();
        }
        char target[4096];
        const ssize_t n = readlink((folder + "/exe").c_str(), target, sizeof target);
        if (n > 0) {
            std::string exe(target, static_cast<std::size_t>(n));
            if (exe.ends_with(" (deleted)")) {
                exe.resize(exe.size() - 10);
            }
            process.exe = std::move(exe);
        }
        // The first 256 bytes of the command line: enough for an interpreter and its script's path.
        const std::string commandLine = readSmallFile(folder + "/cmdline");
        std::size_t start = 0;
        while (start < commandLine.size() && process.arguments.size() < 3) {
            auto end = commandLine.find('\0', start);
            if (end == std::string::npos) {
                break; // cut off: not a whole word
            }
            process.arguments.push_back(commandLine.substr(start, end - start));
            start = end + 1;
        }
        processes.push_back(std::move(process));
    }
    return processes;
}

int ownProcessId() {
    return static_cast<int>(getpid());
}

} // namespace Platform
