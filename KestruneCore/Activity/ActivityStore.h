// The audit log file: load, atomic save, capped append and the support report. Every operation reads or
// writes the file afresh; appends from several processes are serialised with a lock file.
#pragma once

#include "KestruneCore/Activity/ActivityEvent.h"

#include <cstddef>
#include <optional>
#include <string>

namespace ActivityStore {

inline constexpr std::size_t maxEvents = 500;

// <application support>/Kestrune/activity.json
[[nodiscard]] std::string fileURL();

// The empty document when the file is missing or cannot be read as a whole.
[[nodiscard]] ActivityDocument load();
// The stored document's bytes as they are, ending in a newline; an empty document's when there is no log
// or it does not read as one.
[[nodiscard]] std::string storedText();
// Replaces the log in one step: activity.json.tmp, fsync, rename over the log, fsync the folder; the
// log is never rewritten in place. A log that was read whole but does not parse is first moved aside to
// activity.json.unreadable (numbered when taken); a log that could not be read at all (an I/O error) is
// left alone and nothing is written. Returns why the log could not be written, if it could not.
std::optional<std::string> save(const ActivityDocument& document);
std::optional<std::string> clear();
// Newest first; positive reclaimBytes are added to the lifetime total; at most `cap` events are kept.
// `problem` receives why the event could not be recorded (lock, read or write failure).
ActivityDocument append(const ActivityEvent& event, std::int64_t reclaimBytes, std::size_t cap,
                        std::optional<std::string>& problem);
ActivityDocument append(const ActivityEvent& event, std::int64_t reclaimBytes, std::size_t cap = maxEvents);

[[nodiscard]] std::string supportReport(const ActivityDocument& document, const std::string& appVersion,
                                        const std::string& build);

} // namespace ActivityStore
