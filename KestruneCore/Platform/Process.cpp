// posix_spawn with two pipes read through poll, so a child that fills one pipe while we wait on the
// other cannot deadlock us.
#include "KestruneCore/Platform/Process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace Process {

std::string find(const std::string& program) {
    if (program.empty()) {
        return "";
    }
    auto executable = [](const std::string& path) {
        struct stat st {};
        return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
    };
    if (program.find('/') != std::string::npos) {
        return executable(program) ? program : "";
    }
    const char* path = std::getenv("PATH");
    const std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t end = dirs.find(':', start);
        std::string dir = dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (dir.empty()) {
            dir = ".";
        }
        const std::string candidate = dir + "/" + program;
        if (executable(candidate)) {
            return candidate;
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return "";
}

Result run(const std::vector<std::string>& argv, std::chrono::milliseconds limit, Streams streams) {
    Result result;
    if (argv.empty()) {
        result.error = "No program given";
        return result;
    }
    const std::string program = find(argv[0]);
    if (program.empty()) {
        result.error = argv[0] + ": " + std::strerror(ENOENT);
        return result;
    }
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        result.error = std::strerror(errno);
        return result;
    }
    if (pipe2(err, O_CLOEXEC) != 0) {
        result.error = std::strerror(errno);
        close(out[0]);
        close(out[1]);
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, streams == Streams::merged ? out[1] : err[1], 2);
    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    if (spawned != 0) {
        close(out[0]);
        close(err[0]);
        result.error = argv[0] + ": " + std::strerror(spawned);
        return result;
    }
    result.started = true;
    // Non-blocking reads: once the child has exited we take what is buffered and stop, even when a
    // grandchild it left behind still holds the pipes open.
    fcntl(out[0], F_SETFL, O_NONBLOCK);
    fcntl(err[0], F_SETFL, O_NONBLOCK);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.output, &result.error};
    char buffer[65536];
    auto drain = [&](int i) {
        while (fds[i].fd >= 0) {
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                    close(fds[i].fd);
                    fds[i].fd = -1;
                }
                return;
            }
        }
    };
    int status = 0;
    bool exited = false;
    while (!exited) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            kill(pid, SIGKILL);
            result.timedOut = true;
            break;
        }
        const bool anyOpen = fds[0].fd >= 0 || fds[1].fd >= 0;
        const int wait = static_cast<int>(std::min<long long>(left.count(), anyOpen ? 100 : 10));
        if (anyOpen) {
            poll(fds, 2, wait);
        } else {
            usleep(static_cast<useconds_t>(wait) * 1000);
        }
        drain(0);
        drain(1);
        const pid_t done = waitpid(pid, &status, WNOHANG);
        exited = done == pid;
    }
    drain(0);
    drain(1);
    for (auto& f : fds) {
        if (f.fd >= 0) {
            close(f.fd);
        }
    }
    if (!exited) {
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

std::optional<std::string> startDetached(const std::vector<std::string>& argv) {
    if (argv.empty()) {
        return std::string("No program given");
    }
    const std::string program = find(argv[0]);
    if (program.empty()) {
        return argv[0] + ": " + std::strerror(ENOENT);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID); // its own session: our signals are not its
    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, &attributes, args.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return argv[0] + ": " + std::strerror(spawned);
    }
    std::thread([pid] { waitpid(pid, nullptr, 0); }).detach(); // reaped whenever it ends
    return std::nullopt;
}

} // namespace Process
