// The audit log file: load, atomic save, capped append and the support report. Every operation reads or
// writes the file afresh; appends from several processes are serialised with a lock file.
#pragma once

#include "KestruneCore/Activity/ActivityEvent.h"

#include <cstddef>
#include <string>

namespace ActivityStore {

inline constexpr std::size_t maxEvents = 500;

// <application support>/Kestrune/activity.json
[[nodiscard]] std::string fileURL();

// The empty document when the file is missing or cannot be read as a whole.
[[nodiscard]] ActivityDocument load();
// Replaces the log in one step: activity.json.tmp, fsync, rename over the log, fsync the folder; a
// direct write when that fails. A log that exists but cannot be read is first moved aside to
// activity.json.unreadable (numbered when taken), so its history is never overwritten.
void save(const ActivityDocument& document);
void clear();
// Newest first; positive reclaimBytes are added to the lifetime total; at most `cap` events are kept.
ActivityDocument append(const ActivityEvent& event, std::int64_t reclaimBytes, std::size_t cap = maxEvents);

[[nodiscard]] std::string supportReport(const ActivityDocument& document, const std::string& appVersion,
                                        const std::string& build);

} // namespace ActivityStore
