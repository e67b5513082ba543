// The log is only ever replaced by rename, so a reader sees the old or the new document, never half of
// one. The lock file serialises whole read-modify-write cycles across processes (the app and the cli).
#include "KestruneCore/Activity/ActivityStore.h"

#include "KestruneCore/Model/DiskMath.h"
#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/AppSupport.h"
#include "KestruneCore/Platform/AtomicFile.h"
#include "KestruneCore/Platform/FileLock.h"

#include <cerrno>
#include <cstring>

namespace ActivityStore {
namespace {

// `corrupt` is a log that was read whole and does not parse: only that one is set aside. A log that
// could not be read (EIO, EACCES, ...) is left exactly as it is and nothing is written over it.
enum class Existing { missing, readable, corrupt, unreadable };

struct Loaded {
    ActivityDocument document;
    Existing existing = Existing::missing;
    std::string problem; // why it could not be read
};

std::string folder() {
    return Paths::child(Platform::applicationSupportFolder(), "Kestrune");
}

Platform::FileLock lockLog() {
    return Platform::FileLock::take(folder() + "/activity.lock", Platform::FileLock::Wait::yes);
}

Loaded loadUnlocked() {
    Loaded out;
    std::string text;
    if (const int error = AtomicFile::read(fileURL(), text); error != 0) {
        out.existing = error == ENOENT ? Existing::missing : Existing::unreadable;
        out.problem = std::strerror(error);
        return out;
    }
    auto document = ActivityJson::read(text);
    if (!document) {
        out.existing = Existing::corrupt;
        return out;
    }
    out.document = std::move(*document);
    out.existing = Existing::readable;
    return out;
}

// Keeps a log we could not parse for recovery by hand instead of overwriting its history.
std::optional<std::string> moveAsideCorrupt(const std::string& log) {
    if (auto problem = AtomicFile::setAside(log, ".unreadable")) {
        return "Could not set the unreadable activity log aside: " + *problem;
    }
    return std::nullopt;
}

std::optional<std::string> saveUnlocked(const ActivityDocument& document, const Loaded& loaded) {
    const std::string log = fileURL();
    if (loaded.existing == Existing::unreadable) {
        return "Could not read the activity log (" + loaded.problem + "); nothing was written over it";
    }
    if (loaded.existing == Existing::corrupt) {
        if (auto problem = moveAsideCorrupt(log)) {
            return problem;
        }
    }
    if (!AtomicFile::replace(log, ActivityJson::write(document), log + ".tmp")) {
        return "Could not write the activity log: " + std::string(std::strerror(errno));
    }
    return std::nullopt;
}

} // namespace

std::string fileURL() {
    return folder() + "/activity.json";
}

ActivityDocument load() {
    return loadUnlocked().document;
}

std::string storedText() {
    std::string text;
    if (AtomicFile::read(fileURL(), text) != 0 || !ActivityJson::read(text)) {
        text = ActivityJson::write(ActivityDocument{});
    }
    if (text.empty() || text.back() != '\n') {
        text += '\n';
    }
    return text;
}

std::optional<std::string> save(const ActivityDocument& document) {
    const auto lock = lockLog();
    if (!lock.held()) {
        return lock.error();
    }
    return saveUnlocked(document, loadUnlocked());
}

std::optional<std::string> clear() {
    return save(ActivityDocument{});
}

ActivityDocument append(const ActivityEvent& event, std::int64_t reclaimBytes, std::size_t cap) {
    std::optional<std::string> ignored;
    return append(event, reclaimBytes, cap, ignored);
}

ActivityDocument append(const ActivityEvent& event, std::int64_t reclaimBytes, std::size_t cap,
                        std::optional<std::string>& problem) {
    const auto lock = lockLog();
    if (!lock.held()) {
        problem = lock.error();
        return load();
    }
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
    problem = saveUnlocked(document, loaded);
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
