#include "KestruneCore/Apps/AppUsageRecord.h"

#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/FileAccess.h"
#include "KestruneCore/Platform/UserFolders.h"

#include <charconv>
#include <fstream>
#include <sstream>

namespace AppUsageRecord {

namespace {

std::string_view attribute(std::string_view tag, std::string_view name) {
    std::size_t at = 0;
    while ((at = tag.find(name, at)) != std::string_view::npos) {
        const bool starts = at > 0 && (tag[at - 1] == ' ' || tag[at - 1] == '\t' || tag[at - 1] == '\n');
        const std::size_t after = at + name.size();
        if (starts && tag.substr(after, 2) == "=\"") {
            const auto end = tag.find('"', after + 2);
            if (end != std::string_view::npos) {
                return tag.substr(after + 2, end - after - 2);
            }
        }
        at = after;
    }
    return {};
}

} // namespace

Record parseGnomeShell(std::string_view xml) {
    Record record;
    record.present = xml.find("<application-state") != std::string_view::npos;
    std::size_t at = 0;
    while ((at = xml.find("<application ", at)) != std::string_view::npos) {
        const auto end = xml.find('>', at);
        if (end == std::string_view::npos) {
            break;
        }
        const std::string_view tag = xml.substr(at, end - at);
        at = end;
        const std::string_view id = attribute(tag, "id");
        const std::string_view seen = attribute(tag, "last-seen");
        long long seconds = 0;
        const auto [ptr, error] = std::from_chars(seen.data(), seen.data() + seen.size(), seconds);
        if (id.empty() || error != std::errc() || ptr != seen.data() + seen.size()) {
            continue;
        }
        // Seconds beyond what a Date can hold are no date at all.
        if (seconds < -9'000'000'000LL || seconds > 9'000'000'000LL) {
            continue;
        }
        const Date date{std::chrono::duration_cast<Date::duration>(std::chrono::seconds(seconds))};
        auto [it, inserted] = record.lastSeen.emplace(std::string(id), date);
        if (!inserted && it->second < date) {
            it->second = date;
        }
    }
    return record;
}

Record gnomeShell() {
    std::ifstream in(Paths::child(Platform::dataHome(), "gnome-shell/application_state"));
    if (!in) {
        return {};
    }
    std::stringstream text;
    text << in.rdbuf();
    return parseGnomeShell(text.str());
}

bool plausible(Date date, Date now) {
    // 2001-01-01 00:00:00 UTC
    const Date earliest{std::chrono::duration_cast<Date::duration>(std::chrono::seconds(978'307'200))};
    return date > earliest && date < now + std::chrono::hours(24);
}

AppUsage of(const InstalledApp& app, const Record& record, Date now) {
    std::optional<Date> latest;
    for (const auto& id : app.desktopIDs) {
        if (const auto it = record.lastSeen.find(id);
            it != record.lastSeen.end() && plausible(it->second, now)) {
            latest = latest ? std::max(*latest, it->second) : it->second;
        }
    }
    if (latest) {
        return AppUsage::used(*latest);
    }
    std::optional<Date> changed;
    const bool readsAccessTime = app.source == AppSource::appimage || app.source == AppSource::desktop;
    if (!app.programs.empty()) {
        if (const auto times = Platform::timesOf(app.programs.front())) {
            changed = times->changed;
            const Date accessed = times->accessed;
            // Reading the file to copy or install it sets the access time too; only a later one is a use.
            if (readsAccessTime && times->accessRecorded && accessed > *changed + std::chrono::seconds(60) &&
                plausible(accessed, now)) {
                return AppUsage::used(accessed);
            }
        }
    }
    if (record.present && !app.desktopIDs.empty()) {
        return AppUsage::neverOpened(changed && plausible(*changed, now) ? changed : std::nullopt);
    }
    return AppUsage::unknown();
}

} // namespace AppUsageRecord
