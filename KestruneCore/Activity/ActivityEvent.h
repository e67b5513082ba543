// The audit log's records and their JSON form. Plain values; any thread.
#pragma once

#include "KestruneCore/Model/Dates.h"
#include "KestruneCore/Model/Uuid.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class ActivityKind { scan, reclaim, uninstall, appReset, maintenance, diskMap, error };
enum class PathDisposition { trashed, removed, evicted, failed };

namespace ActivityKinds {
[[nodiscard]] std::string_view rawValue(ActivityKind kind);
[[nodiscard]] std::optional<ActivityKind> fromRawValue(std::string_view raw);
[[nodiscard]] std::string_view rawValue(PathDisposition disposition);
[[nodiscard]] std::optional<PathDisposition> dispositionFromRawValue(std::string_view raw);
} // namespace ActivityKinds

struct ActivityPath {
    std::string path; // display form: the home folder written "~"
    std::int64_t bytes = 0;
    PathDisposition disposition = PathDisposition::trashed;
    std::optional<std::string> error;

    // "~" for the home folder itself, "~/..." inside it, anything else unchanged.
    [[nodiscard]] static std::string displayPath(const std::string& path, const std::string& home);
    [[nodiscard]] static std::string displayPath(const std::string& path);

    bool operator==(const ActivityPath&) const = default;
};

struct ActivityEvent {
    Uuid id;
    Date date;
    ActivityKind kind = ActivityKind::scan;
    std::string title;
    std::optional<std::string> detail;
    std::optional<std::int64_t> bytes;
    std::vector<ActivityPath> paths;
    std::map<std::string, std::string> meta;

    [[nodiscard]] std::string_view symbol() const;

    bool operator==(const ActivityEvent&) const = default;
};

struct ActivityDocument {
    std::int64_t version = 1;
    std::int64_t lifetimeReclaimedBytes = 0;
    std::vector<ActivityEvent> events; // newest first
};

namespace ActivityJson {

// Pretty-printed, keys sorted, dates ISO 8601 UTC without fractions; text that is not UTF-8 gets U+FFFD.
[[nodiscard]] std::string write(const ActivityDocument& document);
// All or nothing: any missing key, wrong type, bad date, UUID or raw value gives nothing. Never throws.
[[nodiscard]] std::optional<ActivityDocument> read(std::string_view text);

} // namespace ActivityJson
