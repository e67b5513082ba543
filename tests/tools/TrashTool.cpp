// Test tool: runs the Trash operations in a process of its own, so tests can run them as another user,
// with few descriptors, or inside a session bus.
// Usage: trash_tool [--max-fds N] delete PATH...   or   trash_tool empty-desktop
// Prints "ok" or "fail REASON" per path, then its "failure: ..." and "skipped: ..." lines; exits 1 when
// anything failed.
#include "KestruneCore/Platform/Trash.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>

int main(int argc, char** argv) {
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "--max-fds") == 0) {
        const rlimit limit{static_cast<rlim_t>(std::atol(argv[2])), static_cast<rlim_t>(std::atol(argv[2]))};
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0) {
            std::perror("setrlimit");
            return 2;
        }
        first = 3;
    }
    const std::string command = argc > first ? argv[first] : "";
    if (command == "empty-desktop") {
        const auto message = Trash::emptyViaDesktop();
        std::printf("%s\n", message ? ("fail " + *message).c_str() : "ok");
        return message ? 1 : 0;
    }
    if (command != "delete") {
        std::fprintf(stderr, "usage: trash_tool [--max-fds N] delete PATH... | empty-desktop\n");
        return 2;
    }
    int status = 0;
    for (int i = first + 1; i < argc; ++i) {
        const auto outcome = Trash::deletePermanently(argv[i]);
        std::printf("%s %s\n", outcome.ok ? "ok" : "fail", outcome.reason.c_str());
        for (const auto& lines : {outcome.failures, outcome.skipped}) {
            for (const auto& line : lines) {
                std::printf("  %s\n", line.c_str());
            }
        }
        status |= outcome.ok ? 0 : 1;
    }
    return status;
}
