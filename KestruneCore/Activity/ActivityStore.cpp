// The log is only ever replaced by rename, so a reader sees the old or the new document, never half of
// one. The lock file serialises whole read-modify-write cycles across processes (the app and the cli).
#include "KestruneCore/Activity/ActivityStore.h"

#include "KestruneCore/Model/DiskMath.h"
#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/AppSupport.h"
#include "KestruneCore/Platform/AtomicFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ActivityStore {
namespace {

enum class Existing { missing, readable, unreadable };

struct Loaded {
    ActivityDocument document;
    Existing existing = Existing::missing;
};

std::string folder() {
    return Paths::child(Platform::applicationSupportFolder(), "Kestrune");
}

void makeFolders(const std::string& path) {
    std::string partial;
    for (std::size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            partial = path.substr(0, i);
            mkdir(partial.c_str(), 0755);
        }
    }
}

// Holds an exclusive flock on Kestrune/activity.lock for its lifetime.
class FileLock {
public:
    FileLock() {
        const std::string dir = folder();
        makeFolders(dir);
        fd = open((dir + "/activity.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd >= 0) {
            while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~FileLock() {
        if (fd >= 0) {
            close(fd);
        }
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int fd = -1;
};

Loaded loadUnlocked() {
    Loaded out;
    const int fd = open(fileURL().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        out.existing = errno == ENOENT ? Existing::missing : Existing::unreadable;
        return out;
    }
    std::string text;
    char buffer[65536];
    ssize_t n;
    bool failed = false;
    while ((n = read(fd, buffer, sizeof buffer)) != 0) {
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            failed = true;
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    auto document = failed ? std::nullopt : ActivityJson::read(text);
    if (!document) {
        out.existing = Existing::unreadable;
        return out;
    }
    out.document = std::move(*document);
    out.existing = Existing::readable;
    return out;
}

// Keeps a log we could not read for recovery by hand instead of overwriting its history.
void moveAsideUnreadable(const std::string& log) {
    std::string target = log + ".unreadable";
    for (int n = 2; access(target.c_str(), F_OK) == 0 && n < 10000; ++n) {
        target = log + ".unreadable." + std::to_string(n);
    }
    rename(log.c_str(), target.c_str());
}

void saveUnlocked(const ActivityDocument& document, Existing existing) {
    const std::string dir = folder();
    makeFolders(dir);
    const std::string log = fileURL();
    if (existing == Existing::unreadable) {
        moveAsideUnreadable(log);
    }
    const std::string bytes = ActivityJson::write(document);
    if (!AtomicFile::replace(log, bytes, log + ".tmp")) {
        AtomicFile::writeDirect(log, bytes);
    }
}

} // namespace

std::string fileURL() {
    return folder() + "/activity.json";
}

ActivityDocument load() {
    return loadUnlocked().document;
}

void save(const ActivityDocument& document) {
    const FileLock lock;
    saveUnlocked(document, loadUnlocked().existing);
}

void clear() {
    save(ActivityDocument{});
}

ActivityDocument append(const ActivityEvent& event, std::int64_t reclaimBytes, std::size_t cap) {
    const FileLock lock;
    Loaded loaded = loadUnlocked();
    ActivityDocument& document = loaded.document;
    document.events.insert(document.events.begin(), event);
    if (reclaimBytes > 0) {
        document.lifetimeReclaimedBytes += reclaimBytes;
    }
    if (document.events.size() > cap) {
        document.events.resize(cap);
    }
    document.version = 1;
    saveUnlocked(document, loaded.existing);
    return document;
}

std::string supportReport(const ActivityDocument& document, const std::string& appVersion,
                          const std::string& build) {
    std::vector<std::string> lines{
        "Kestrune Activity Report",
        "Generated: " + Dates::local(Dates::now()),
        "Version: " + appVersion + " (" + build + ")",
        Platform::operatingSystemLine(),
        "",
        "Lifetime reclaimed: " + DiskMath::human(document.lifetimeReclaimedBytes),
        "Events: " + std::to_string(document.events.size()),
        "",
        "\u2500\u2500\u2500 Activity (newest first) \u2500\u2500\u2500",
        "",
    };
    for (const auto& event : document.events) {
        std::string head = "[" + Dates::local(event.date) + "] " + event.title;
        if (event.bytes && *event.bytes >= 1) {
            head += " \u00B7 " + DiskMath::human(*event.bytes);
        }
        lines.push_back(head);
        if (event.detail && !event.detail->empty()) {
            lines.push_back("  " + *event.detail);
        }
        for (const auto& p : event.paths) {
            std::string raw(ActivityKinds::rawValue(p.disposition));
            raw.resize(std::max<std::size_t>(raw.size(), 8), ' ');
            std::string line = "  " + raw + " " + p.path;
            if (p.bytes >= 1) {
                line += "  (" + DiskMath::human(p.bytes) + ")";
            }
            if (p.error && !p.error->empty()) {
                line += " \u2014 " + *p.error;
            }
            lines.push_back(line);
        }
        if (!event.meta.empty()) {
            std::string meta = "  meta: ";
            bool first = true;
            for (const auto& [key, value] : event.meta) { // std::map: ascending keys
                meta += (first ? "" : ", ") + key + "=" + value;
                first = false;
            }
            lines.push_back(meta);
        }
        lines.push_back("");
    }
    lines.push_back("\u2500\u2500\u2500 End of report \u2500\u2500\u2500");
    lines.push_back("Contains file paths from this Mac \u2014 share only with support you trust.");
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        text += lines[i];
        if (i + 1 < lines.size()) {
            text += '\n';
        }
    }
    return text;
}

} // namespace ActivityStore
