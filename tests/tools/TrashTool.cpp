// Test tool: runs the Trash operations in a process of its own, so tests can run them as another user,
// with few descriptors, or inside a session bus.
// Usage: trash_tool [--max-fds N] move|delete|evict PATH...   or   trash_tool empty-desktop
// Prints "ok TRASHED-AS" or "fail REASON" per path, then "failure: ..." and "skipped: ..." lines.
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
    if (argc <= first) {
        std::fprintf(stderr, "usage: trash_tool [--max-fds N] move|delete|evict PATH... | empty-desktop\n");
        return 2;
    }
    const std::string command = argv[first];
    if (command == "empty-desktop") {
        const auto message = Trash::emptyViaDesktop();
        std::printf("%s\n", message ? ("fail " + *message).c_str() : "ok");
        return message ? 1 : 0;
    }
    int status = 0;
    for (int i = first + 1; i < argc; ++i) {
        Trash::Outcome outcome;
        if (command == "move") {
            outcome = Trash::moveToTrash(argv[i]);
        } else if (command == "delete") {
            outcome = Trash::deletePermanently(argv[i]);
        } else if (command == "evict") {
            outcome = Trash::evictLocalCopy(argv[i]);
        } else {
            std::fprintf(stderr, "unknown command %s\n", command.c_str());
            return 2;
        }
        std::printf("%s %s\n", outcome.ok ? "ok" : "fail",
                    outcome.ok ? outcome.trashedAs.c_str() : outcome.reason.c_str());
        for (const auto& f : outcome.failures) {
            std::printf("failure: %s\n", f.c_str());
        }
        for (const auto& s : outcome.skipped) {
            std::printf("skipped: %s\n", s.c_str());
        }
        status |= outcome.ok ? 0 : 1;
    }
    return status;
}
