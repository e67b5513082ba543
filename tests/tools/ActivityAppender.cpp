// Test tool: appends events to the audit log of $XDG_DATA_HOME in a loop and reports each one once it
// is saved, so tests can kill it at any moment or run two of them at once.
// Usage: activity_appender COUNT CAP TAG
#include "KestruneCore/Activity/ActivityStore.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: activity_appender COUNT CAP TAG\n");
        return 2;
    }
    const long count = std::strtol(argv[1], nullptr, 10);
    const auto cap = static_cast<std::size_t>(std::strtol(argv[2], nullptr, 10));
    std::printf("ready\n");
    std::fflush(stdout);
    for (long i = 0; i < count; ++i) {
        ActivityEvent event;
        event.id = Uuid::random();
        event.date = Dates::now();
        event.kind = ActivityKind::maintenance;
        event.title = std::string(argv[3]) + " " + std::to_string(i);
        (void)ActivityStore::append(event, 1, cap);
        std::printf("%s\n", event.id.text().c_str());
        std::fflush(stdout);
    }
    return 0;
}
